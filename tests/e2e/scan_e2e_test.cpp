// The real downloader's port scan against module-emulator: which ports it probes, what it
// reports for ports that cannot be used, how many it probes at once, and the port list of
// pipe mode, which outlives a command.

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "e2e/loader_run.h"
#include "support/child_process.h"
#include "support/status_text.h"

namespace downloader::e2e {
namespace {

using namespace std::chrono_literals;
using testing::ModuleEmulator;
using testing::RunResult;
using testing::TempDir;

TEST(PortSelection, OnlyTheNamedPortIsProbed) {
  // Four modules of the image's type: probed together they would be duplicates.
  ModuleEmulator emulator(
      {"type=3,version=1.0", "type=3,version=1.0", "type=3,version=1.1", "type=3,version=1.0"});
  TempDir dir;
  const ImageDescription image = StandardImage(3, {1});
  const RunResult run =
      RunLoader(emulator, {"/NoPrompts", "/COM3", "/Updates", WriteImage(dir, image)});
  EXPECT_STATUS(run,
                std::vector<std::string>{
                    PortLine("COM3 DEVICE=Korvanetics C VERSION=v1.1 LOOPBACK=No ECHO=Yes")},
                Downloading("COM3") + Progress(0, {100}) + Success());
  const auto dump = emulator.Stop();
  ExpectHoldsImage(dump.Com(3), image);
  for (int com : {1, 2, 4}) EXPECT_EQ(dump.Com(com).connections, 0) << "COM" << com;
}

TEST(PortSelection, APortBeyondTheDefaultFourIsAddedAndProbedAlone) {
  ModuleEmulator emulator({"type=4,version=1.1,com=1", "type=4,version=1.0,com=12"});
  TempDir dir;
  // This image comes from objtool, from a description like those users write.
  const std::string description = dir.Write("image.json", R"({
  "target_device": 4,
  "company": "Veltrana, Inc.",
  "product": "Korvanetics D",
  "firmware": "Valve driver 1.1",
  "compile_time": "2021-03-04T05:06:07",
  "notes": "Made by objtool.",
  "slots": [
    { "packets": ["00 FF FF 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E",
                  "FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"] },
    { "packets": ["00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
                  "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F 20 21",
                  "0D 0A 0D 00 0A 01 04 FF F0 FA FB FC FD FE 00 00 00 00"] }
  ]
})");
  const std::string file = dir.File("image.obj");
  testing::RunOptions objtool;
  objtool.args = {"make", description, "-o", file};
  const RunResult made = testing::RunProgram(testing::BinaryPath("objtool"), objtool);
  ASSERT_EQ(made.exitCode, 0) << made.err;

