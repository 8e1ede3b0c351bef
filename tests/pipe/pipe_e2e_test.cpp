// Pipe mode end to end: the real downloader starts a scripted master program and serves
// the command lines it sends; the master records every reply byte for byte.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/run_process.h"
#include "support/temp_dir.h"

namespace downloader {
namespace {

using testing::BinaryPath;
using testing::ReadFileBytes;
using testing::RunOptions;
using testing::RunProgram;
using testing::RunResult;
using testing::StatusLine;
using testing::TempDir;
using testing::Visible;

struct MasterRun {
  RunResult loader;
  nlohmann::json log;  // {"replies": [...], "end": "eof"|"timeout"|null, "after": "..."}
};

class PipeMode : public ::testing::Test {
 protected:
  // Each run gets a folder of its own for its master and log.
  std::string RunFolder() {
    const std::string folder = dir_.File("run" + std::to_string(++runs_));
    std::filesystem::create_directory(folder);
    return folder;
  }

  std::string InstallMaster(const std::string& folder) {
    const std::string master = folder + "/master";
    std::filesystem::copy_file(
        std::string(DOWNLOADER_SOURCE_DIR) + "/tests/pipe/scripted_master.py", master);
    ::chmod(master.c_str(), 0755);
    return master;
  }

  MasterRun Serve(const std::vector<std::string>& commands, const std::string& end = "close",
                  std::vector<std::string> extraArgs = {}) {
    const std::string folder = RunFolder();
    const std::string master = InstallMaster(folder);
    const std::string log = folder + "/master.log";
    RunOptions options;
    options.args = {"/Pipe", master};
    options.args.insert(options.args.end(), extraArgs.begin(), extraArgs.end());
    options.env["MASTER_COMMANDS"] = nlohmann::json(commands).dump();
    options.env["MASTER_LOG"] = log;
    options.env["MASTER_END"] = end;
    MasterRun run;
    run.loader = RunProgram(BinaryPath("downloader"), options);
    // The master may still be finishing its log after the loader has gone.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (!std::filesystem::exists(log) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string text = ReadFileBytes(log);
    if (!text.empty()) run.log = nlohmann::json::parse(text);
    return run;
  }

  static std::string Reply(const MasterRun& run, std::size_t i) {
    const auto& replies = run.log.at("replies");
    return i < replies.size() ? replies[i].get<std::string>() : std::string("<none>");
  }

