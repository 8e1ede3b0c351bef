// The real downloader-station running real loaders against module-emulator: many modules
// at once, every kind of outcome in its own row and in the report, rounds, a loader that
// dies, Ctrl-C, and input the station refuses.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "e2e/loader_run.h"
#include "serial/port_lock.h"
#include "support/json_schema.h"
#include "support/other_user.h"
#include "support/terminal_process.h"

namespace downloader::e2e {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::ChildProcess;
using testing::ModuleEmulator;
using testing::RunResult;
using testing::TempDir;

RunResult RunStation(const ModuleEmulator& emulator, std::vector<std::string> args,
                     std::optional<std::string> stdinData = std::nullopt) {
  testing::RunOptions options;
  options.args = std::move(args);
  options.env = emulator.Environment();
  options.stdinData = std::move(stdinData);
  options.timeout = 30s;
  return testing::RunProgram(testing::BinaryPath("downloader-station"), options);
}

json ReadReport(const std::string& file) {
  std::ifstream in(file);
  return json::parse(in);
}

// Each port's final status line as "NNN CHANNEL" ("044 EVT"), or its result when it has none.
std::map<std::string, std::string> Finals(const json& round) {
  std::map<std::string, std::string> finals;
  for (const auto& port : round["ports"]) {
    const auto& status = port["status"];
    finals[port["port"]] = status.is_null() ? port["result"].get<std::string>()
                                            : std::to_string(status["number"].get<int>()) + " " +
                                                  status["channel"].get<std::string>();
  }
  return finals;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(StationRun, EightModulesAtOnce) {
  std::vector<std::string> modules;
  for (int com = 1; com <= 8; ++com)
    modules.push_back("type=3,version=1.1,com=" + std::to_string(com));
  ModuleEmulator emulator(modules);
  TempDir dir;
  const ImageDescription image = StandardImage(3, {3, 6, 7});
  const std::string file = WriteImage(dir, image);
  const RunResult run = RunStation(emulator, {file, "--report", dir.File("report.json")});

  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  const json report = ReadReport(dir.File("report.json"));
  ASSERT_EQ(report["rounds"].size(), 1u);
  std::map<std::string, std::string> expected;
  for (int com = 1; com <= 8; ++com) {
    const std::string port = "COM" + std::to_string(com);
    expected[port] = "44 EVT";
    EXPECT_TRUE(Contains(run.out, port + ": succeeded: 044-Download successful!\n")) << run.out;
  }
  EXPECT_EQ(Finals(report["rounds"][0]), expected);
  EXPECT_EQ(report["totals"],
            json::parse(R"({"rounds":1,"port_rounds":8,"succeeded":8,"failed":0,"empty":0})"));
  const auto& first = report["rounds"][0]["ports"][0];
  EXPECT_EQ(first["image"]["file"], file);
  EXPECT_EQ(first["image"]["product"], "Korvanetics C");
  EXPECT_EQ(first["module"]["version"], 1.1);
  EXPECT_EQ(first["image"]["sha256"].get<std::string>().size(), 64u);
  const auto dump = emulator.Stop();
  for (int com = 1; com <= 8; ++com) ExpectHoldsImage(dump.Com(com), image);
}

TEST(StationRun, EveryOutcomeInItsOwnRow) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1", "type=2,version=1.0,com=2",
                           "type=3,version=1.2,com=3", "type=3,version=1.1,status=2@1:2,com=4",
                           "type=3,noecho,com=5", "type=3,version=1.1,com=6", "type=4,noecho,com=7",
                           "type=3,badreply,com=8"});
  // COM6 is in use: another program holds it.
  ChildProcess holder(PORT_HOLDER, {"port", "COM6"}, emulator.Environment());
  ASSERT_EQ(holder.ReadLine(5s), "held");
  TempDir dir;
  const std::string file = WriteImage(dir, StandardImage(3, {2, 3}));
  // COM9 has no entry in the port map.
  const RunResult run = RunStation(
      emulator, {file, "--ports", "COM1-COM7,COM9", "--report", dir.File("report.json")});

  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  const std::string text = testing::ReadFileBytes(dir.File("report.json"));
  EXPECT_EQ(testing::SchemaErrors("station-report.schema.json", text), "");
  const json round = json::parse(text)["rounds"][0];
  EXPECT_EQ(Finals(round), (std::map<std::string, std::string>{{"COM1", "44 EVT"},
                                                               {"COM2", "23 ERR"},
                                                               {"COM3", "21 ERR"},
                                                               {"COM4", "24 ERR"},
                                                               {"COM5", "23 ERR"},
                                                               {"COM6", "23 ERR"},
                                                               {"COM7", "23 ERR"},
                                                               {"COM9", "failed"}}));
  std::map<std::string, json> found;
  for (const auto& port : round["ports"]) found[port["port"]] = port["found"];
  EXPECT_EQ(found, (std::map<std::string, json>{{"COM1", "module"},
                                                {"COM2", "module"},
                                                {"COM3", "module"},
                                                {"COM4", "module"},
                                                {"COM5", "noise"},
                                                {"COM6", "in-use"},
                                                {"COM7", "nothing"},
                                                {"COM9", "no-entry"}}));
  EXPECT_EQ(round["ports"][2]["status"]["text"],
            "021-Can not download to this version of the device.  Contact Veltrana, Inc. for "
            "updated software.");
  EXPECT_EQ(round["ports"][3]["slot"], 1) << "where the download stopped";
  EXPECT_EQ(round["ports"][6]["result"], "failed") << "an empty port fails by default";
  // The port in use: its own state, with the holder the loader named.
  const json& busy = round["ports"][5];
  EXPECT_EQ(busy["module"], nullptr);
  EXPECT_EQ(busy["failure"]["code"], "in-use");
  EXPECT_EQ(busy["failure"]["text"].get<std::string>().rfind(
                "port in use by process " + std::to_string(holder.pid()) + " (", 0),
            0u)
      << busy;
  const std::string map = emulator.PortMapDir();
  EXPECT_EQ(round["ports"][7]["failure"],
            json({{"code", "no-entry"}, {"text", "the port map " + map + " has no entry for it"}}));
  EXPECT_TRUE(Contains(run.err, "downloader-station: COM9: the port map " + map +
                                    " has no entry for it; it is not flashed\n"))
      << run.err;
  for (const char* line :
       {"COM2: found Korvanetics B v1.0\n", "COM2: failed: 023-No Korvanetics C found.\n",
        "COM4: slot 0 written\n", "COM4: failed: 024-EEPROM verify failure.\n",
        "COM6: port in use\n", "COM7: found none\n", "COM9: failed: the port map ",
        "round 1: 1 succeeded, 7 failed, 0 empty in "}) {
    EXPECT_TRUE(Contains(run.out, line)) << line << "\n" << run.out;
  }
  EXPECT_TRUE(
      Contains(run.out, "COM6: failed: port in use by process " + std::to_string(holder.pid())))
      << run.out;

  // Skipping empty ports: the empty one does not fail the round, but a line that sends
  // something, without the echo of what was sent, is not empty.
  const RunResult skip = RunStation(emulator, {file, "--ports", "COM1,COM7", "--skip-empty"});
  EXPECT_EQ(skip.exitCode, 0) << skip.out << skip.err;
  EXPECT_TRUE(Contains(skip.out, "COM7: empty: 023-No Korvanetics C found.\n")) << skip.out;
  EXPECT_TRUE(Contains(skip.out, "round 1: 1 succeeded, 0 failed, 1 empty in ")) << skip.out;
  // COM5 answers without its echo; COM8 echoes, but answers no identification.
  for (const char* something : {"COM5", "COM8"}) {
    const RunResult answered = RunStation(emulator, {file, "--ports", something, "--skip-empty"});
    EXPECT_EQ(answered.exitCode, 1) << answered.out << answered.err;
    EXPECT_TRUE(
        Contains(answered.out, std::string(something) + ": failed: 023-No Korvanetics C found.\n"))
        << answered.out;
  }
}

