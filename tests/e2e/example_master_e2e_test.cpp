// The example master programs: master.py and its C++ twin (the one Windows can start) drive
// the same requests through the real downloader and print the same on standard error.

#include <gtest/gtest.h>

#include <string>

#include "e2e/loader_run.h"

namespace downloader::e2e {
namespace {

using testing::ModuleEmulator;
using testing::RunOptions;
using testing::RunResult;
using testing::TempDir;

RunResult ServeMaster(const ModuleEmulator& emulator, const std::string& master,
                      const std::string& image) {
  RunOptions options;
  options.args = {"/Pipe", master};
  options.env = emulator.Environment();
  options.env["IMAGE"] = image;
  options.timeout = std::chrono::seconds(30);
  return testing::RunProgram(testing::BinaryPath("downloader"), options);
}

TEST(ExampleMasters, ThePythonAndTheCxxMasterDoTheSame) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  ImageDescription image = StandardImage(3, {2});
  image.notes[0] = "First line\r\nsecond line";
  const std::string file = WriteImage(dir, image);
  const RunResult python = ServeMaster(
      emulator, std::string(DOWNLOADER_SOURCE_DIR) + "/examples/master/master.py", file);
  EXPECT_EQ(python.exitCode, 0) << python.err;
  ExpectHoldsImage(emulator.Snapshot().Com(1), image);
  // A status line's own line break stays inside its line, indented.
  EXPECT_NE(python.err.find("First line\n      second line"), std::string::npos) << python.err;
  EXPECT_NE(python.err.find("master> /NoPrompts /Updates " + file + "\n"), std::string::npos);
  EXPECT_NE(python.err.find("\n  EVT: 044-Download successful!\n"), std::string::npos)
      << python.err;

  const RunResult cxx = ServeMaster(emulator, EXAMPLE_MASTER, file);
  EXPECT_EQ(cxx.exitCode, 0) << cxx.err;
  EXPECT_EQ(WithRunsSorted(cxx.err, "  INF: 111-"), WithRunsSorted(python.err, "  INF: 111-"));
}

}  // namespace
}  // namespace downloader::e2e
