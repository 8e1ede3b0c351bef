// The production line's logic: a fixture's cycle driven by the answers of its checks and
// loaders, the presence check's line, the unit record, the table and SHA-256.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "line_log.h"
#include "line_model.h"
#include "line_view.h"
#include "sha256.h"
#include "support/status_text.h"

namespace downloader::station {
namespace {

using namespace std::chrono_literals;

StatusLine Line(const std::string& prefix, const std::string& text, bool final = false) {
  return {prefix, text, MessageNumber(text), final};
}

Probe Found(int com, const std::string& fields) {
  return ReadProbe({Line("INF:", "111-PORT=COM" + std::to_string(com) + " DEVICE=" + fields)}, com);
}
const std::string kModuleC = "Korvanetics C VERSION=v1.1 LOOPBACK=n/a ECHO=Yes";
const std::string kNothing = "none VERSION=n/a LOOPBACK=n/a ECHO=No";

// A fixture on its own clock: checks and loaders answer at once.
class Fixture {
 public:
  explicit Fixture(int retries = 0) : cycle(3, retries) {}

  /// Runs what is due; a check finds `fields`. Returns what was started.
  FixtureCycle::Start Check(const std::string& fields) {
    const auto due = cycle.Due(now, true);
    if (due == FixtureCycle::Start::kCheck) {
      cycle.CheckStarted(now);
      cycle.CheckEnded(Found(3, fields), {});
    }
    now += FixtureCycle::kCheckPeriod;
    return due;
  }
  /// Flashes the unit found: the loader ends with `final` (or without a final line, killed).
  void Flash(const std::string& final) {
    ASSERT_EQ(cycle.Due(now, true), FixtureCycle::Start::kFlash);
    cycle.FlashStarted(now, {});
    Attempt& attempt = cycle.Running();
    attempt.Apply(
        Line("INF:", "111-PORT=COM3 DEVICE=Korvanetics C VERSION=v1.1 LOOPBACK=No ECHO=Yes"));
    attempt.Apply(Line("INF:", "112-SLOT=0 PROGRESS=100%"));
    if (!final.empty())
      attempt.Apply(Line(final.rfind("044", 0) == 0 ? "EVT:" : "ERR:", final, true));
    attempt.row.End({}, {FailureCode::kTimeout, "killed after 30 s without a status line"}, false);
    cycle.FlashEnded(now, {}, false);
  }

