// The real downloader-station as a production line (--continuous), its real loaders and
// module-emulator's fixtures, whose modules the tests plug in and take out: arrival,
// removal, a module left in place, a bouncing contact, an adapter that goes and comes
// back, --count, --retries, Ctrl-C mid-unit, and the unit log against its schema.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "e2e/loader_run.h"
#include "support/child_process.h"
#include "support/json_schema.h"

namespace downloader::e2e {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::ChildProcess;
using testing::ModuleEmulator;
using testing::TempDir;

// A station running as a line, its plain lines read as they come.
class LineStation {
 public:
  LineStation(const std::map<std::string, std::string>& env, std::vector<std::string> args)
      : process_(testing::BinaryPath("downloader-station"), std::move(args), env) {}

  /// Reads lines until `line` comes (true), or none came for `timeout`; the lines read
  /// before it are in Seen().
  bool WaitFor(const std::string& line, std::chrono::milliseconds timeout = 10s) {
    while (const auto next = process_.ReadLine(timeout)) {
      seen_ += *next + "\n";
      if (*next == line) return true;
    }
    return false;
  }
  /// What it writes for `time`, every line.
  std::string Read(std::chrono::milliseconds time) {
    std::string lines;
    const auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (const auto next = process_.ReadLine(std::max(left, 1ms))) lines += *next + "\n";
    }
    seen_ += lines;
    return lines;
  }
  /// Ends it with q on its standard input; its exit code.
  int Quit() {
    process_.Write("q\n");
    return process_.Wait(20s);
  }
  ChildProcess& Process() { return process_; }
  const std::string& Seen() const { return seen_; }

 private:
  ChildProcess process_;
  std::string seen_;
};

std::vector<json> ReadLog(const std::string& file) {
  std::vector<json> records;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) records.push_back(json::parse(line));
  return records;
}

// Every unit record of `file` is valid by the schema, and so is the report `report`.
void ExpectValid(const std::string& log, const std::string& report = "") {
  EXPECT_EQ(testing::SchemaErrors("unit-log.schema.json", testing::ReadFileBytes(log), true), "");
  if (!report.empty()) {
    EXPECT_EQ(testing::SchemaErrors("line-report.schema.json", testing::ReadFileBytes(report)), "");
  }
}

TEST(StationLine, FlashesEachArrivalOnceALeftOrBouncingModuleNeverTwice) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  ASSERT_EQ(emulator.Command("unplug 1"), "COM1 unplugged");
  TempDir dir;
  const ImageDescription image = StandardImage(3, {4, 2});
  const std::string log = dir.File("units.jsonl");
  LineStation station(emulator.Environment(), {WriteImage(dir, image), "--continuous", "--log", log,
                                               "--report", dir.File("line.json")});
  ASSERT_TRUE(station.WaitFor("COM1: waiting for a module")) << station.Seen();

  ASSERT_EQ(emulator.Command("plug 1"), "COM1 plugged type=3 version=1.1");
  ASSERT_TRUE(station.WaitFor("COM1: flashing Korvanetics C v1.1")) << station.Seen();
  ASSERT_TRUE(station.WaitFor("COM1: PASS, remove the module: 044-Download successful!"))
      << station.Seen();
  // Left in its fixture, then a contact that bounces for less than three checks.
  EXPECT_EQ(station.Read(800ms), "");
  ASSERT_EQ(emulator.Command("unplug 1"), "COM1 unplugged");
  std::this_thread::sleep_for(120ms);
  ASSERT_EQ(emulator.Command("plug 1"), "COM1 plugged type=3 version=1.1");
  EXPECT_EQ(station.Read(800ms), "") << "the same module, not a new one";

  ASSERT_EQ(emulator.Command("unplug 1"), "COM1 unplugged");
  ASSERT_TRUE(station.WaitFor("COM1: waiting for a module")) << station.Seen();
  ASSERT_EQ(emulator.Command("plug 1 type=3,version=1.0"), "COM1 plugged type=3 version=1.0");
  ASSERT_TRUE(station.WaitFor("COM1: PASS, remove the module: 044-Download successful!"))
      << station.Seen();
  EXPECT_EQ(station.Quit(), 0);

  const auto dump = emulator.Stop();
  const auto& units = dump.Com(1).units;
  ASSERT_EQ(units.size(), 4u) << "the first, its bounce, the next";
  EXPECT_EQ(units[0].downloads.size(), 0u) << "plugged before the start, taken out unflashed";
  EXPECT_EQ(units[1].downloads.size(), 1u);
  EXPECT_EQ(units[2].downloads.size(), 0u) << "the bounce";
  EXPECT_EQ(units[3].downloads.size(), 1u);
  EXPECT_EQ(units[3].slots.at(1).acknowledged, SlotPackets(image, 1));

  const auto records = ReadLog(log);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["result"], "passed");
  EXPECT_EQ(records[0]["module"]["version"], 1.1);
  EXPECT_EQ(records[1]["module"]["version"], 1.0);
  EXPECT_EQ(records[1]["device"], emulator.Port(1).url);
  EXPECT_EQ(records[1]["attempts"].size(), 1u);
  ExpectValid(log, dir.File("line.json"));
  const json report = json::parse(testing::ReadFileBytes(dir.File("line.json")));
  EXPECT_EQ(report["ended"], "quit");
  EXPECT_EQ(report["totals"]["passed"], 2);
}

