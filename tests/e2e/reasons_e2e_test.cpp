// The real downloader when something is wrong around it: a port map whose entries lead
// nowhere, modules on ports the scan does not cover, and a stop signal mid-download. The
// status lines stay as they are; the reasons go to standard error.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "e2e/loader_run.h"
#include "serial/port_lock.h"
#include "support/child_process.h"

namespace downloader::e2e {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using testing::ModuleEmulator;
using testing::RunResult;
using testing::TempDir;

// A port of 127.0.0.1 that nothing listens on (it was free a moment ago).
uint16_t FreeTcpPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);
  return ntohs(address.sin_port);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(PortReasons, EveryEntryThatLeadsNowhereIsNamedOnceWithItsCause) {
  ModuleEmulator emulator({"type=3,version=1.1,com=4"});
  const std::string map = emulator.PortMapDir();
  fs::create_symlink("/dev/ttyUSB-unplugged", map + "/COM1");
  const std::string refused = "rfc2217://127.0.0.1:" + std::to_string(FreeTcpPort());
  std::ofstream(map + "/COM2") << refused << "\n";
  std::ofstream(map + "/COM3") << "ttyUSB0\n";
  TempDir dir;
  const ImageDescription image = StandardImage(3, {1});
  // The download opens COM4 a second time, and a slot transfer for every slot: still one
  // scan line per port, and no reason for the port that works.
  const RunResult run = RunLoader(emulator, {"/NoPrompts", WriteImage(dir, image)});
  EXPECT_STATUS(run,
                (std::vector<std::string>{
                    InvalidPort("COM1"), InvalidPort("COM2"), InvalidPort("COM3"),
                    PortLine("COM4 DEVICE=Korvanetics C VERSION=v1.1 LOOPBACK=No ECHO=Yes")}),
                Downloading("COM4") + Success());
  std::vector<std::string> reasons = Lines(run.err);
  std::sort(reasons.begin(), reasons.end());
  EXPECT_EQ(reasons,
            (std::vector<std::string>{
                "downloader: cannot reach COM1: its port map entry " + map +
                    "/COM1 links to /dev/ttyUSB-unplugged, which does not exist",
                "downloader: cannot reach COM2: its port map entry " + map + "/COM2 names " +
                    refused + ", which refuses the connection: nothing listens there",
                "downloader: cannot reach COM3: its port map entry " + map +
                    "/COM3 names ttyUSB0, which is neither a device nor "
                    "rfc2217://HOST:PORT",
            }));
  ExpectHoldsImage(emulator.Stop().Com(4), image);
}

TEST(PortReasons, AMissingMapFolderAndPortsBeyondTheScan) {
  TempDir dir;
  const std::string image = WriteImage(dir, StandardImage(3, {1}));
  testing::RunOptions options;
  options.args = {"/NoPrompts", "/COM2", image};
  options.env = {{"DOWNLOADER_PORTS", dir.File("no-such-map")}};
  const RunResult missing = testing::RunProgram(testing::BinaryPath("downloader"), options);
  EXPECT_EQ(missing.exitCode, 0);
  EXPECT_EQ(missing.err, "downloader: cannot reach COM2: the port map " + dir.File("no-such-map") +
                             " named by DOWNLOADER_PORTS does not exist\n");

  // A module on COM7 is never found by a scan of COM1 to COM4: the user learns how to
  // reach it. Said once, although pipe mode would scan again for every command line.
  ModuleEmulator emulator({"type=2,com=1", "type=3,version=1.1,com=7", "type=3,com=12"});
  const RunResult run = RunLoader(emulator, {"/NoPrompts", image});
  EXPECT_STATUS(run,
                (std::vector<std::string>{
                    PortLine("COM1 DEVICE=Korvanetics B VERSION=v1.0 LOOPBACK=No ECHO=Yes"),
                    InvalidPort("COM2"), InvalidPort("COM3"), InvalidPort("COM4")}),
                Error("023-No Korvanetics C found."));
  EXPECT_EQ(run.err,
            "downloader: the scan covers COM1 to COM4; the port map also names COM7 and COM12: "
            "name the port with /COM7 to scan it\n");
  EXPECT_EQ(RunLoader(emulator, {"/NoPrompts", "/COM7", image}).err, "");
}

TEST(StopSignals, SigtermMidDownloadLeavesNoLockFileAndExits143) {
  // Paced: the download must still be going when the signal comes. An emulator starved
  // into answering late ends it first; that try tells so and runs again.
  testing::RetryWhenEmulatorLate([] {
    ModuleEmulator emulator({"type=3,version=1.1"}, {"--pace", "9600"});
    TempDir dir;
    const std::string image = WriteImage(dir, StandardImage(3, {128}));
    testing::ChildProcess loader(testing::BinaryPath("downloader"),
                                 {"/NoPrompts", "/Updates", "/COM1", image},
                                 emulator.Environment());
    std::optional<std::string> line;
    do {
      line = loader.ReadLine(10s);
    } while (line && line->find("112-SLOT=0") == std::string::npos);
    ASSERT_TRUE(line) << "the download never started";
    const std::string lock =
        LockDirectory() + "/LCK..rfc2217-127.0.0.1-" + std::to_string(emulator.Port(1).tcpPort);
    ASSERT_TRUE(fs::exists(lock));

    loader.Signal(SIGTERM);
    const std::string rest = loader.ReadToEnd(5s);
    EXPECT_EQ(loader.Wait(5s), 143);
    EXPECT_FALSE(fs::exists(lock));
    EXPECT_EQ(rest.find('\x04'), std::string::npos) << "no final line is made up";
  });
}

// An image's texts reach the terminal in the information window's console form: escape
// sequences in them (a new window title, a cleared screen, the clipboard written through
// OSC 52) are shown escaped, never acted on.
TEST(ConsoleForms, ImageTextsAreShownEscaped) {
  TempDir dir;
  ImageDescription image = StandardImage(3, {1});
  image.firmware = "Fw\x1b]0;owned\x07 1.0";
  image.notes = {
      "Clears\x1b[2J\r\nthen\x1b]52;c;cm0gLXJmIH4=\x07 \xc2\x9b"
      "0m",
      "", ""};
  testing::RunOptions options;
  options.args = {WriteImage(dir, image)};
  options.env["DOWNLOADER_PORTS"] = dir.path().string();
  const RunResult run = testing::RunProgram(testing::BinaryPath("downloader"), options);
  EXPECT_EQ(run.err.find('\x1b'), std::string::npos) << testing::Visible(run.err);
  EXPECT_EQ(run.err.find('\x07'), std::string::npos) << testing::Visible(run.err);
  EXPECT_NE(run.err.find("Firmware:     Fw\\x1B]0;owned\\x07 1.0\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("Clears\\x1B[2J\nthen\\x1B]52;c;cm0gLXJmIH4=\\x07 \\u009B0m"),
            std::string::npos)
      << run.err;
}

}  // namespace
}  // namespace downloader::e2e
