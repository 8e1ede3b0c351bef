#include "control/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/exceptions.h"
#include "run/report.h"
#include "serial/globals.h"
#include "support/fake_windows.h"
#include "support/temp_dir.h"

namespace downloader {
namespace {

using testing::InstallFakeWindows;
using testing::TempDir;

class CommandLine : public ::testing::Test {
 protected:
  void SetUp() override {
    InitSerialUnit();
    windows_ = &InstallFakeWindows();
    savedWrite_ = WriteHandle;
    WriteHandle = 1;  // redirected
  }
  void TearDown() override {
    WriteHandle = savedWrite_;
    PipeMode = false;
  }

  void Parse(std::vector<std::string> arguments) {
    ArgumentList = std::move(arguments);
    ParseArguments();
  }

  // The exception's message, or "" when parsing succeeded.
  template <typename E>
  std::string ParseFails(std::vector<std::string> arguments) {
    try {
      Parse(std::move(arguments));
    } catch (const E& e) {
      return e.Message;
    } catch (const Exception& other) {
      ADD_FAILURE() << "other exception: " << other.Message;
      return "<other>";
    }
    ADD_FAILURE() << "no exception";
    return "<none>";
  }

  testing::FakeWindowSystem* windows_ = nullptr;
  Handle savedWrite_ = kInvalidHandle;
  TempDir dir_;
};

TEST(FlagTable, AllowedCombinationsOnly) {
  int nonZero = 0;
  for (std::size_t i = 0; i < FlagTable.size(); ++i) {
    if (FlagTable[i] != 0) {
      ++nonZero;
      EXPECT_EQ(FlagTable[i], 2 * i) << i;
    }
  }
  EXPECT_EQ(nonZero, 22);
  EXPECT_EQ(FlagTable[13], 0x1A);
  EXPECT_EQ(FlagTable[96], 0xC0);
  EXPECT_EQ(FlagTable[77], 0x9A);
  EXPECT_EQ(FlagTable[0], 0);
  EXPECT_EQ(FlagTable[64], 0);
  EXPECT_EQ(FlagTable[6], 0);  // /NoInfo with /NoPrompts never passes the conflict masks
}

TEST_F(CommandLine, NoArguments) {
  Parse({});
  EXPECT_EQ(SelectedPort, "AUTO");
  EXPECT_EQ(ObjectFileName, "");
  EXPECT_EQ(SwitchBits, 0);
  EXPECT_EQ(RunFlags, 0);
}

TEST_F(CommandLine, SwitchesInAnyLetterCase) {
  for (const char* s : {"/noinfo", "/NoInfo", "/NOINFO"}) {
    Parse({s});
    EXPECT_EQ(RunFlags, kNoInfo) << s;
  }
}

TEST_F(CommandLine, PortSwitch) {
  Parse({"/COM3"});
  EXPECT_EQ(SelectedPort, "COM3");
  EXPECT_EQ(PortList, (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4"}));
  EXPECT_EQ(RunFlags, kPortGiven);

  Parse({"/com12"});
  EXPECT_EQ(SelectedPort, "COM12");
  Parse({"/COM03"});
  EXPECT_EQ(SelectedPort, "COM3");
  Parse({"/COM$1F"});
  EXPECT_EQ(SelectedPort, "COM31");
  Parse({"/COMX5"});
  EXPECT_EQ(SelectedPort, "COM5");
  Parse({"/COM12"});  // already listed: not appended twice
  EXPECT_EQ(PortList,
            (std::vector<std::string>{"COM1", "COM2", "COM3", "COM4", "COM12", "COM31", "COM5"}));

  Parse({});
  EXPECT_EQ(SelectedPort, "AUTO");  // reset by every parse; the list keeps its ports
  EXPECT_EQ(PortList.size(), 7u);
}

TEST_F(CommandLine, PortNumbersOutsideTheRange) {
  for (const char* s : {"/COM", "/COM0", "/COM100", "/COM-1", "/COM99999999999", "/COMX"}) {
    EXPECT_EQ(ParseFails<EInvalidSwitch>({s}), s);
  }
  Parse({"/COM99"});
  EXPECT_EQ(SelectedPort, "COM99");
}

TEST_F(CommandLine, ConflictsNameTheLaterSwitch) {
  EXPECT_EQ(ParseFails<EDuplicateSwitch>({"/COM3", "/COM4"}), "/COM4");
  EXPECT_EQ(ParseFails<EDuplicateSwitch>({"/NoInfo", "/NoPrompts"}), "/NoPrompts");
  EXPECT_EQ(ParseFails<EDuplicateSwitch>({"/NoPrompts", "/NoInfo"}), "/NoInfo");
  EXPECT_EQ(ParseFails<EDuplicateSwitch>({"/GetInfo", "/COM2"}), "/COM2");
  EXPECT_EQ(ParseFails<EDuplicateSwitch>({"/Pipe", "/GetInfo"}), "/GetInfo");
  EXPECT_EQ(ParseFails<EDuplicateSwitch>({"/updates", "/UPDATES"}), "/UPDATES");
}

TEST_F(CommandLine, RunFlagsAndRequirementRules) {
  Parse({"/NoPrompts", "/Updates"});
  EXPECT_EQ(RunFlags, 0x18);
  Parse({"/COM2", "/NoPrompts", "/Updates"});
  EXPECT_EQ(RunFlags, 0x1A);

  EXPECT_EQ(ParseFails<EMissingParameter>({"/Updates"}),
            "/Updates switch requires /NoPrompts switch.");
  EXPECT_EQ(ParseFails<EMissingParameter>({"/Pipe"}), "/Pipe switch requires master_file option.");

  WriteHandle = kInvalidHandle;
  EXPECT_EQ(ParseFails<EMissingParameter>({"/NoPrompts"}),
            "/NoPrompts switch requires redirection to an output file.");
  EXPECT_EQ(ParseFails<EMissingParameter>({"/GetInfo"}),
            "/GetInfo switch requires redirection to an output file.");
  EXPECT_EQ(ParseFails<EMissingParameter>({"/Updates"}),
            "/Updates switch requires /NoPrompts switch.");
  EXPECT_EQ(RunFlags, kUpdates);  // the rules run after RunFlags is set
}

TEST_F(CommandLine, InvalidSwitches) {
  EXPECT_EQ(ParseFails<EInvalidSwitch>({"/Bogus"}), "/Bogus");
  EXPECT_EQ(ParseFails<EInvalidSwitch>({"/"}), "/");
  EXPECT_EQ(ParseFails<EInvalidSwitch>({"/ObjMstFile"}), "/ObjMstFile");
  // Stops at the first error: the help after it is never reached.
  EXPECT_EQ(ParseFails<EInvalidSwitch>({"/Bogus", "/?"}), "/Bogus");
  EXPECT_TRUE(windows_->messageDialogs.empty());
}

TEST_F(CommandLine, StateAfterAnErrorKeepsWhatWasSeen) {
  ParseFails<EInvalidSwitch>({"/NoPrompts", "/Bogus"});
  EXPECT_EQ(SwitchBits, kSwitchNoPrompts);
  EXPECT_EQ(RunFlags, 0);
  ParseFails<EInvalidSwitch>({"/COM0"});
  EXPECT_EQ(SwitchBits, kSwitchCom);
}

TEST_F(CommandLine, HelpShowsTheTextAndEnds) {
  ParseFails<EHelp>({"/?", "/Bogus"});
  ASSERT_EQ(windows_->messageDialogs.size(), 1u);
  EXPECT_EQ(windows_->messageDialogs[0].substr(0, 64),
            "Downloads an object code file into a compatible microcontroller.");
  ParseFails<EHelp>({"/help"});
  EXPECT_EQ(windows_->messageDialogs.size(), 2u);
}

TEST_F(CommandLine, PipeModeRefusesHelpAndPipe) {
  PipeMode = true;
  EXPECT_EQ(ParseFails<EUnavailableSwitch>({"/?"}), "/Help");
  EXPECT_EQ(ParseFails<EUnavailableSwitch>({"/HELP"}), "/Help");
  const std::string master = dir_.Write("master", "x");
  EXPECT_EQ(ParseFails<EUnavailableSwitch>({"/Pipe", master}), "/Pipe");
  // The file checks of the same command line come first.
  EXPECT_EQ(ParseFails<EFileNotFound>({"/Pipe", dir_.File("missing")}),
            "'" + dir_.File("missing") + ".exe'.");
  EXPECT_TRUE(windows_->messageDialogs.empty());
}

TEST_F(CommandLine, FileNamesAndDefaultExtensions) {
  const std::string prog = dir_.Write("prog.obj", "x");
  Parse({dir_.File("prog")});
  EXPECT_EQ(ObjectFileName, prog);
  EXPECT_EQ(SwitchBits, kSwitchFile);
  EXPECT_EQ(RunFlags, 0);  // a file name alone

  const std::string bare = dir_.Write("bare", "x");
  Parse({bare});  // exists as given: not extended
  EXPECT_EQ(ObjectFileName, bare);

  EXPECT_EQ(ParseFails<EFileNotFound>({dir_.File("missing")}),
            "'" + dir_.File("missing") + ".obj'.");
  EXPECT_EQ(ParseFails<EFileNotFound>({dir_.File("prog.txt")}), "'" + dir_.File("prog.txt") + "'.");
  EXPECT_EQ(ParseFails<EFileNotFound>({dir_.File("prog.")}), "'" + dir_.File("prog.") + "'.");
  // Master named before /Pipe is tried with ".obj", after /Pipe with ".exe".
  EXPECT_EQ(ParseFails<EFileNotFound>({dir_.File("m"), "/Pipe"}), "'" + dir_.File("m") + ".obj'.");
  const std::string master = dir_.Write("m.exe", "x");
  Parse({"/Pipe", dir_.File("m")});
  EXPECT_EQ(ObjectFileName, master);
  EXPECT_EQ(RunFlags, kPipe | kFileGiven);
  // A full stop in a directory name is not an extension.
  std::filesystem::create_directory(dir_.path() / "v1.2");
  const std::string inDotted = dir_.Write("v1.2/image.obj", "x");
  Parse({dir_.File("v1.2/image")});
  EXPECT_EQ(ObjectFileName, inDotted);
  // A directory is not a file.
  EXPECT_EQ(ParseFails<EFileNotFound>({dir_.File("v1.2")}), "'" + dir_.File("v1.2") + "'.");
}

TEST_F(CommandLine, AbsoluteFileNamesAreNotSwitches) {
  EXPECT_EQ(ParseFails<EFileNotFound>({"/no/such/prog"}), "'/no/such/prog.obj'.");
  EXPECT_EQ(ParseFails<EInvalidSwitch>({"/prog.obj"}), "/prog.obj");
}

TEST_F(CommandLine, SecondFileNameIsRefused) {
  const std::string a = dir_.Write("a.obj", "x");
  EXPECT_EQ(ParseFails<EDuplicateFileName>({a, "other"}), "other");
  EXPECT_EQ(ParseFails<EDuplicateFileName>({dir_.File("a"), a}), a);
}

TEST_F(CommandLine, EmptyArgumentsAreSkipped) {
  Parse({"", "/NoInfo", ""});
  EXPECT_EQ(RunFlags, kNoInfo);
}

TEST(HelpText, Golden) {
  const std::string expected =
      "Downloads an object code file into a compatible microcontroller.\r\n"
      "______________________________________________________________________________\r\n"
      "\r\n"
      "dl.exe  {/Com#}  {/NoInfo}  {object_file}  {> output_file}\r\n"
      "dl.exe {/Com#} /NoPrompts {/Updates} {object_file} > output_file\r\n"
      "dl.exe  /Pipe  master_file\r\n"
      "dl.exe  /Help\r\n"
      "\r\n"
      "object_file\t- Specifies object code file name (.obj).\r\n"
      "output_file\t- Specifies text output file name (.txt).\r\n"
      "master_file\t- Specifies master executable file name (.exe).\r\n"
      "/Com#\t\t- Specifies COM port (serial port) to download to.  # is a valid com port "
      "number.\r\n"
      "\t\t  NOTE: must be one word, ie: Com2 indicates COM port 2.\r\n"
      "/NoInfo\t\t- No Information screen display.  Program immediately downloads object "
      "file.\r\n"
      "/NoPrompts\t- No screen prompts at all.\r\n"
      "\t\t  This option requires redirection to an output file (> output_file).\r\n"
      "\t\t  Object_file parameter is optional only if object code is integrated into "
      "program.\r\n"
      "/Updates\t- Provides program slot number (if applicable) and "
      "download-percentage-complete\r\n"
      "\t\t  status updates during download.\r\n"
      "/GetInfo\t- Information section of object code file is returned and no download "
      "occurs.\r\n"
      "\t\t  This option requires redirection to an output file (> output_file).\r\n"
      "\t\t  Object_file parameter is optional only if object code is integrated into "
      "program.\r\n"
      "/Pipe\t\t- Start up master_file program and establish bi-directional communication "
      "pipes\r\n"
      "\t\t  for master-program-controlled execution.  Program remains open until\r\n"
      "\t\t  master program breaks pipe.\r\n"
      "/Help\t\t- Displays this message. /? is equivelant.";
  EXPECT_EQ(HelpText("dl.exe"), expected);
}

}  // namespace
}  // namespace downloader