  TempDir dir_;
  int runs_ = 0;
};

std::string Error(const std::string& text) {
  return StatusLine("ERR:", text, true);
}

// Replies come back as latin-1 text; the status lines here are plain ASCII.

TEST_F(PipeMode, MissingFileIsAnsweredAndTheNextCommandServed) {
  const MasterRun run = Serve({"missing.obj", "  missing.obj  ", "prog.obj\r\n", "/COM0"});
  EXPECT_EQ(run.loader.exitCode, 0);
  EXPECT_EQ(run.loader.out, "") << "status lines go to the master only";
  EXPECT_EQ(Reply(run, 0), Error("011-File not found: 'missing.obj'."));
  EXPECT_EQ(Reply(run, 1), Error("011-File not found: 'missing.obj'."));
  EXPECT_EQ(Reply(run, 2), Error("011-File not found: 'prog.obj\r\n'.")) << Visible(Reply(run, 2));
  EXPECT_EQ(Reply(run, 3), Error("001-Invalid command-line switch: '/COM0'."));
  EXPECT_EQ(run.log["end"], "eof") << "the loader ended after 001";
  EXPECT_EQ(run.log["after"], "");
}

TEST_F(PipeMode, InformationLineReachesTheMaster) {
  const std::string image = std::string(DOWNLOADER_BIN_DIR) + "/../examples/korvanetics_c.obj";
  RunOptions direct;
  direct.args = {"/GetInfo", image};
  const RunResult expected = RunProgram(BinaryPath("downloader"), direct);
  ASSERT_EQ(expected.out.rfind("\x01INF:051-COMPANY=Veltrana, Inc. PRODUCT=Korvanetics C ", 0), 0u)
      << Visible(expected.out);

  const MasterRun run = Serve({"/GetInfo " + image, "  /GetInfo\t" + image + "  "});
  EXPECT_EQ(run.loader.exitCode, 0);
  EXPECT_EQ(Reply(run, 0), expected.out) << Visible(Reply(run, 0));
  EXPECT_EQ(Reply(run, 1), expected.out) << Visible(Reply(run, 1));
  EXPECT_EQ(run.log["end"], "eof");
}

TEST_F(PipeMode, BlankCommandLineRunsAsARunWithoutArguments) {
  // No image of its own, no display and no terminal: the open-file question is cancelled.
  const MasterRun run = Serve({" \t ", "/COM0"});
  EXPECT_EQ(Reply(run, 0), StatusLine("EVT:", "041-User cancelled open-file dialog.", true))
      << Visible(Reply(run, 0));
  EXPECT_EQ(Reply(run, 1), Error("001-Invalid command-line switch: '/COM0'."));
}

TEST_F(PipeMode, HelpAndPipeAreUnavailable) {
  const std::string kHelp =
      "003-/Help switch not allowed while in Inter-Process Communication Pipe Mode.";
  const std::string kPipe =
      "003-/Pipe switch not allowed while in Inter-Process Communication Pipe Mode.";
  for (const auto& [command, line] : std::vector<std::pair<std::string, std::string>>{
           {"/Help", kHelp}, {"/?", kHelp}, {"/pipe", kPipe}}) {
    const MasterRun run = Serve({command, "/GetInfo"});
    EXPECT_EQ(run.loader.exitCode, 0);
    EXPECT_EQ(Reply(run, 0), Error(line)) << command;
    // The loader has ended: the second command gets no answer, the master sees end of file.
    EXPECT_EQ(Reply(run, 1), "") << command;
    EXPECT_EQ(run.log["end"], "eof") << command;
  }
}

TEST_F(PipeMode, MasterClosingItsEndEndsTheLoaderQuietly) {
  const MasterRun run = Serve({});
  EXPECT_EQ(run.loader.exitCode, 0);
  EXPECT_FALSE(run.loader.timedOut);
  EXPECT_EQ(run.loader.out, "");
  EXPECT_EQ(run.log["end"], "eof");
  EXPECT_EQ(run.log["after"], "");
}

TEST_F(PipeMode, MasterThatExitsEndsTheLoader) {
  const MasterRun run = Serve({"nothing.obj"}, "exit");
  EXPECT_EQ(run.loader.exitCode, 0);
  EXPECT_FALSE(run.loader.timedOut);
  EXPECT_EQ(Reply(run, 0), Error("011-File not found: 'nothing.obj'."));
}

TEST_F(PipeMode, MasterThatCannotBeStarted) {
  const std::string notExecutable = dir_.Write("master.exe", "#!/bin/sh\nexit 0\n");
  RunOptions options;
  options.args = {"/Pipe", notExecutable};
  RunResult r = RunProgram(BinaryPath("downloader"), options);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, Error("007-Cannot create child process.")) << Visible(r.out);

  // Executable, but not a program.
  const std::string notAProgram = dir_.Write("junk",
                                             "\x7f"
                                             "garbage");
  ::chmod(notAProgram.c_str(), 0755);
  options.args = {"/Pipe", notAProgram};
  r = RunProgram(BinaryPath("downloader"), options);
  EXPECT_EQ(r.out, Error("007-Cannot create child process.")) << Visible(r.out);

  // Named without extension and /Pipe first: ".exe" is tried.
  options.args = {"/Pipe", dir_.File("master")};
  r = RunProgram(BinaryPath("downloader"), options);
  EXPECT_EQ(r.out, Error("007-Cannot create child process.")) << Visible(r.out);
}

}  // namespace
}  // namespace downloader
