// The serial trace of the real downloader: what DOWNLOADER_TRACE writes, and that nothing
// is written without it.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <set>
#include <sstream>

#include "e2e/loader_run.h"

namespace downloader::e2e {
namespace {

using namespace std::chrono_literals;
using testing::ModuleEmulator;
using testing::RunResult;
using testing::TempDir;

// The operations of `port` in the trace, without their times, threads and durations.
std::vector<std::string> Operations(const std::string& trace, const std::string& port) {
  static const std::regex line(R"(^\d+ (main|t\d+) (COM\d+) (.*?)( in \d+ us)?$)");
  std::vector<std::string> operations;
  std::istringstream lines(trace);
  std::string text;
  while (std::getline(lines, text)) {
    std::smatch m;
    EXPECT_TRUE(std::regex_match(text, m, line)) << text;
    if (m.size() > 3 && m[2] == port) operations.push_back(m[3]);
  }
  return operations;
}

std::set<std::filesystem::path> Entries(const std::filesystem::path& dir) {
  std::set<std::filesystem::path> entries;
  for (const auto& e : std::filesystem::directory_iterator(dir)) entries.insert(e.path());
  return entries;
}

TEST(SerialTrace, ShowsEveryOperationOfAWholeDownload) {
  ModuleEmulator emulator({"type=3,version=1.0,com=1"});
  TempDir dir;
  const std::string image = WriteImage(dir, StandardImage(3, {1}));
  auto env = emulator.Environment();
  env["DOWNLOADER_TRACE"] = dir.File("serial.trace");
  testing::RunOptions options;
  options.args = {"/NoPrompts", image};
  options.env = env;
  const RunResult run = testing::RunProgram(testing::BinaryPath("downloader"), options);
  EXPECT_TRUE(run.out.ends_with(Success())) << testing::Visible(run.out);

  const auto ops = Operations(testing::ReadFileBytes(dir.File("serial.trace")), "COM1");
  // One identification: the reset pulse, the purge, the code byte, its echo and the reply.
  const std::vector<std::string> identification = {"DTR on",
                                                   "BREAK on",
                                                   "DTR off",
                                                   "BREAK off",
                                                   "purge -> 0 bytes",
                                                   "write 83 (1000 ms) -> ok",
                                                   "read 1 (40 ms) -> 83",
                                                   "read 1 (40 ms) -> 83"};
  const auto probe =
      std::search(ops.begin(), ops.end(), identification.begin(), identification.end());
  ASSERT_NE(probe, ops.end()) << ::testing::PrintToString(ops);
  EXPECT_EQ(ops.front(), "open -> ok");
  EXPECT_EQ(ops[1], "configure 9600 8N1 -> ok");
  // The download's end: the closing zero, its echo, and the port closed.
  ASSERT_GE(ops.size(), 3u);
  EXPECT_EQ(
      std::vector<std::string>(ops.end() - 3, ops.end()),
      (std::vector<std::string>{"write 00 (1000 ms) -> ok", "read 1 (40 ms) -> 00", "close"}));
  const auto lines = Operations(testing::ReadFileBytes(dir.File("serial.trace")), "COM2");
  EXPECT_EQ(lines, std::vector<std::string>{"open -> error 2"});

  // A folder gets one file per port.
  TempDir folder;
  env["DOWNLOADER_TRACE"] = folder.path().string();
  options.env = env;
  testing::RunProgram(testing::BinaryPath("downloader"), options);
  EXPECT_EQ(Entries(folder.path()).size(), 4u);
  EXPECT_EQ(Operations(testing::ReadFileBytes(folder.File("port-COM3.trace")), "COM3"),
            std::vector<std::string>{"open -> error 2"});

  // Without the variable, no file where the loader runs (its own folder) or anywhere else
  // this test can see.
  const std::filesystem::path bin =
      std::filesystem::path(testing::BinaryPath("downloader")).parent_path();
  const auto before = Entries(dir.path());
  const auto binBefore = Entries(bin);
  options.env = emulator.Environment();
  options.unsetEnv = {"DOWNLOADER_TRACE"};
  EXPECT_TRUE(
      testing::RunProgram(testing::BinaryPath("downloader"), options).out.ends_with(Success()));
  EXPECT_EQ(Entries(dir.path()), before);
  EXPECT_EQ(Entries(bin), binBefore);
}

TEST(SerialTrace, RelativeNamesInTheSettingsAreThoseOfTheStartFolder) {
  // The loader makes its own folder current; a map and a trace named relative to where
  // the user stands must still be found there.
  ModuleEmulator emulator({"type=3,version=1.0,com=1"});
  TempDir dir;
  std::filesystem::create_directory_symlink(emulator.PortMapDir(), dir.path() / "ports");
  testing::RunOptions options;
  options.args = {"/NoPrompts", WriteImage(dir, StandardImage(3, {1}))};
  options.env = {{"DOWNLOADER_PORTS", "ports"}, {"DOWNLOADER_TRACE", "serial.trace"}};
  options.workingDirectory = dir.path().string();
  const RunResult run = testing::RunProgram(testing::BinaryPath("downloader"), options);
  EXPECT_TRUE(run.out.ends_with(Success())) << testing::Visible(run.out);
  const auto ops = Operations(testing::ReadFileBytes(dir.File("serial.trace")), "COM1");
  ASSERT_FALSE(ops.empty()) << "no trace where the loader was started";
  EXPECT_EQ(ops.front(), "open -> ok");
}

// The trace holds the firmware's bytes: only its user may read a new one, and it is never
// written through a link or into a FIFO (which would hold the loader for good).
TEST(SerialTrace, NeverThroughALinkOrIntoAFifo) {
  ModuleEmulator emulator({"type=3,version=1.0,com=1"});
  TempDir dir;
  const std::string secret = dir.Write("secret", "root only\n");
  TempDir folder;
  ASSERT_EQ(::mkfifo(folder.File("port-COM1.trace").c_str(), 0666), 0);
  std::filesystem::create_symlink(secret, folder.path() / "port-COM2.trace");
  testing::RunOptions options;
  options.args = {"/NoPrompts", WriteImage(dir, StandardImage(3, {1}))};
  options.env = emulator.Environment();
  options.env["DOWNLOADER_TRACE"] = folder.path().string();
  options.timeout = 20s;
  const mode_t umask = ::umask(022);
  const RunResult run = testing::RunProgram(testing::BinaryPath("downloader"), options);
  ::umask(umask);
  EXPECT_TRUE(run.out.ends_with(Success())) << testing::Visible(run.out);
  for (const auto& [port, why] :
       {std::pair<std::string, std::string>{"COM1", "it is a FIFO"}, {"COM2", "it is a link"}}) {
    EXPECT_NE(run.err.find("Cannot write the serial trace to " +
                           folder.File("port-" + port + ".trace") + ": " + why + ".\n"),
              std::string::npos)
        << run.err;
  }
  EXPECT_EQ(testing::ReadFileBytes(secret), "root only\n");
  struct stat st {};
  ASSERT_EQ(::stat(folder.File("port-COM3.trace").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace downloader::e2e