TEST(StationLine, AnAdapterThatGoesAndComesBackKeepsItsFixture) {
  ModuleEmulator emulator({"type=4,version=1.1,com=2"});
  TempDir dir;
  // The line's own port map, whose entry the test takes away as an unplugged adapter would.
  const std::string map = dir.File("ports");
  std::filesystem::create_directory(map);
  const std::string entry = dir.Write("ports/COM2", emulator.Port(2).url + "\n");
  const std::string log = dir.File("units.jsonl");
  LineStation station({{"DOWNLOADER_PORTS", map}},
                      {WriteImage(dir, StandardImage(4, {3})), "--continuous", "--log", log});
  ASSERT_TRUE(station.WaitFor("COM2: PASS, remove the module: 044-Download successful!"))
      << station.Seen();
  std::filesystem::rename(entry, dir.File("COM2.away"));
  ASSERT_TRUE(station.WaitFor("COM2: no device")) << station.Seen();
  std::filesystem::rename(dir.File("COM2.away"), entry);
  ASSERT_TRUE(station.WaitFor("COM2: PASS, remove the module: 044-Download successful!"))
      << station.Seen();
  EXPECT_EQ(station.Read(500ms), "") << "the module still in it is not flashed again";
  EXPECT_EQ(station.Quit(), 0);
  EXPECT_EQ(ReadLog(log).size(), 1u);
  EXPECT_EQ(emulator.Stop().Com(2).units[0].downloads.size(), 1u);
}

TEST(StationLine, RetriesCommunicationFailuresOnlyAndEndsAtTheCount) {
  // COM1 hangs up at every download before its first packet (so the operator, who takes a
  // module out once packets reached it, leaves it in), COM2 refuses a packet: with two
  // retries, three attempts and one. The operator keeps all four busy until three passed.
  ModuleEmulator emulator(
      {"type=3,version=1.1,hangup@0:0,com=1", "type=3,version=1.1,status=2@0:0,com=2",
       "type=3,version=1.1,com=3", "type=3,version=1.1,com=4"},
      {"--operator", "0.3-0.6"});
  TempDir dir;
  const std::string log = dir.File("units.jsonl");
  const std::string report = dir.File("line.json");
  LineStation station(emulator.Environment(),
                      {WriteImage(dir, StandardImage(3, {3})), "--continuous", "--log", log,
                       "--report", report, "--retries", "2", "--count", "3"});
  EXPECT_EQ(station.Process().Wait(60s), 0);

  const auto records = ReadLog(log);
  std::map<std::string, std::vector<json>> byPort;
  for (const json& record : records) byPort[record["port"]].push_back(record);
  ASSERT_FALSE(byPort["COM1"].empty());
  const json& dropped = byPort["COM1"][0];
  EXPECT_EQ(dropped["result"], "failed");
  ASSERT_EQ(dropped["attempts"].size(), 3u);
  for (const json& attempt : dropped["attempts"]) EXPECT_EQ(attempt["status"]["number"], 25);
  ASSERT_FALSE(byPort["COM2"].empty());
  EXPECT_EQ(byPort["COM2"][0]["attempts"].size(), 1u) << "never after 024";
  EXPECT_EQ(byPort["COM2"][0]["failure"]["code"], "status");
  EXPECT_EQ(byPort["COM2"][0]["status"]["number"], 24);
  int passed = 0;
  for (const json& record : records) passed += record["result"] == "passed";
  EXPECT_GE(passed, 3);
  EXPECT_LE(passed, 4) << "one more at most: a unit begun before the third passed";
  const json line = json::parse(testing::ReadFileBytes(report));
  EXPECT_EQ(line["ended"], "count");
  EXPECT_EQ(line["totals"]["passed"], passed);
  ExpectValid(log, report);

  const auto dump = emulator.Stop();
  for (const int com : {3, 4}) {
    for (const auto& unit : dump.Com(com).units) {
      EXPECT_LE(unit.downloads.size(), 1u) << "COM" << com << ": a module flashed twice";
    }
  }
}