  FixtureCycle cycle;
  Instant now{};
};

TEST(LineFixture, FlashesAModuleOnceUntilItIsTakenOutBouncesIncluded) {
  Fixture f;
  EXPECT_EQ(f.cycle.State(), FixtureState::kWaiting);
  EXPECT_EQ(f.Check(kNothing), FixtureCycle::Start::kCheck);
  EXPECT_EQ(f.cycle.Due(f.now - 1ms, true), FixtureCycle::Start::kNothing) << "one check a period";
  f.Check(kModuleC);
  EXPECT_EQ(f.cycle.State(), FixtureState::kFlashing);
  f.Flash("044-Download successful!");
  EXPECT_EQ(f.cycle.State(), FixtureState::kPassed);
  const auto unit = f.cycle.TakeEnded();
  ASSERT_TRUE(unit);
  EXPECT_EQ(unit->result, Unit::Result::kPassed);
  EXPECT_EQ(unit->type, 3);
  ASSERT_EQ(unit->attempts.size(), 1u);
  EXPECT_EQ(unit->attempts[0].lines.size(), 1u) << "the 111 line kept, progress and final not";
  EXPECT_FALSE(f.cycle.TakeEnded());

  // Left in the fixture, and a contact that bounces for two checks: never flashed again.
  for (const auto& fields :
       {kModuleC, kModuleC, kNothing, kNothing, kModuleC, kNothing, kNothing}) {
    EXPECT_EQ(f.Check(fields), FixtureCycle::Start::kCheck);
    EXPECT_EQ(f.cycle.State(), FixtureState::kPassed);
  }
  f.Check(kNothing);  // the third empty check in a row: taken out
  EXPECT_EQ(f.cycle.State(), FixtureState::kWaiting);
  f.Check(kModuleC);
  EXPECT_EQ(f.cycle.State(), FixtureState::kFlashing) << "the next module";
  f.Flash("024-EEPROM verify failure.");
  EXPECT_EQ(f.cycle.State(), FixtureState::kFailed) << "never another attempt after 024";
  EXPECT_EQ(f.cycle.Counts().passed, 1);
  EXPECT_EQ(f.cycle.Counts().failed, 1);
  EXPECT_EQ(f.cycle.Counts().Yield(), 0.5);
  EXPECT_EQ(f.cycle.Counts().PerHour(1min), 120.0);
}

TEST(LineFixture, RetriesACommunicationFailureWhileTheModuleStays) {
  Fixture f(2);
  f.Check(kModuleC);
  f.Flash("025-Hardware communication failure.  Check serial cable and power supply.");
  EXPECT_EQ(f.cycle.State(), FixtureState::kFlashing);
  EXPECT_FALSE(f.cycle.TakeEnded());
  f.Check(kModuleC);  // still there
  f.Flash("");        // a silent loader, killed
  f.Check(kModuleC);
  f.Flash("025-Hardware communication failure.  Check serial cable and power supply.");
  auto unit = f.cycle.TakeEnded();
  ASSERT_TRUE(unit) << "three attempts with two retries";
  EXPECT_EQ(unit->result, Unit::Result::kFailed);
  EXPECT_EQ(unit->attempts.size(), 3u);
  EXPECT_EQ(AttemptFailure(unit->attempts[1].row)->code, "timeout");

  // Taken out before the next attempt: the unit ends, as failed, once that is sure.
  for (int i = 0; i < 3; ++i) f.Check(kNothing);
  f.Check(kModuleC);
  f.Flash("025-Hardware communication failure.  Check serial cable and power supply.");
  f.Check(kNothing);
  f.Check(kNothing);
  EXPECT_FALSE(f.cycle.TakeEnded());
  f.Check(kNothing);
  unit = f.cycle.TakeEnded();
  ASSERT_TRUE(unit);
  EXPECT_EQ(unit->note, "taken out before another attempt");
  EXPECT_EQ(f.cycle.State(), FixtureState::kWaiting);
}

TEST(LineFixture, AVanishedDeviceIsShownAndTheFixtureResumesWhereItWas) {
  Fixture f;
  const std::string gone = "invalid port VERSION=n/a LOOPBACK=n/a ECHO=n/a";
  f.Check(gone);
  EXPECT_EQ(f.cycle.State(), FixtureState::kNoDevice);
  f.Check(kNothing);
  EXPECT_EQ(f.cycle.State(), FixtureState::kWaiting);
  f.Check(kModuleC);
  f.Flash("044-Download successful!");
  f.cycle.TakeEnded();
  f.Check(gone);  // the adapter is unplugged with the module in its fixture ...
  f.Check("can't open port; in use VERSION=n/a LOOPBACK=n/a ECHO=n/a");
  EXPECT_EQ(f.cycle.State(), FixtureState::kInUse);
  EXPECT_EQ(f.Check(kModuleC), FixtureCycle::Start::kCheck);  // ... and comes back with it
  EXPECT_EQ(f.cycle.State(), FixtureState::kPassed) << "the same module is not flashed again";

  // A check that says nothing usable changes nothing.
  EXPECT_EQ(ReadProbe({Line("ERR:", "025-x", true)}, 3).presence, Presence::kUnknown);
  EXPECT_EQ(Found(3, "Korvanetics E24 VERSION=v1.3 LOOPBACK=n/a ECHO=Yes").type, 5);
  EXPECT_EQ(Found(3, "Pump X LOOPBACK=n/a ECHO=Yes").type, 0);
  EXPECT_EQ(Found(3, "none VERSION=n/a LOOPBACK=n/a ECHO=Yes").presence, Presence::kModule)
      << "what echoes is a module, identified or not";
  EXPECT_EQ(ModuleType("Korvanetics C24"), 0);
}

TEST(LineFixture, TheEndLetsAUnitFinishAStopEndsIt) {
  Fixture f(1);
  f.Check(kModuleC);
  f.Flash("025-Hardware communication failure.  Check serial cable and power supply.");
  f.cycle.End({}, false);  // the order is complete: the unit still gets its retry
  EXPECT_TRUE(f.cycle.Busy());
  EXPECT_EQ(f.cycle.Due(f.now, false), FixtureCycle::Start::kCheck);
  f.cycle.End({}, true);  // Ctrl-C
  const auto unit = f.cycle.TakeEnded();
  ASSERT_TRUE(unit);
  EXPECT_EQ(unit->result, Unit::Result::kStopped);
  EXPECT_FALSE(f.cycle.Busy());
  EXPECT_EQ(f.cycle.Due(f.now + 1h, false), FixtureCycle::Start::kNothing);
}

Unit SampleUnit() {
  Fixture f;
  f.Check(kModuleC);
  f.Flash("044-Download successful!");
  Unit unit = *f.cycle.TakeEnded();
  unit.start = WallTime(1767225600123ms);
  unit.end = unit.start + 2345ms;
  unit.attempts[0].row.messages = {"a hint"};
  return unit;
}

TEST(LineRecords, OneLinePerUnitWithEveryField) {
  LineFacts facts;
  facts.host = "line-7";
  facts.stationVersion = "1.7.0";
  facts.image = {"/lab/pump.obj", "Veltrana", "Pump \xff", "fw 2", 25049, Sha256Hex("abc")};
  facts.devices = {{3, "/dev/serial/by-id/usb-FTDI_A1-if00"}};
  const std::string line = UnitRecordLine(facts, SampleUnit());
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto record = nlohmann::json::parse(line);
  EXPECT_EQ(record["format_version"], kUnitLogVersion);
  EXPECT_EQ(record["device"], "/dev/serial/by-id/usb-FTDI_A1-if00");
  EXPECT_EQ(record["loader"]["version"], nullptr);
  EXPECT_EQ(record["start"], "2026-01-01T00:00:00.123Z");
  EXPECT_EQ(record["duration_s"], 2.345);
  EXPECT_EQ(record["module"],
            nlohmann::json::parse(R"({"type": 3, "name": "Korvanetics C", "version": 1.1})"));
  EXPECT_EQ(record["image"]["product"], "Pump \ufffd");
  EXPECT_EQ(record["result"], "passed");
  EXPECT_EQ(record["status"]["channel"], "EVT");
  EXPECT_EQ(record["messages"], nlohmann::json::parse(R"(["a hint"])"));
  EXPECT_EQ(record["steps"][0],
            "111-PORT=COM3 DEVICE=Korvanetics C VERSION=v1.1 LOOPBACK=No ECHO=Yes");

  const auto report = nlohmann::json::parse(
      LineReportJson(facts, {{3, {5, 1, 0}}, {4, {}}}, WallTime(0s), WallTime(1h), "count"));
  EXPECT_EQ(report["totals"]["units_per_hour"], 6.0);
  EXPECT_EQ(report["fixtures"][1]["yield"], nullptr);
  EXPECT_EQ(report["ended"], "count");
}

TEST(LineTable, OneRowPerFixtureWithItsStateAndCounts) {
  std::vector<FixtureCycle> fixtures;
  fixtures.emplace_back(1, 0);
  Fixture passed;
  passed.Check(kModuleC);
  passed.Flash("044-Download successful!");
  Fixture failed;
  failed.Check(kModuleC);
  failed.Flash("024-EEPROM verify failure.");
  Fixture flashing;
  flashing.Check(kModuleC);
  flashing.cycle.FlashStarted(flashing.now, {});
  flashing.cycle.Running().Apply(Line("INF:", "112-SLOT=1 PROGRESS=50%"));
  Fixture gone;
  gone.Check("invalid port VERSION=n/a LOOPBACK=n/a ECHO=n/a");
  for (Fixture* f : {&passed, &failed, &flashing, &gone}) fixtures.push_back(f->cycle);
  const std::vector<std::string> notes = {"", "", "", "", "no entry COM3 in the port map"};
  LineView view;
  ImageInfo image{"/lab/pump.obj", "V", "Korvanetics C", "fw", 25049, ""};
  view.image = &image;
  view.fixtures = &fixtures;
  view.notes = &notes;
  view.elapsed = 30min;
  view.count = 10;
  const std::vector<std::string> expected = {
      "Line: Korvanetics C, checksum 25049, pump.obj; q and Enter or Ctrl-C ends      ",
      "PORT   MODULE         STATE                            PASS  FAIL  YIELD     /h",
      "COM1                  waiting                             0     0      -      0",
      "COM3   Korvanetics C  PASS, remove the module             1     0 100.0%      2",
      "COM3   Korvanetics C  FAIL, remove: 024-EEPROM verif      0     1   0.0%      2",
      "COM3   Korvanetics C  flashing  1 [#####------]  50%      0     0      -      0",
      "COM3                  no device: no entry COM3 in th      0     0      -      0",
      "1 of 10 passed, 1 failed, yield 50.0%, 4 units/h in 0:30:00                    ",
  };

  const auto lines = RenderLineTable(view, {80, false});
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(RenderLineTable(view, {60, false}).empty()) << "too narrow: plain lines";
  EXPECT_EQ(FixtureLine(fixtures[2], ""),
            "COM3: FAIL, remove the module: 024-EEPROM verify failure.");
  EXPECT_EQ(FixtureLine(fixtures[4], notes[4]), "COM3: no device: no entry COM3 in the port map");
}

TEST(LineRecords, Sha256OfKnownTexts) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  // 56 bytes: the length no longer fits in the first block.
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  Sha256 pieces;
  const std::string million(1000000, 'a');
  for (std::size_t i = 0; i < million.size(); i += 4093) pieces.Update(million.substr(i, 4093));
  EXPECT_EQ(pieces.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

}  // namespace
}  // namespace downloader::station
