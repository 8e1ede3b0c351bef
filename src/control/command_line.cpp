#include "control/command_line.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/file_names.h"
#include "run/exceptions.h"
#include "run/helpers.h"
#include "run/program_file.h"
#include "run/report.h"
#include "serial/globals.h"
#include "ui/window_system.h"

namespace downloader {

std::vector<std::string> ArgumentList;

namespace {

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// The index of a switch word: its cell's position in SwitchWords, 0 when not found.
int SwitchIndex(std::string_view word) {
  const std::string key = "|" + UpperAscii(word) + "|";
  const auto found = SwitchWords.find(key);
  if (found == std::string_view::npos) return 0;
  return static_cast<int>((found + 1) / 12);
}

// Switches begin with "/"; so do absolute file names here, which differ from every switch
// by a second "/" further on.
bool IsSwitch(const std::string& argument) {
  return argument[0] == '/' && argument.find('/', 1) == std::string::npos;
}

void ParseSwitch(const std::string& argument) {
  int index = SwitchIndex(argument);
  if (index == kSwitchIndexQuestion || index == kSwitchIndexHelp) {
    if (PipeMode) throw EUnavailableSwitch("/Help");
    ShowHelp();
  }
  if (index == 0 && SwitchIndex(std::string_view(argument).substr(0, 4)) == kSwitchIndexCom) {
    index = kSwitchIndexCom;
  }
  if (index == 0) throw EInvalidSwitch(argument);
  const uint16_t entry = SwitchTable[index];
  if (((entry >> 8) & SwitchBits) != 0) throw EDuplicateSwitch(argument);
  SwitchBits = static_cast<uint8_t>(SwitchBits | (entry & 0xFF));

  if (index == kSwitchIndexCom) {
    const int32_t n = ParseNumber(argument.size() > 4 ? argument.substr(4) : std::string());
    if (n < 1 || n > 99) throw EInvalidSwitch(argument);
    SelectedPort = "COM" + std::to_string(n);
    if (std::find(PortList.begin(), PortList.end(), SelectedPort) == PortList.end()) {
      PortList.push_back(SelectedPort);
    }
  }
}

// A folder is no file: the 011 line stays as described, and standard error says what the
// name is, which the quoted name alone does not tell.
void SayWhenAFolder(const std::string& argument, bool master) {
  std::vector<std::string> names = {argument};
  if (!PipeMode && !StartDirectory.empty() && PathOf(argument).is_relative()) {
    names.insert(names.begin(), NameOf(PathOf(StartDirectory) / PathOf(argument)));
  }
  for (const std::string& name : names) {
    std::error_code error;
    if (!std::filesystem::is_directory(PathOf(name), error)) continue;
    WriteReason("downloader: " + argument + " is a folder, not " +
                (master ? "a master program" : "an object file"));
    return;
  }
}

void ParseFileName(const std::string& argument) {
  if (((SwitchTable[kSwitchIndexFile] >> 8) & SwitchBits) != 0) {
    throw EDuplicateFileName(argument);
  }
  SwitchBits = static_cast<uint8_t>(SwitchBits | kSwitchFile);
  std::string extended = argument;
  if (!HasExtension(argument)) {
    extended += (FlagTable[SwitchBits & 0x7F] & kPipe) != 0 ? ".exe" : ".obj";
  }
  // Installed in a system folder, the loader's own folder is seldom where the user keeps
  // the file: a name typed on its own command line is looked up where the user stands
  // first. A master program's command lines keep the loader's folder alone.
  if (!PipeMode && !StartDirectory.empty() && PathOf(argument).is_relative()) {
    for (const std::string& name : {argument, extended}) {
      const std::string full = NameOf(PathOf(StartDirectory) / PathOf(name));
      if (FileExists(full)) {
        ObjectFileName = full;
        ObjectFileTypedName = name;
        return;
      }
    }
  }
  ObjectFileName = FileExists(argument) ? argument : extended;
  if (!FileExists(ObjectFileName)) {
    SayWhenAFolder(argument, (FlagTable[SwitchBits & 0x7F] & kPipe) != 0);
    throw EFileNotFound("'" + ObjectFileName + "'.");
  }
}

}  // namespace

void LoadCommandLine(int argc, const char* const* argv) {
  ArgumentList.clear();
  for (int i = 1; i < argc; ++i) ArgumentList.emplace_back(argv[i]);
}

void ParseArguments() {
  SelectedPort = "AUTO";
  ObjectFileName.clear();
  ObjectFileTypedName.clear();
  SwitchBits = 0;
  RunFlags = 0;
  if (ArgumentList.empty()) return;

  for (const std::string& argument : ArgumentList) {
    if (argument.empty()) continue;
    if (IsSwitch(argument)) {
      ParseSwitch(argument);
    } else {
      ParseFileName(argument);
    }
  }

  RunFlags = FlagTable[SwitchBits & 0x7F];
  if ((RunFlags & kUpdates) && !(RunFlags & kNoPrompts)) {
    throw EMissingParameter("/Updates switch requires /NoPrompts switch.");
  }
  if ((RunFlags & kNoPrompts) && WriteHandle == kInvalidHandle) {
    throw EMissingParameter("/NoPrompts switch requires redirection to an output file.");
  }
  if ((RunFlags & kGetInfo) && WriteHandle == kInvalidHandle) {
    throw EMissingParameter("/GetInfo switch requires redirection to an output file.");
  }
  if ((RunFlags & kPipe) && PipeMode) throw EUnavailableSwitch("/Pipe");
  if ((RunFlags & kPipe) && !(RunFlags & kFileGiven)) {
    throw EMissingParameter("/Pipe switch requires master_file option.");
  }
}

std::string HelpText(std::string_view programFileName) {
  const std::string program(programFileName);
  const std::string lines[] = {
      "Downloads an object code file into a compatible microcontroller.",
      std::string(78, '_'),
      "",
      program + "  {/Com#}  {/NoInfo}  {object_file}  {> output_file}",
      program + " {/Com#} /NoPrompts {/Updates} {object_file} > output_file",
      program + "  /Pipe  master_file",
      program + "  /Help",
      "",
      "object_file\t- Specifies object code file name (.obj).",
      "output_file\t- Specifies text output file name (.txt).",
      "master_file\t- Specifies master executable file name (.exe).",
      "/Com#\t\t- Specifies COM port (serial port) to download to.  # is a valid com port "
      "number.",
      "\t\t  NOTE: must be one word, ie: Com2 indicates COM port 2.",
      "/NoInfo\t\t- No Information screen display.  Program immediately downloads object "
      "file.",
      "/NoPrompts\t- No screen prompts at all.",
      "\t\t  This option requires redirection to an output file (> output_file).",
      "\t\t  Object_file parameter is optional only if object code is integrated into "
      "program.",
      "/Updates\t- Provides program slot number (if applicable) and "
      "download-percentage-complete",
      "\t\t  status updates during download.",
      "/GetInfo\t- Information section of object code file is returned and no download "
      "occurs.",
      "\t\t  This option requires redirection to an output file (> output_file).",
      "\t\t  Object_file parameter is optional only if object code is integrated into "
      "program.",
      "/Pipe\t\t- Start up master_file program and establish bi-directional communication "
      "pipes",
      "\t\t  for master-program-controlled execution.  Program remains open until",
      "\t\t  master program breaks pipe.",
      "/Help\t\t- Displays this message. /? is equivelant.",
  };
  constexpr std::size_t kLineCount = sizeof(lines) / sizeof(lines[0]);
  static_assert(kLineCount == 26);
  std::string text;
  for (std::size_t i = 0; i < kLineCount; ++i) {
    if (i > 0) text += "\r\n";
    text += lines[i];
  }
  return text;
}

void ShowHelp() {
  Windows().MessageDialog(HelpText(ProgramFileName()));
  throw EHelp("");
}

}  // namespace downloader