TEST(StationLine, ControlCMidUnitLogsItAsStoppedAndLosesNothingElse) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1", "type=3,version=1.1,statusdelay=20,com=2"});
  ASSERT_EQ(emulator.Command("unplug 2"), "COM2 unplugged");
  TempDir dir;
  // A log that a power cut left with a line cut short at its end.
  const std::string earlier = R"({"format_version":1,"port":"COM9"})";
  const std::string log = dir.Write("units.jsonl", earlier + "\n{\"format_version\":1,\"po");
  LineStation station(emulator.Environment(), {WriteImage(dir, StandardImage(3, {100})),
                                               "--continuous", "--log", log, "--quiet"});
  ASSERT_TRUE(station.WaitFor("COM1: PASS, remove the module: 044-Download successful!", 30s))
      << station.Seen();
  ASSERT_EQ(emulator.Command("plug 2"), "COM2 plugged type=3 version=1.1");
  ASSERT_TRUE(station.WaitFor("COM2: flashing Korvanetics C v1.1")) << station.Seen();
  std::this_thread::sleep_for(300ms);
  station.Process().Signal(SIGINT);
  EXPECT_EQ(station.Process().Wait(10s), 130);

  const std::string text = testing::ReadFileBytes(log);
  ASSERT_EQ(text.substr(0, earlier.size() + 1), earlier + "\n") << "what was there stays";
  const auto records = ReadLog(log);
  ASSERT_EQ(records.size(), 3u) << text;
  EXPECT_EQ(records[1]["port"], "COM1");
  EXPECT_EQ(records[1]["result"], "passed");
  EXPECT_EQ(records[2]["port"], "COM2");
  EXPECT_EQ(records[2]["result"], "stopped");
  EXPECT_EQ(records[2]["failure"]["code"], "stopped");
  EXPECT_EQ(testing::SchemaErrors("unit-log.schema.json", text.substr(earlier.size() + 1), true),
            "");
}

TEST(StationLine, TheUnitLogIsNeverWrittenThroughALink) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const std::string secret = dir.Write("secret", "keep\n{\"half");
  std::filesystem::create_symlink(secret, dir.path() / "units.jsonl");
  testing::RunOptions options;
  options.args = {WriteImage(dir, StandardImage(3, {1})), "--continuous", "--log",
                  dir.File("units.jsonl")};
  options.env = emulator.Environment();
  options.timeout = 10s;
  const auto run = testing::RunProgram(testing::BinaryPath("downloader-station"), options);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "downloader-station: cannot write the unit log " + dir.File("units.jsonl") +
                         ": it is a link\n");
  EXPECT_EQ(testing::ReadFileBytes(secret), "keep\n{\"half") << "not even its half line cut";
  EXPECT_EQ(emulator.Stop().Com(1).connections, 0);
}

TEST(StationLine, AnImageReplacedWhileTheLineRunsFlashesNoOtherUnit) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  ASSERT_EQ(emulator.Command("unplug 1"), "COM1 unplugged");
  TempDir dir;
  LineStation station(emulator.Environment(), {WriteImage(dir, StandardImage(3, {2})),
                                               "--continuous", "--report", dir.File("line.json")});
  ASSERT_TRUE(station.WaitFor("COM1: waiting for a module")) << station.Seen();
  ASSERT_EQ(emulator.Command("plug 1"), "COM1 plugged type=3 version=1.1");
  ASSERT_TRUE(station.WaitFor("COM1: PASS, remove the module: 044-Download successful!"))
      << station.Seen();
  ASSERT_EQ(emulator.Command("unplug 1"), "COM1 unplugged");
  ASSERT_TRUE(station.WaitFor("COM1: waiting for a module")) << station.Seen();

  // Another image copied over the file: the next module is not flashed with it.
  WriteImage(dir, StandardImage(3, {5}));
  ASSERT_EQ(emulator.Command("plug 1 type=3,version=1.0"), "COM1 plugged type=3 version=1.0");
  EXPECT_EQ(station.Process().Wait(20s), 2) << station.Seen();
  EXPECT_EQ(json::parse(testing::ReadFileBytes(dir.File("line.json")))["ended"], "image");
  const auto dump = emulator.Stop();
  // The module in the fixture at the start, the one flashed, the one put in after the change.
  ASSERT_EQ(dump.Com(1).units.size(), 3u);
  EXPECT_EQ(dump.Com(1).units[1].downloads.size(), 1u);
  EXPECT_TRUE(dump.Com(1).units[2].downloads.empty()) << "the last module was not written";
}

}  // namespace
}  // namespace downloader::e2e