  const RunResult run = RunLoader(emulator, {"/NoPrompts", "/Updates", "/COM12", file});
  EXPECT_STATUS(
      run,
      std::vector<std::string>{
          PortLine("COM12 DEVICE=Korvanetics D VERSION=v1.0 LOOPBACK=No ECHO=Yes")},
      Downloading("COM12") + Progress(0, {50, 100}) + Progress(1, {33, 66, 100}) + Success());
  const auto dump = emulator.Stop();
  EXPECT_EQ(dump.Com(1).connections, 0);
  const auto& module = dump.Com(12);
  ASSERT_EQ(module.slots.size(), 2u);
  const auto json = nlohmann::json::parse(testing::ReadFileBytes(description));
  for (int s = 0; s < 2; ++s) {
    Packets packets;
    for (const auto& hex : json["slots"][s]["packets"]) {
      std::string digits = hex.get<std::string>();
      digits.erase(std::remove(digits.begin(), digits.end(), ' '), digits.end());
      packets.push_back(testing::FromHex(digits));
    }
    EXPECT_EQ(module.slots.at(s).received, packets) << "slot " << s;
    EXPECT_EQ(module.slots.at(s).acknowledged, packets) << "slot " << s;
  }
}

TEST(PortStates, SilentHeldAndUnmappedPortsAreReportedAndNotChosen) {
  // COM1: a module of the image's type that echoes nothing; COM2: held by another
  // process; COM3: not in the port map; COM4: a module whose DSR is always on.
  ModuleEmulator emulator({"type=3,version=1.1,noecho,com=1", "type=3,version=1.0,com=2",
                           "type=2,version=1.0,dsr=on,com=4"});
  testing::ChildProcess holder(PORT_HOLDER, {"port", "COM2"}, emulator.Environment());
  ASSERT_EQ(holder.ReadLine(5s), "held");
  TempDir dir;
  const RunResult run =
      RunLoader(emulator, {"/NoPrompts", "/Updates", WriteImage(dir, StandardImage(3, {1}))});
  EXPECT_STATUS(
      run,
      (std::vector<std::string>{
          PortLine("COM1 DEVICE=none VERSION=n/a LOOPBACK=No ECHO=No"),
          PortLine("COM2 DEVICE=can't open port; in use VERSION=n/a LOOPBACK=n/a ECHO=n/a"),
          InvalidPort("COM3"),
          PortLine("COM4 DEVICE=Korvanetics B VERSION=v1.0 LOOPBACK=No ECHO=Yes")}),
      Error("023-No Korvanetics C found."));
  EXPECT_NE(run.err.find("process " + std::to_string(holder.pid())), std::string::npos)
      << "the hint names the holder: " << run.err;
  // COM1 answers without its echo: ECHO=No, as for an empty port, but not empty.
  const std::string noise = ": bytes came back, but not the echo of what was sent";
  EXPECT_NE(run.err.find("downloader: COM1" + noise), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(noise), run.err.rfind(noise)) << "COM1 alone: " << run.err;
  holder.CloseStdin();
  EXPECT_EQ(holder.Wait(5s), 0);
  const auto dump = emulator.Stop();
  EXPECT_EQ(dump.Com(2).connections, 1) << "only the holder's";
  for (int com : {1, 2, 4}) ExpectNothingStored(dump.Com(com));
}

// Pipe mode: a scripted master sends command lines and records every reply.
class PipeMaster : public ::testing::Test {
 protected:
  std::vector<std::string> Serve(const ModuleEmulator& emulator,
                                 const std::vector<std::string>& commands) {
    const std::string master = dir_.File("master");
    std::filesystem::copy_file(
        std::string(DOWNLOADER_SOURCE_DIR) + "/tests/pipe/scripted_master.py", master);
    ::chmod(master.c_str(), 0755);
    const std::string log = dir_.File("master.log");
    testing::RunOptions options;
    options.args = {"/Pipe", master};
    options.env = emulator.Environment();
    options.env["MASTER_COMMANDS"] = nlohmann::json(commands).dump();
    options.env["MASTER_LOG"] = log;
    options.timeout = 30s;
    const RunResult run = testing::RunProgram(testing::BinaryPath("downloader"), options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "") << "status lines go to the master";
    // The master may still be writing its log after the loader has gone.
    for (int i = 0; i < 1500 && !std::filesystem::exists(log); ++i)
      std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(20ms);
    std::vector<std::string> replies;
    const std::string text = testing::ReadFileBytes(log);
    if (text.empty()) {
      ADD_FAILURE() << "the master left no log";
    } else {
      const auto json = nlohmann::json::parse(text);
      for (const auto& reply : json.at("replies")) {
        replies.push_back(reply.get<std::string>());
      }
    }
    replies.resize(commands.size(), "<no reply>");
    return replies;
  }