TEST(StationRun, RepeatsARoundForEnterAloneAndEndsAtQ) {
  ModuleEmulator emulator({"type=4,version=1.0,com=2", "type=4,version=1.1,com=7"});
  TempDir dir;
  const ImageDescription image = StandardImage(4, {4});
  // A stray line (a port's name, a barcode) flashes nothing; Q ends before the last line.
  const RunResult run =
      RunStation(emulator, {WriteImage(dir, image), "--repeat", "--report", dir.File("r.json")},
                 "COM3\n\nQ\n\n");

  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  const json report = ReadReport(dir.File("r.json"));
  ASSERT_EQ(report["rounds"].size(), 2u);
  for (int r = 0; r < 2; ++r) {
    EXPECT_EQ(report["rounds"][r]["round"], r + 1);
    EXPECT_EQ(Finals(report["rounds"][r]),
              (std::map<std::string, std::string>{{"COM2", "44 EVT"}, {"COM7", "44 EVT"}}));
  }
  EXPECT_EQ(report["totals"]["succeeded"], 4);
  EXPECT_TRUE(Contains(run.out, "round 2: Korvanetics D, checksum ")) << run.out;
  EXPECT_TRUE(Contains(run.out, "'COM3' is not an answer: Enter flashes again, q ends\n"))
      << run.out;
  const auto dump = emulator.Stop();
  for (int com : {2, 7}) {
    EXPECT_EQ(dump.Com(com).connections, 4) << "a scan and a download in each round";
    ExpectHoldsImage(dump.Com(com), image);
  }
}

