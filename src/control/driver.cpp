#include "control/driver.h"

#include <filesystem>
#include <string_view>
#include <system_error>

#include "control/command_line.h"
#include "control/pipe.h"
#include "control/probe.h"
#include "control/process_object_code.h"
#include "download/download.h"
#include "platform/file_names.h"
#include "platform/system.h"
#include "run/program_file.h"
#include "run/report.h"
#include "run/standard_handles.h"
#include "serial/globals.h"
#include "serial/port_map.h"
#include "serial/serial_trace.h"
#include "ui/forms.h"
#include "ui/message_loop.h"

namespace downloader {

namespace {

const std::string kCrLf = "\r\n";

void InitStdHandles(const StandardDescriptors& standard) {
  ReadHandle = standard.input ? StandardInput() : kInvalidHandle;
  WriteHandle = standard.output ? StandardOutput() : kInvalidHandle;
}

// What people type first. The described parser would take either for a file name.
bool AnsweredConvention(int argc, const char* const* argv) {
  if (argc != 2) return false;
  const std::string_view word = argv[1];
  std::string text;
  if (word == "--help" || word == "-h") {
    for (const char c : HelpText(ProgramFileName())) {
      if (c != '\r') text += c;
    }
    text += '\n';
  } else if (word == "--version") {
    text = "downloader " DOWNLOADER_VERSION "\n";
  } else {
    return false;
  }
  WriteToHandle(StandardOutput(), text.data(), text.size());
  return true;
}

// The exit code is 0 as described; a caller that asks for it learns of an error this way.
int ExitCode() {
  const bool errorWanted = EnvironmentValue("DOWNLOADER_EXIT_STATUS") == "1";
  return errorWanted && LastStatusChannel() == kChannelError ? 1 : 0;
}

// The settings that name a folder or a file are relative to the folder the user started the
// loader in: made absolute before the loader's own folder becomes current.
void AnchorSettings(const std::filesystem::path& start) {
  for (const char* name : {kPortsVariable, kTraceVariable}) {
    const std::optional<std::string> value = EnvironmentValue(name);
    if (!value || value->empty()) continue;
    const std::filesystem::path path = PathOf(*value);
    if (path.is_relative()) SetEnvironmentValue(name, NameOf(start / path));
  }
}

void RunPipeLoop() {
  while (ReadPipeArguments()) {
    try {
      ParseArguments();
      ProcessObjectCode();
    } catch (const EFileNotFound& missing) {
      ReportError(CommandLineErrorText(missing));
    }
  }
}

}  // namespace

std::string CommandLineErrorText(const Exception& error) {
  const std::string& message = error.Message;
  if (dynamic_cast<const EInvalidSwitch*>(&error)) {
    return "001-Invalid command-line switch: '" + message + "'.";
  }
  if (dynamic_cast<const EDuplicateSwitch*>(&error)) {
    return "002-Duplicate or Conflicting command-line switch: '" + message + "'." + kCrLf +
           "This switch either:" + kCrLf + "1) appears more than once, or" + kCrLf +
           "2) is not allowed in combination with the switches appearing before it.";
  }
  if (dynamic_cast<const EUnavailableSwitch*>(&error)) {
    return "003-" + message + " switch not allowed while in Inter-Process Communication Pipe Mode.";
  }
  if (dynamic_cast<const EDuplicateFileName*>(&error)) {
    return "004-Duplicate command-line option: '" + message + "'." + kCrLf +
           "Only one input filename (object_file or master_file) is allowed.";
  }
  if (dynamic_cast<const EMissingParameter*>(&error)) {
    return "005-Missing parameter required." + kCrLf + message;
  }
  if (dynamic_cast<const EFileNotFound*>(&error)) return "011-File not found: " + message;
  if (dynamic_cast<const EPipeCreation*>(&error)) return message;
  return {};  // EHelp: the help was the answer
}

int RunDownloader(int argc, const char* const* argv, const StandardDescriptors& standard) {
  if (AnsweredConvention(argc, argv)) return 0;
  PrepareProcess();
  MarkMainThread();

  InitSerialUnit();
  if (const auto probed = AnswerProbe(argc, argv, standard)) return *probed;
  ArgumentList.clear();
  CreateForms();
  SetDownloadHandler(DownloadToDevice);

  try {
    std::error_code noDirectory;
    const std::filesystem::path start = std::filesystem::current_path(noDirectory);
    StartDirectory = NameOf(start);
    if (!start.empty()) AnchorSettings(start);
    const std::string directory = ProgramDirectory();
    std::error_code failed;
    // On failure the loader works on from the directory it was started in.
    if (!directory.empty()) std::filesystem::current_path(PathOf(directory), failed);
    InitStdHandles(standard);
    LoadCommandLine(argc, argv);
    ParseArguments();
    if (RunFlags & kPipe) {
      StartMasterProgram();
      RunPipeLoop();
    } else {
      ProcessObjectCode();
    }
  } catch (const Exception& error) {
    const std::string text = CommandLineErrorText(error);
    if (!text.empty()) ReportError(text);
  }
  ReapMasterProgram();
  return ExitCode();
}

}  // namespace downloader