  TempDir dir_;
};

TEST_F(PipeMaster, APortNamedByAFailedCommandStaysListed) {
  ModuleEmulator emulator({"type=2,noecho,com=1", "type=3,version=1.0,com=7"});
  const ImageDescription image = StandardImage(3, {2});
  const auto replies =
      Serve(emulator, {"/COM7 x.obj", "/NoPrompts /Updates " + WriteImage(dir_, image)});
  EXPECT_EQ(replies[0], Error("011-File not found: 'x.obj'."));
  EXPECT_TRUE(StatusIs(replies[1],
                       {PortLine("COM1 DEVICE=none VERSION=n/a LOOPBACK=No ECHO=No"),
                        InvalidPort("COM2"), InvalidPort("COM3"), InvalidPort("COM4"),
                        PortLine("COM7 DEVICE=Korvanetics C VERSION=v1.0 LOOPBACK=No ECHO=Yes")},
                       Downloading("COM7") + Progress(0, {50, 100}) + Success()));
  ExpectHoldsImage(emulator.Stop().Com(7), image);
}

TEST_F(PipeMaster, AProductNameOfItsOwnStaysInForceForLaterImages) {
  ModuleEmulator emulator({"type=3,version=1.0,com=1", "type=5,version=1.3,com=2"});
  ImageDescription custom = StandardImage(3, {2});
  custom.product = "Pump Controller PC-3";
  const ImageDescription standard = StandardImage(5, {1});
  const auto replies = Serve(emulator, {"/NoPrompts " + WriteImage(dir_, custom, "custom.obj"),
                                        "/NoPrompts " + WriteImage(dir_, standard)});
  const std::string kNoPort = " DEVICE=invalid port LOOPBACK=n/a ECHO=n/a";
  EXPECT_TRUE(StatusIs(replies[0],
                       {PortLine("COM1 DEVICE=Pump Controller PC-3 LOOPBACK=No ECHO=Yes"),
                        PortLine("COM2 DEVICE=40 LOOPBACK=No ECHO=Yes"), PortLine("COM3" + kNoPort),
                        PortLine("COM4" + kNoPort)},
                       Downloading("COM1") + Success()));
  // The standard image alone would show versions and every type's name.
  EXPECT_TRUE(StatusIs(replies[1],
                       {PortLine("COM1 DEVICE=none LOOPBACK=No ECHO=Yes"),
                        PortLine("COM2 DEVICE=Korvanetics E40 LOOPBACK=No ECHO=Yes"),
                        PortLine("COM3" + kNoPort), PortLine("COM4" + kNoPort)},
                       Downloading("COM2") + Success()));
  const auto dump = emulator.Stop();
  ExpectHoldsImage(dump.Com(1), custom);
  ExpectHoldsImage(dump.Com(2), standard);
}

// The largest number of sessions in use at one moment, each counted from its opening to
// the last bytes the module heard on it. Those spans lie within the time the client held
// the port, so a close the emulator noticed late adds nothing; a fifth probe started while
// four others were still talking counts five.
int MostAtOnce(const std::vector<testing::EmulatorDump::Session>& sessions) {
  std::vector<std::pair<int64_t, int>> events;
  for (const auto& s : sessions) {
    events.emplace_back(s.opened, +1);
    events.emplace_back(s.lastInput, -1);
  }
  // At equal times a session that ends goes first.
  std::sort(events.begin(), events.end());
  int open = 0, most = 0;
  for (const auto& [time, change] : events) most = std::max(most, open += change);
  return most;
}

TEST_F(PipeMaster, TenPortsAreProbedAtMostFourAtATime) {
  // Nine modules that echo every byte and answer no identification as the loader wants,
  // so each port takes all five probes, and the image's module on COM10.
  std::vector<std::string> modules;
  for (int com = 1; com <= 9; ++com) {
    modules.push_back("type=" + std::to_string(2 + com % 5) +
                      ",badreply,com=" + std::to_string(com));
  }
  modules.push_back("type=3,version=1.0,com=10");
  ModuleEmulator emulator(modules);
  std::vector<std::string> commands;
  for (int com = 5; com <= 10; ++com) commands.push_back("/COM" + std::to_string(com) + " x.obj");
  const ImageDescription image = StandardImage(3, {1});
  commands.push_back("/NoPrompts " + WriteImage(dir_, image));

  const auto replies = Serve(emulator, commands);
  std::vector<std::string> scan;
  for (int com = 1; com <= 9; ++com) {
    scan.push_back(
        PortLine("COM" + std::to_string(com) + " DEVICE=none VERSION=n/a LOOPBACK=No ECHO=Yes"));
  }
  scan.push_back(PortLine("COM10 DEVICE=Korvanetics C VERSION=v1.0 LOOPBACK=No ECHO=Yes"));
  EXPECT_TRUE(StatusIs(replies.back(), scan, Downloading("COM10") + Success()));

  const auto dump = emulator.Stop();
  std::vector<testing::EmulatorDump::Session> probes;
  for (int com = 1; com <= 10; ++com) {
    const auto& sessions = dump.Com(com).sessions;
    ASSERT_EQ(sessions.size(), com == 10 ? 2u : 1u) << "COM" << com;
    probes.push_back(sessions.front());
  }
  EXPECT_EQ(MostAtOnce(probes), 4);
  ExpectHoldsImage(dump.Com(10), image);
}

// The presence check of a production line: one port, the scan's line, nothing written
// but the reset pulse and the identification exchanges.
TEST(PresenceCheck, TellsWhatIsOnOnePortAndSendsNoMoreThanTheIdentification) {
  ModuleEmulator emulator({"type=5,variant=24,version=1.3,com=2", "type=3,com=3", "type=3,com=4"});
  ASSERT_EQ(emulator.Command("unplug 3"), "COM3 unplugged");
  testing::ChildProcess holder(PORT_HOLDER, {"port", "COM4"}, emulator.Environment());
  ASSERT_EQ(holder.ReadLine(5s), "held");
  const std::map<std::vector<std::string>, std::string> answers = {
      {{"--probe", "COM2"}, "COM2 DEVICE=Korvanetics E24 VERSION=v1.3 LOOPBACK=n/a ECHO=Yes"},
      {{"--probe=com2", "5"}, "COM2 DEVICE=Korvanetics E24 VERSION=v1.3 LOOPBACK=n/a ECHO=Yes"},
      {{"--probe", "COM3"}, "COM3 DEVICE=none VERSION=n/a LOOPBACK=n/a ECHO=No"},
      {{"--probe", "COM4"},
       "COM4 DEVICE=can't open port; in use VERSION=n/a LOOPBACK=n/a ECHO=n/a"},
      {{"--probe", "COM9"}, "COM9 DEVICE=invalid port VERSION=n/a LOOPBACK=n/a ECHO=n/a"},
  };
  for (const auto& [args, fields] : answers) {
    const RunResult run = RunLoader(emulator, args);
    EXPECT_EQ(run.exitCode, 0) << args[0];
    EXPECT_EQ(testing::Visible(run.out), testing::Visible(PortLine(fields))) << args[0];
  }
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--probe"},
                                             {"--probe", "COM0"},
                                             {"--probe", "COM2", "7"},
                                             {"--probe", "COM2", "5", "x"}}) {
    const RunResult run = RunLoader(emulator, args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("--probe and --watch take a port"), std::string::npos) << run.err;
  }
  holder.CloseStdin();
  const auto dump = emulator.Stop();
  const auto& module = dump.Com(2);
  EXPECT_EQ(module.resets, 4 + 1) << "types 2, 3, 4 and 5 in turn; then 5 first";
  EXPECT_TRUE(module.slots.empty());
  EXPECT_EQ(std::count(module.controls.begin(), module.controls.end(), "rts=1"), 0)
      << "no loopback test";
}

