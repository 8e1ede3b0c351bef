// module-emulator as a program: its command line, start-up lines, port map, dump, pacing,
// and how it treats its clients.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "serial/globals.h"
#include "serial/serial.h"
#include "support/child_process.h"
#include "support/emulator_fixture.h"
#include "support/other_user.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace downloader {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

int Connect(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Reads until the peer closes or `limit` passes; true when it closed.
bool ClosedWithin(int fd, std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  char buffer[256];
  while (Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10) > 0 && ::recv(fd, buffer, sizeof buffer, 0) <= 0) return true;
  }
  return false;
}

bool Open(TSerial& port, const std::string& name) {
  return port.OpenPort(name, "9600", "None", "8", "Off", false);
}

TEST(EmulatorProgram, AnnouncesItsModulesAndWritesThePortMap) {
  testing::ModuleEmulator emulator(
      {"type=2", "type=3,version=1.2,com=5", "type=6,variant=24,version=1.3"});
  const auto& ports = emulator.Ports();
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].name, "COM1");
  EXPECT_EQ(ports[0].type, 2);
  EXPECT_EQ(ports[0].version, "1.0");
  EXPECT_EQ(ports[1].name, "COM5");
  EXPECT_EQ(ports[1].version, "1.2");
  EXPECT_EQ(ports[2].name, "COM3");
  EXPECT_EQ(ports[2].type, 6);
  EXPECT_EQ(ports[2].version, "1.3");
  for (const auto& port : ports) {
    EXPECT_EQ(port.url, "rfc2217://127.0.0.1:" + std::to_string(port.tcpPort));
    const std::string entry = testing::ReadFileBytes(emulator.PortMapDir() + "/" + port.name);
    EXPECT_EQ(entry.substr(0, entry.find('\n') + 1), port.url + "\n");
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(emulator.PortMapDir()),
                          std::filesystem::directory_iterator()),
            3);
}

TEST(EmulatorProgram, RefusesBadCommandLines) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"--module", "type=9"},
           {"--module"},
           {"--module", "type=3", "--pace", "fast"},
           {"--module", "type=3,com=2", "--module", "type=4,com=2"},
           {"--module", "type=3", "--operator", "5-2"},
           {"--module", "type=3", "--operator", "1"},
           {"--frobnicate"}}) {
    testing::RunOptions options;
    options.args = args;
    options.timeout = 10s;
    const auto result = testing::RunProgram(testing::BinaryPath("module-emulator"), options);
    EXPECT_EQ(result.exitCode, 2) << result.err;
    EXPECT_NE(result.err.find("usage: module-emulator"), std::string::npos);
    EXPECT_EQ(result.out, "");
  }
}

TEST(EmulatorProgram, WritesItsDumpOnSigintAndOnRequest) {
  testing::TempDir dir;
  const std::string dump = dir.File("dump.json");
  testing::ChildProcess emulator(testing::BinaryPath("module-emulator"),
                                 {"--module", "type=4", "--dump", dump});
  ASSERT_TRUE(emulator.ReadLine(5s));
  ASSERT_EQ(emulator.ReadLine(5s), "ready");
  emulator.Signal(SIGUSR1);
  EXPECT_EQ(emulator.ReadLine(5s), "dumped");
  EXPECT_NE(testing::ReadFileBytes(dump).find("\"type\": 4"), std::string::npos);
  ::unlink(dump.c_str());
  emulator.Signal(SIGINT);
  EXPECT_EQ(emulator.Wait(5s), 0);
  EXPECT_NE(testing::ReadFileBytes(dump).find("\"modules\""), std::string::npos);
}

