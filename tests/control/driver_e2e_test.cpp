// The real downloader binary with its standard output redirected to a file: exact bytes
// of the status lines, the dialog texts on standard error, and exit code 0.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace downloader {
namespace {

using testing::BinaryPath;
using testing::RunOptions;
using testing::RunProgram;
using testing::RunResult;
using testing::StatusLine;
using testing::Visible;

RunResult RunLoader(std::vector<std::string> args) {
  RunOptions options;
  options.args = std::move(args);
  return RunProgram(BinaryPath("downloader"), options);
}

std::string Error(const std::string& text) {
  return StatusLine("ERR:", text, true);
}

// The console error dialog: "#NNN", then the text from its fifth character, CR LF pairs as
// line breaks.
std::string Dialog(const std::string& lines) {
  return lines + "\n";
}

struct Case {
  std::vector<std::string> args;
  std::string line;
  std::string dialog;
};

TEST(DownloaderCommandLine, ErrorsAreNumberedLinesAndDialogs) {
  const std::string kDuplicateTail =
      "\r\nThis switch either:\r\n1) appears more than once, or\r\n2) is not allowed in "
      "combination with the switches appearing before it.";
  const std::string kDuplicateDialogTail =
      "\nThis switch either:\n1) appears more than once, or\n2) is not allowed in "
      "combination with the switches appearing before it.";
  const std::vector<Case> cases = {
      {{"/Bogus"},
       "001-Invalid command-line switch: '/Bogus'.",
       "#001\nInvalid command-line switch: '/Bogus'."},
      {{"/"}, "001-Invalid command-line switch: '/'.", "#001\nInvalid command-line switch: '/'."},
      {{"/COM0"},
       "001-Invalid command-line switch: '/COM0'.",
       "#001\nInvalid command-line switch: '/COM0'."},
      {{"/COM100"},
       "001-Invalid command-line switch: '/COM100'.",
       "#001\nInvalid command-line switch: '/COM100'."},
      {{"/COM3", "/COM4"},
       "002-Duplicate or Conflicting command-line switch: '/COM4'." + kDuplicateTail,
       "#002\nDuplicate or Conflicting command-line switch: '/COM4'." + kDuplicateDialogTail},
      {{"/NoInfo", "/NoPrompts"},
       "002-Duplicate or Conflicting command-line switch: '/NoPrompts'." + kDuplicateTail,
       "#002\nDuplicate or Conflicting command-line switch: '/NoPrompts'." + kDuplicateDialogTail},
      {{"/GetInfo", "/COM2"},
       "002-Duplicate or Conflicting command-line switch: '/COM2'." + kDuplicateTail,
       "#002\nDuplicate or Conflicting command-line switch: '/COM2'." + kDuplicateDialogTail},
      {{"/Updates"},
       "005-Missing parameter required.\r\n/Updates switch requires /NoPrompts switch.",
       "#005\nMissing parameter required.\n/Updates switch requires /NoPrompts switch."},
      {{"/Pipe"},
       "005-Missing parameter required.\r\n/Pipe switch requires master_file option.",
       "#005\nMissing parameter required.\n/Pipe switch requires master_file option."},
      {{"prog"}, "011-File not found: 'prog.obj'.", "#011\nFile not found: 'prog.obj'."},
      {{"prog.txt"}, "011-File not found: 'prog.txt'.", "#011\nFile not found: 'prog.txt'."},
  };
  for (const Case& c : cases) {
    const RunResult r = RunLoader(c.args);
    EXPECT_EQ(r.exitCode, 0) << c.args[0];
    EXPECT_EQ(r.out, Error(c.line)) << Visible(r.out);
    EXPECT_EQ(r.err, Dialog(c.dialog)) << r.err;
  }
}

TEST(DownloaderCommandLine, SecondFileNameNamesIt) {
  testing::TempDir dir;
  const std::string first = dir.Write("first.obj", "x");
  const RunResult r = RunLoader({first, "second.obj"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Error("004-Duplicate command-line option: 'second.obj'.\r\nOnly one input "
                         "filename (object_file or master_file) is allowed."))
      << Visible(r.out);
}

TEST(DownloaderCommandLine, NoPromptsSuppressesTheDialogOfALaterError) {
  const RunResult quiet = RunLoader({"/NoPrompts", "/Bogus"});
  EXPECT_EQ(quiet.exitCode, 0);
  EXPECT_EQ(quiet.out, Error("001-Invalid command-line switch: '/Bogus'."));
  EXPECT_EQ(quiet.err, "");
}

TEST(DownloaderCommandLine, HelpWritesNoStatusLine) {
  for (const char* help : {"/?", "/Help", "/HELP"}) {
    const RunResult r = RunLoader({help, "/Bogus"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "") << Visible(r.out);
    EXPECT_EQ(r.err.rfind("Downloads an object code file into a compatible microcontroller.\n", 0),
              0u)
        << r.err;
    EXPECT_NE(r.err.find("\ndownloader  /Help\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("/Help\t\t- Displays this message. /? is equivelant.\n"),
              std::string::npos);
  }
}

TEST(DownloaderCommandLine, NoPromptsNeedsAnOutputFile) {
  RunOptions options;
  options.args = {"/NoPrompts"};
  options.closeStdout = true;
  const RunResult r = RunProgram(BinaryPath("downloader"), options);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err,
            "#005\nMissing parameter required.\n/NoPrompts switch requires redirection to an "
            "output file.\n");

  options.args = {"/GetInfo"};
  const RunResult info = RunProgram(BinaryPath("downloader"), options);
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_EQ(info.err,
            "#005\nMissing parameter required.\n/GetInfo switch requires redirection to an "
            "output file.\n");
}

TEST(DownloaderCommandLine, RelativeNamesResolveInTheProgramsDirectory) {
  // A name relative to the loader's own folder is found wherever the loader was started;
  // the test's own temporary folder is not the loader's.
  const RunResult r = RunLoader({"downloader", "/Bogus"});
  EXPECT_EQ(r.out, Error("001-Invalid command-line switch: '/Bogus'."));
}

TEST(DownloaderConventions, HelpAndVersionOnStandardOutput) {
  for (const char* help : {"--help", "-h"}) {
    const RunResult r = RunLoader({help});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.rfind("Downloads an object code file into a compatible microcontroller.\n", 0),
              0u)
        << Visible(r.out);
    EXPECT_NE(r.out.find("\n/Help\t\t- Displays this message. /? is equivelant.\n"),
              std::string::npos)
        << Visible(r.out);
    EXPECT_EQ(r.out.find('\r'), std::string::npos);
  }
  const RunResult version = RunLoader({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "downloader " DOWNLOADER_VERSION "\n");
}

TEST(DownloaderConventions, ExitStatusOnRequestOnlyAfterAnErrorLine) {
  RunOptions options;
  options.args = {"/NoPrompts", "missing.obj"};
  EXPECT_EQ(RunProgram(BinaryPath("downloader"), options).exitCode, 0);
  options.env = {{"DOWNLOADER_EXIT_STATUS", "1"}};
  const RunResult failed = RunProgram(BinaryPath("downloader"), options);
  EXPECT_EQ(failed.exitCode, 1);
  EXPECT_EQ(failed.out, Error("011-File not found: 'missing.obj'."));
  options.args = {"/GetInfo", std::string(DOWNLOADER_EXAMPLES_DIR) + "/korvanetics_c.obj"};
  const RunResult info = RunProgram(BinaryPath("downloader"), options);
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_EQ(info.out.rfind("\x01INF:051-", 0), 0u) << Visible(info.out);
}

TEST(DownloaderConventions, AFolderOrAMasterThatCannotStartSaysWhy) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.File("images"));
  const RunResult folder = RunLoader({"/NoPrompts", dir.File("images")});
  EXPECT_EQ(folder.out, Error("011-File not found: '" + dir.File("images") + ".obj'."));
  EXPECT_EQ(folder.err, "downloader: " + dir.File("images") + " is a folder, not an object file\n");

  const std::string master = dir.Write("master", "#!/bin/sh\n");  // no execute bit
  const RunResult pipe = RunLoader({"/Pipe", master});
  EXPECT_EQ(pipe.out, Error("007-Cannot create child process."));
  EXPECT_EQ(pipe.err, "downloader: cannot start the master program " + master +
                          ": Permission denied (it needs the execute bit: chmod +x " + master +
                          ")\n#007\nCannot create child process.\n");
}

}  // namespace
}  // namespace downloader