// The pid of the station's loader for `port`, once it runs.
pid_t LoaderOf(pid_t station, const std::string& port) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::ifstream stat(entry.path() / "stat");
    std::string pid, name, state;
    pid_t parent = 0;
    if (!(stat >> pid >> name >> state >> parent) || parent != station) continue;
    std::ifstream cmdline(entry.path() / "cmdline");
    const std::string args((std::istreambuf_iterator<char>(cmdline)), {});
    if (Contains(args, std::string("/") + port + '\0')) return std::stoi(pid);
  }
  return -1;
}

// The lock file a loader holds while it uses COM<com> of `emulator`.
std::string LockFile(const ModuleEmulator& emulator, int com) {
  return LockDirectory() + "/LCK..rfc2217-127.0.0.1-" + std::to_string(emulator.Port(com).tcpPort);
}

// Runs the station on `emulator` and waits until `ports` all report "downloading".
std::unique_ptr<ChildProcess> StationDownloading(const ModuleEmulator& emulator,
                                                 const std::vector<std::string>& args,
                                                 std::vector<std::string> ports) {
  auto station = std::make_unique<ChildProcess>(testing::BinaryPath("downloader-station"), args,
                                                emulator.Environment());
  while (!ports.empty()) {
    const auto line = station->ReadLine(10s);
    if (!line) break;
    if (line->ends_with(": downloading")) std::erase(ports, line->substr(0, line->find(':')));
  }
  EXPECT_TRUE(ports.empty()) << "still not downloading: " << ports.size();
  return station;
}

TEST(StationRun, ALoaderKilledMidDownloadFailsItsPortAlone) {
  // COM2 answers each packet 20 ms late: its download takes about 2 s.
  ModuleEmulator emulator({"type=3,version=1.1,com=1", "type=3,version=1.1,statusdelay=20,com=2",
                           "type=3,version=1.1,com=3"});
  TempDir dir;
  const ImageDescription image = StandardImage(3, {100});
  auto station = StationDownloading(
      emulator, {WriteImage(dir, image), "--report", dir.File("r.json")}, {"COM2"});
  const pid_t loader = LoaderOf(station->pid(), "COM2");
  ASSERT_GT(loader, 0);
  ASSERT_EQ(::kill(loader, SIGKILL), 0);
  EXPECT_EQ(station->Wait(20s), 1);
  ::unlink(LockFile(emulator, 2).c_str());  // a killed loader leaves its lock behind

  const json round = ReadReport(dir.File("r.json"))["rounds"][0];
  EXPECT_EQ(Finals(round), (std::map<std::string, std::string>{
                               {"COM1", "44 EVT"}, {"COM2", "failed"}, {"COM3", "44 EVT"}}));
  EXPECT_EQ(round["ports"][1]["failure"],
            json({{"code", "loader-error"},
                  {"text", "the loader ended without a final line (signal 9, Killed)"}}));
  EXPECT_EQ(round["ports"][1]["module"]["device"], "Korvanetics C");
  const auto dump = emulator.Stop();
  ExpectHoldsImage(dump.Com(1), image);
  ExpectHoldsImage(dump.Com(3), image);
}