TEST(EmulatorProgram, PacesBytesAtTheLinesByteTimeAndDelaysStatus) {
  InitSerialUnit();
  testing::ModuleEmulator paced({"type=3"}, {"--pace", "9600"});
  testing::ModuleEmulator slow({"type=3,statusdelay=150"});
  TSerial port;
  std::vector<uint8_t> bytes(96, 0x55);
  {
    testing::ScopedEnv env("DOWNLOADER_PORTS", paced.PortMapDir());
    ASSERT_TRUE(Open(port, "COM1"));
    const auto start = Clock::now();
    ASSERT_TRUE(port.WriteBuffer(bytes.data(), 96, 1000));
    int got = 0;
    while (got < 96 && MsSince(start) < 2000) got += port.ReadBlock(96 - got, 500);
    EXPECT_EQ(got, 96);
    EXPECT_GE(MsSince(start), 99);  // 96 bytes of 1.0417 ms
    EXPECT_LT(MsSince(start), 400);
    port.Close();
  }
  testing::ScopedEnv env("DOWNLOADER_PORTS", slow.PortMapDir());
  ASSERT_TRUE(Open(port, "COM1"));
  port.SetBreak(true);
  port.SetBreak(false);
  ASSERT_TRUE(port.WriteByte(0x83, 1000));
  EXPECT_EQ(port.ReadBlock(2, 100), 2);
  ASSERT_TRUE(port.WriteByte(0, 1000));
  EXPECT_EQ(port.ReadBlock(1, 100), 1);
  ASSERT_TRUE(port.WriteBuffer(bytes.data(), 18, 1000));
  EXPECT_EQ(port.ReadBlock(18, 1000), 18);
  EXPECT_EQ(port.ReadByte(40), -1);  // the loader's 40 ms is too short for this module
  EXPECT_EQ(port.ReadByte(300), 0);
}

TEST(EmulatorProgram, ServesOneClientAtATimeAndSurvivesVanishingOnes) {
  InitSerialUnit();
  testing::ModuleEmulator emulator({"type=3"});
  testing::ScopedEnv env("DOWNLOADER_PORTS", emulator.PortMapDir());
  const uint16_t tcpPort = emulator.Port(1).tcpPort;
  // Clients that vanish: one mid-negotiation, one reset by the kernel.
  for (int round = 0; round < 2; ++round) {
    const int fd = Connect(tcpPort);
    ASSERT_GE(fd, 0);
    if (round == 1) {
      const linger hard{1, 0};
      ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    }
    ::send(fd, "\xff\xfa\x2c", 3, MSG_NOSIGNAL);
    ::close(fd);
  }
  TSerial port;
  ASSERT_TRUE(Open(port, "COM1"));
  // A second client while the first is served is turned away after a while.
  const int second = Connect(tcpPort);
  ASSERT_GE(second, 0);
  const auto start = Clock::now();
  EXPECT_TRUE(ClosedWithin(second, 3s));
  EXPECT_GE(MsSince(start), 300);
  ::close(second);
  EXPECT_TRUE(port.WriteByte(0x41, 1000));
  EXPECT_EQ(port.ReadByte(200), 0x41);
  port.Close();
  // One that comes right after the first has left is served.
  ASSERT_TRUE(Open(port, "COM1"));
  port.Close();
  EXPECT_EQ(emulator.Stop().Com(1).connections, 4);  // the one turned away was never served
}