TEST(PresenceCheck, WatchingChecksAgainAndAgainUntilStopped) {
  ModuleEmulator emulator({"type=4,version=1.2,com=5"});
  testing::ChildProcess watch(testing::BinaryPath("downloader"), {"--watch", "COM5"},
                              emulator.Environment());
  const auto next = [&watch] {
    const auto line = watch.ReadLine(5s);
    return line ? *line + "\n" : "";
  };
  const std::string present =
      PortLine("COM5 DEVICE=Korvanetics D VERSION=v1.2 LOOPBACK=n/a ECHO=Yes");
  const std::string absent = PortLine("COM5 DEVICE=none VERSION=n/a LOOPBACK=n/a ECHO=No");
  EXPECT_EQ(next(), present);
  EXPECT_EQ(next(), present);
  ASSERT_EQ(emulator.Command("unplug 5"), "COM5 unplugged");
  std::string line;
  while ((line = next()) == present) {
  }
  EXPECT_EQ(line, absent);
  // Stopped in the middle of a check, it leaves the port free: a loader has it at once.
  watch.Signal(SIGTERM);
  EXPECT_EQ(watch.Wait(5s), 128 + SIGTERM);
  const RunResult probe = RunLoader(emulator, {"--probe", "COM5"});
  EXPECT_EQ(testing::Visible(probe.out), testing::Visible(absent));
  const auto dump = emulator.Stop();
  EXPECT_GE(dump.Com(5).units[0].checks, 2) << "a connection a check";
  EXPECT_GE(dump.Com(5).resets, 3 + 1) << "types 2, 3 and 4 the first time, 4 first the next";
}

}  // namespace
}  // namespace downloader::e2e