TEST(StationRun, ControlCStopsEveryLoaderAndWritesTheReport) {
  // Paced at 1,200 baud, each download takes seconds; a late status byte (the loader waits
  // 40 ms for it) would fail a port before the stop on a busy machine.
  ModuleEmulator emulator({"type=3,version=1.1,com=1", "type=3,version=1.1,com=2"},
                          {"--pace", "1200"});
  TempDir dir;
  auto station = StationDownloading(
      emulator,
      {WriteImage(dir, StandardImage(3, {100})), "--report", dir.File("r.json"), "--repeat"},
      {"COM1", "COM2"});
  const pid_t loaders[] = {LoaderOf(station->pid(), "COM1"), LoaderOf(station->pid(), "COM2")};
  station->Signal(SIGINT);
  EXPECT_EQ(station->Wait(10s), 130);

  for (const pid_t loader : loaders) {
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(loader))) << "still runs";
  }
  for (const int com : {1, 2}) {
    EXPECT_FALSE(std::filesystem::exists(LockFile(emulator, com))) << "COM" << com;
  }
  const json round = ReadReport(dir.File("r.json"))["rounds"][0];
  EXPECT_TRUE(round["interrupted"]);
  for (const auto& port : round["ports"]) {
    EXPECT_EQ(port["result"], "failed");
    EXPECT_EQ(port["failure"], json({{"code", "stopped"}, {"text", "stopped (Ctrl-C)"}}));
  }
}

TEST(StationRun, RefusesBadInputBeforeFlashingAnything) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const std::string good = WriteImage(dir, StandardImage(3, {1}));
  std::string corrupt = testing::ReadFileBytes(good);
  corrupt[5000] ^= 0x55;
  const std::string bad = dir.Write("bad.obj", corrupt);
  std::filesystem::create_directory(dir.path() / "empty-map");

  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::string> env;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{bad},
       {},
       "the loader refuses the image " + bad + ": 012-Checksum Error.  Data is corrupt in file \"" +
           bad + "\"."},
      {{good, "--ports", "COM1,COM1"}, {}, "--ports: COM1 is named twice"},
      {{good},
       {{"DOWNLOADER_PORTS", dir.File("empty-map")}},
       "no ports: the port map " + dir.File("empty-map") + " has no COM entries"},
      {{good, "--loader", dir.File("no-loader")},
       {},
       "cannot start the loader " + dir.File("no-loader") + ": No such file or directory"},
      {{good, "--report", dir.File("missing/r.json")},
       {},
       "cannot write the report " + dir.File("missing/r.json") + ": No such file or directory"},
  };
  for (const Case& c : cases) {
    testing::RunOptions options;
    options.args = c.args;
    options.env = emulator.Environment();
    for (const auto& [k, v] : c.env) options.env[k] = v;
    options.timeout = 10s;
    const RunResult run = testing::RunProgram(testing::BinaryPath("downloader-station"), options);
    EXPECT_EQ(run.exitCode, 2) << c.message;
    EXPECT_TRUE(Contains(run.err, "downloader-station: " + c.message + "\n")) << run.err;
    EXPECT_EQ(run.out, "") << c.message;
  }
  EXPECT_EQ(emulator.Stop().Com(1).connections, 0) << "no loader touched the port";
}