TEST(EmulatorProgram, TimesEachConnectionOnOneClockForAllModules) {
  InitSerialUnit();
  testing::ModuleEmulator emulator({"type=3", "type=4"});
  testing::ScopedEnv env("DOWNLOADER_PORTS", emulator.PortMapDir());
  TSerial first, second;
  ASSERT_TRUE(Open(first, "COM1"));
  std::this_thread::sleep_for(100ms);
  ASSERT_TRUE(first.WriteByte(0x41, 1000));
  ASSERT_EQ(first.ReadByte(500), 0x41);  // so the module has heard it
  first.Close();
  ASSERT_TRUE(Open(second, "COM2"));
  const auto during = emulator.Snapshot();
  second.Close();
  const auto dump = emulator.Stop();

  ASSERT_EQ(during.Com(2).sessions.size(), 1u);
  EXPECT_EQ(during.Com(2).sessions[0].closed, -1) << "still served";
  ASSERT_EQ(dump.Com(1).sessions.size(), 1u);
  ASSERT_EQ(dump.Com(2).sessions.size(), 1u);
  const auto& a = dump.Com(1).sessions[0];
  const auto& b = dump.Com(2).sessions[0];
  EXPECT_GE(a.lastInput - a.opened, 100'000) << "the byte came 100 ms after the opening";
  EXPECT_GE(a.closed, a.lastInput);
  EXPECT_GE(b.opened, a.lastInput) << "COM2 was opened after COM1 had heard its last byte";
  EXPECT_GE(b.closed, b.lastInput);
  EXPECT_GE(b.lastInput, b.opened);
}

// What the module on an open port answers to a reset and one byte: its echo and answer.
std::vector<int> Answer(TSerial& port, uint8_t code) {
  port.SetBreak(true);
  port.SetBreak(false);
  port.WriteByte(code, 1000);
  return {port.ReadByte(100), port.ReadByte(100)};
}

TEST(EmulatorFixtures, ModulesArePluggedAndUnpluggedOnCommand) {
  InitSerialUnit();
  testing::ModuleEmulator emulator({"type=3,version=1.1,com=3"});
  testing::ScopedEnv env("DOWNLOADER_PORTS", emulator.PortMapDir());
  EXPECT_EQ(emulator.Command("plug 3"), "error: COM3 holds a module: unplug it first");
  EXPECT_EQ(emulator.Command("unplug 3"), "COM3 unplugged");
  EXPECT_EQ(emulator.Command("unplug 3"), "error: COM3 is empty");
  EXPECT_EQ(emulator.Command("unplug 4"), "error: there is no fixture COM4");
  EXPECT_EQ(emulator.Command("plug 3 type=9"), "error: type=9: bad item 'type=9'");
  EXPECT_EQ(emulator.Command("plug 3 type=4,com=5"),
            "error: type=4,com=5: a plugged module keeps its fixture's com and port");
  EXPECT_EQ(emulator.Command("eject 3"),
            "error: 'eject 3' is not a command: plug N [SPEC] or unplug N");

  // The adapter stays while the fixture is empty: the port opens, nothing answers.
  TSerial port;
  ASSERT_TRUE(Open(port, "COM3"));
  EXPECT_EQ(Answer(port, 0x83), (std::vector<int>{-1, -1}));
  EXPECT_EQ(emulator.Command("plug 3 type=4,version=1.2"), "COM3 plugged type=4 version=1.2");
  EXPECT_EQ(Answer(port, 0x87), (std::vector<int>{0x87, 0x89})) << "the new module, at once";
  port.Close();
  EXPECT_EQ(emulator.Command("unplug 3"), "COM3 unplugged");
  EXPECT_EQ(emulator.Command("plug 3"), "COM3 plugged type=3 version=1.1") << "the fixture's own";

  const auto dump = emulator.Stop();
  const auto& units = dump.Com(3).units;
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[0].type, 3);
  EXPECT_GE(units[0].removed, units[0].plugged);
  EXPECT_EQ(units[1].version, "1.2");
  EXPECT_EQ(units[2].removed, -1);
  EXPECT_TRUE(dump.Com(3).plugged);
}