TEST(StationRun, ARefusedImageEndsTheStationAtOnceWhenADisplayExists) {
  // With a display the loader would show its refusal in a window and wait for it to close.
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  std::string corrupt = testing::ReadFileBytes(WriteImage(dir, StandardImage(3, {1})));
  corrupt[5000] ^= 0x55;
  const std::string bad = dir.Write("bad.obj", corrupt);
  testing::RunOptions options;
  options.args = {bad, "--timeout", "60"};
  options.env = emulator.Environment();
  options.env["QT_QPA_PLATFORM"] = "offscreen";
  options.env["XDG_RUNTIME_DIR"] = dir.path().string();
  options.timeout = 20s;
  const RunResult run = testing::RunProgram(testing::BinaryPath("downloader-station"), options);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 2) << run.err;
  EXPECT_TRUE(Contains(
      run.err, "downloader-station: the loader refuses the image " + bad + ": 012-Checksum Error."))
      << run.err;
}

TEST(StationRun, ALoaderThatGivesItsFinalLineAndStaysIsNotWaitedFor) {
  // A stand-in loader: its /GetInfo answer is final, then it sleeps; its downloads end. It
  // notes the display variables it was given.
  TempDir dir;
  const std::string loader = dir.Write("loader", R"(#!/bin/sh
echo "${DISPLAY-}|${WAYLAND_DISPLAY-}|${QT_QPA_PLATFORM-}" >> "$0.seen"
if [ "$1" = /GetInfo ]; then
  printf '\001INF:051-COMPANY=V PRODUCT=P FIRMWARE=f CHECKSUM=7 COMPILEDATE=x\r\n\004'
  exec sleep 600
fi
printf '\001EVT:044-Download successful!\r\n\004'
)");
  std::filesystem::permissions(loader, std::filesystem::perms::owner_all);
  testing::RunOptions options;
  options.args = {
      dir.Write("x.obj", "image"), "--ports", "COM1,COM2", "--loader", loader, "--timeout", "60"};
  options.env = {{"DISPLAY", ":77"}, {"WAYLAND_DISPLAY", "wayland-7"}, {"QT_QPA_PLATFORM", "xcb"}};
  options.timeout = 20s;
  const RunResult run = testing::RunProgram(testing::BinaryPath("downloader-station"), options);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(testing::ReadFileBytes(loader + ".seen"), "||\n||\n||\n||\n")
      << "no loader is given a display (--version, /GetInfo and two downloads)";
}

TEST(StationRun, AnImageReplacedBetweenRoundsIsNotFlashed) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const ImageDescription image = StandardImage(3, {2});
  const std::string file = WriteImage(dir, image);
  const std::string other = testing::ReadFileBytes(WriteImage(dir, StandardImage(3, {5}), "b.obj"));
  testing::RunOptions sum;
  sum.args = {file};
  const std::string sha256 = testing::RunProgram("/usr/bin/sha256sum", sum).out.substr(0, 64);

  // Not the image expected: refused before any port is touched.
  const RunResult wrong = RunStation(emulator, {file, "--expect-sha256", std::string(64, 'f')});
  EXPECT_EQ(wrong.exitCode, 2);
  EXPECT_EQ(wrong.err, "downloader-station: the image " + file + " has SHA-256 " + sha256 +
                           ", not the expected " + std::string(64, 'f') +
                           "; nothing was flashed\n");

  // The one expected flashes; replaced before the second round, it stops the station.
  ChildProcess station(
      testing::BinaryPath("downloader-station"),
      {file, "--expect-sha256", sha256, "--repeat", "--report", dir.File("r.json")},
      emulator.Environment());
  std::string seen;
  for (auto line = station.ReadLine(30s); line && !line->starts_with("waiting for");
       line = station.ReadLine(30s)) {
    seen += *line + "\n";
  }
  dir.Write("image.obj", other);
  station.Write("\n");
  EXPECT_EQ(station.Wait(20s), 2);
  const json report = ReadReport(dir.File("r.json"));
  EXPECT_EQ(report["rounds"].size(), 1u);
  EXPECT_EQ(report["rounds"][0]["image"]["sha256"], sha256);
  const auto dump = emulator.Stop();
  EXPECT_EQ(dump.Com(1).connections, 2)
      << "a scan and a download in round 1, then nothing; round 1:\n"
      << seen << report.dump();
  ExpectHoldsImage(dump.Com(1), image);
}