TEST(EmulatorFixtures, TheOperatorPlugsIntoEmptyFixturesAndTakesFlashedModulesOut) {
  testing::TempDir dir;
  const std::string image = dir.File("one.obj");
  {
    testing::RunOptions make;
    dir.Write("one.json", R"({"target_device": 3, "company": "Test", "firmware": "one",
        "compile_time": "2026-01-01T12:00:00",
        "slots": [{"packets": ["00112233445566778899aabbccddeeff0011"]}]})");
    make.args = {"make", dir.File("one.json"), "-o", image};
    ASSERT_EQ(testing::RunProgram(testing::BinaryPath("objtool"), make).exitCode, 0);
  }
  testing::ModuleEmulator emulator({"type=3,version=1.1"}, {"--operator", "0.2-0.3"});
  EXPECT_FALSE(emulator.Snapshot().Com(1).plugged) << "an operator's fixtures start empty";
  const auto plugged = Clock::now();
  while (!emulator.Snapshot().Com(1).plugged && MsSince(plugged) < 3000) {
    std::this_thread::sleep_for(20ms);
  }
  testing::RunOptions load;
  load.args = {"/COM1", "/NoPrompts", image};
  load.env = emulator.Environment();
  load.timeout = 10s;
  const auto run = testing::RunProgram(testing::BinaryPath("downloader"), load);
  ASSERT_NE(run.out.find("044-Download successful!"), std::string::npos) << run.out;
  std::this_thread::sleep_for(
      1000ms);  // taken out after 0.2 to 0.3 s, a fresh one in as long after

  const auto dump = emulator.Stop();
  const auto& units = dump.Com(1).units;
  ASSERT_GE(units.size(), 2u);
  ASSERT_EQ(units[0].downloads.size(), 1u);
  const auto& download = units[0].downloads[0];
  EXPECT_EQ(download.packets, 1);
  EXPECT_GE(download.firstData, download.opened);
  EXPECT_EQ(units[0].checks, 1) << "the loader's scan, before its download";
  const int64_t handled = units[0].removed - download.closed;
  EXPECT_GE(handled, 200'000);
  EXPECT_LE(handled, 450'000);
  EXPECT_GE(units[1].plugged - units[0].removed, 200'000);
  EXPECT_EQ(units[1].downloads.size(), 0u);
  EXPECT_EQ(units[0].slots.at(0).acknowledged.size(), 1u);
}

// The PID of a process that has ended.
pid_t DeadPid() {
  testing::ChildProcess gone("/bin/true", {});
  const pid_t pid = gone.pid();
  gone.Wait(5s);
  return pid;
}

std::string Entry(const std::string& map, int com) {
  return testing::ReadFileBytes(map + "/COM" + std::to_string(com));
}

TEST(EmulatorPortMap, EntriesLeadToServedModulesOnlyAndGoAtTheEnd) {
  testing::TempDir dir;
  const std::string map = dir.File("ports");
  std::filesystem::create_directories(map);
  const std::string stale =
      "rfc2217://127.0.0.1:1\nmodule-emulator " + std::to_string(DeadPid()) + "\n";
  std::ofstream(map + "/COM1") << stale;
  std::ofstream(map + "/COM3") << "/dev/ttyUSB0\n";  // the user's own: kept

  testing::ChildProcess emulator(testing::BinaryPath("module-emulator"),
                                 {"--module", "type=3", "--module", "type=4", "--port-map", map});
  const std::string mine = "module-emulator " + std::to_string(emulator.pid()) + "\n";
  // Until "ready", an entry of this emulator is there only if its module answers.
  std::optional<std::string> line;
  for (;;) {
    for (int com : {1, 2}) {
      const std::string entry = Entry(map, com);
      if (entry.ends_with(mine)) {
        const int fd =
            Connect(static_cast<uint16_t>(std::stoi(entry.substr(entry.rfind(':') + 1))));
        EXPECT_GE(fd, 0) << entry;
        if (fd >= 0) ::close(fd);
      } else {
        EXPECT_TRUE(entry.empty() || entry == stale) << entry;
      }
    }
    if (line == "ready") break;
    line = emulator.ReadLine(10ms);
  }
  EXPECT_TRUE(Entry(map, 1).ends_with(mine));
  EXPECT_TRUE(Entry(map, 2).ends_with(mine));

  // A second emulator keeps off the first one's entries and the user's.
  for (const char* com : {"com=2", "com=3"}) {
    testing::RunOptions second;
    second.args = {"--module", std::string("type=2,") + com, "--port-map", map};
    second.timeout = 10s;
    const auto refused = testing::RunProgram(testing::BinaryPath("module-emulator"), second);
    EXPECT_EQ(refused.exitCode, 1) << com;
    EXPECT_NE(refused.err.find(com[4] == '2' ? "still runs" : "not an entry of module-emulator"),
              std::string::npos)
        << refused.err;
  }
  EXPECT_TRUE(Entry(map, 2).ends_with(mine));

  emulator.Signal(SIGTERM);
  EXPECT_EQ(emulator.Wait(5s), 0);
  EXPECT_FALSE(std::filesystem::exists(map + "/COM1"));
  EXPECT_FALSE(std::filesystem::exists(map + "/COM2"));
  EXPECT_EQ(Entry(map, 3), "/dev/ttyUSB0\n");
}

// An entry written by hand for a local server (the form of the example port map), with or
// without a comment, is no emulator's: it is refused with one line naming it and left as
// it was. A port map folder of another user is refused whole: a loader believes it.
TEST(EmulatorPortMap, HandWrittenEntriesAndOtherUsersFoldersAreLeftAlone) {
  testing::TempDir dir;
  const std::string map = dir.File("ports");
  std::filesystem::create_directories(map);
  const std::string handWritten[] = {"rfc2217://127.0.0.1:4001\n",
                                     "rfc2217://127.0.0.1:4002\n# pyserial on the bench\n"};
  std::ofstream(map + "/COM4") << handWritten[0];
  std::ofstream(map + "/COM5") << handWritten[1];
  const auto run = [](const std::string& spec, const std::string& folder) {
    testing::RunOptions options;
    options.args = {"--module", spec, "--port-map", folder, "--until-stdin-closes"};
    options.timeout = 10s;
    return testing::RunProgram(testing::BinaryPath("module-emulator"), options);
  };
  for (int com : {4, 5}) {
    const auto refused = run("type=3,com=" + std::to_string(com), map);
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_EQ(refused.err, "module-emulator: " + map + "/COM" + std::to_string(com) +
                               " is not an entry of module-emulator: left as it is; remove it "
                               "or use another --port-map folder\n");
    EXPECT_EQ(Entry(map, com), handWritten[com - 4]);
  }

  if (!testing::CanGiveFilesAway()) GTEST_SKIP() << "needs root to give a folder away";
  const auto theirs = testing::OtherUsersFolder(dir.path(), "theirs", 0777);
  const auto refused = run("type=3", theirs.string());
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.err.find("cannot use the port map " + theirs.string() + ": its folder " +
                             theirs.string() + " belongs to user nobody"),
            std::string::npos)
      << refused.err;
  EXPECT_TRUE(std::filesystem::is_empty(theirs));
}

TEST(EmulatorPortMap, DetachReturnsOnceReadyAndServesOn) {
  InitSerialUnit();
  testing::TempDir dir;
  const std::string map = dir.File("ports");
  testing::RunOptions options;
  options.args = {"--detach", "--module", "type=3,version=1.1", "--port-map", map};
  options.timeout = 10s;
  const auto started = testing::RunProgram(testing::BinaryPath("module-emulator"), options);
  ASSERT_EQ(started.exitCode, 0) << started.err;
  const auto at = started.out.find("ready\npid ");
  ASSERT_NE(at, std::string::npos) << started.out;
  const pid_t pid = std::stoi(started.out.substr(at + 10));
  ASSERT_GT(pid, 0);

  {
    testing::ScopedEnv env("DOWNLOADER_PORTS", map);
    TSerial port;
    EXPECT_TRUE(Open(port, "COM1"));
    port.Close();
  }
  ::kill(pid, SIGTERM);
  // Not this test's child: whoever adopted it reaps it, so its end is "gone or a zombie".
  const auto ended = [pid] {
    const std::string stat = testing::ReadFileBytes("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close == std::string::npos || stat.compare(close, 3, ") Z") == 0;
  };
  const auto deadline = Clock::now() + 5s;
  while (!ended() && Clock::now() < deadline) std::this_thread::sleep_for(5ms);
  EXPECT_TRUE(ended()) << "still serving";
  EXPECT_FALSE(std::filesystem::exists(map + "/COM1"));
}

}  // namespace
}  // namespace downloader