TEST(StationOnATerminal, TheTableComesBackWhenTheTerminalIsWideEnoughAgain) {
  // Stand-in loaders that write until the test lets them end, so the round lasts as long as
  // the test needs.
  TempDir dir;
  const std::string loader = dir.Write("loader", R"(#!/bin/sh
case "$1" in
  --version) echo "downloader 0"; exit 0 ;;
  /GetInfo)
    printf '\001INF:051-COMPANY=V PRODUCT=Korvanetics C FIRMWARE=f CHECKSUM=7 COMPILEDATE=x\r\n\004'
    exit 0 ;;
esac
port=${1#/}
printf '\001INF:111-PORT=%s DEVICE=Korvanetics C VERSION=v1.1 LOOPBACK=No ECHO=Yes\r\n' "$port"
printf '\001EVT:104-Downloading to %s.\r\n\001INF:112-SLOT=0 PROGRESS=50%%\r\n' "$port"
while [ ! -e "${0%/*}/go" ]; do sleep 0.05; done
printf '\001EVT:044-Download successful!\r\n\004'
)");
  std::filesystem::permissions(loader, std::filesystem::perms::owner_all);
  std::filesystem::create_directory(dir.path() / "ports");
  for (const char* port : {"ports/COM1", "ports/COM2"}) dir.Write(port, "rfc2217://127.0.0.1:1\n");
  const char* path = std::getenv("PATH");
  testing::TerminalProcess station(
      testing::BinaryPath("downloader-station"),
      {dir.Write("x.obj", "image"), "--ports", "COM1,COM2", "--loader", loader},
      {{"TERM", "xterm"}, {"DOWNLOADER_PORTS", dir.File("ports")}, {"PATH", path ? path : ""}},
      100);
  const std::string header = "PORT   MODULE";
  ASSERT_TRUE(station.Shows(header, 10s)) << station.Output();
  ASSERT_TRUE(station.Shows("writing", 10s));
  station.Resize(45);
  ASSERT_TRUE(station.Shows("round 1: Korvanetics C, checksum 7, ", 10s)) << "plain at 45";
  station.Resize(100);
  EXPECT_TRUE(station.Shows(header, 10s)) << "the table again at 100 columns: " << station.Output();
  station.Resize(60);
  EXPECT_TRUE(station.Shows("SLOT DONE", 10s)) << "and at 60, with its bar gone";
  dir.Write("go", "");
  EXPECT_EQ(station.Wait(20s), 0) << station.Output();
}

// Run as root, the station writes its report only where nobody else can turn it aside:
// not into another user's folder, nor over another user's file in a sticky one (as /tmp).
TEST(StationRun, TheReportGoesNowhereAnotherUserPrepared) {
  if (!testing::CanGiveFilesAway()) GTEST_SKIP() << "needs root to plant another user's files";
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const std::string image = WriteImage(dir, StandardImage(3, {1}));
  const std::string secret = dir.Write("secret", "root only\n");
  const auto theirs = testing::OtherUsersFolder(dir.path(), "theirs", 0755);
  const auto shared = testing::OtherUsersFolder(dir.path(), "shared", 01777);
  std::filesystem::create_symlink(secret, shared / "r.json");
  testing::GiveToOtherUser(shared / "r.json");
  const std::pair<std::string, std::string> cases[] = {
      {(theirs / "r.json").string(),
       "its folder " + theirs.string() + " belongs to user nobody and is not sticky"},
      {(shared / "r.json").string(), "it belongs to user nobody"}};
  for (const auto& [report, why] : cases) {
    testing::RunOptions options;
    options.args = {image, "--report", report};
    options.env = emulator.Environment();
    options.timeout = 10s;
    const RunResult run = testing::RunProgram(testing::BinaryPath("downloader-station"), options);
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find("cannot write the report " + report + ": " + why + "\n"),
              std::string::npos)
        << run.err;
  }
  EXPECT_EQ(testing::ReadFileBytes(secret), "root only\n");
  EXPECT_TRUE(std::filesystem::is_empty(theirs));
  EXPECT_EQ(emulator.Stop().Com(1).connections, 0) << "no loader touched the port";
}

}  // namespace
}  // namespace downloader::e2e
