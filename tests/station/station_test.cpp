// downloader-station's logic: the status lines, the port lists, the rows, the table, the
// report, and whole rounds run on a scripted host with its own clock.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>

#include "model.h"
#include "options.h"
#include "ports.h"
#include "report.h"
#include "sha256.h"
#include "station.h"
#include "status_line.h"
#include "support/json_schema.h"
#include "support/run_process.h"
#include "support/temp_dir.h"
#include "view.h"

namespace downloader::station {
namespace {

using namespace std::chrono_literals;
using testing::StatusLine;

// --- Status lines ------------------------------------------------------------------------

TEST(StationLines, CutsTheOutputIntoLinesWhateverThePieces) {
  const std::string multiLine = "005-Missing parameter required.\r\n/Updates switch requires";
  const std::string output = "noise" + StatusLine("INF:", "111-PORT=COM2 DEVICE=none", false) +
                             StatusLine("INF:", "112-SLOT=0 PROGRESS=50%", false) +
                             StatusLine("ERR:", multiLine, true) +
                             "\x01"
                             "EVT:104-cut";
  for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, output.size()}) {
    StatusLineReader reader;
    std::vector<station::StatusLine> lines;
    for (std::size_t i = 0; i < output.size(); i += piece) {
      for (auto& line : reader.Feed(std::string_view(output).substr(i, piece)))
        lines.push_back(line);
    }
    EXPECT_TRUE(reader.Finish().empty()) << "a line without its CR LF is not a line";
    ASSERT_EQ(lines.size(), 3u) << "pieces of " << piece;
    EXPECT_EQ(lines[0].prefix, "INF:");
    EXPECT_EQ(lines[0].number, 111);
    EXPECT_FALSE(lines[0].final);
    EXPECT_EQ(lines[1].text, "112-SLOT=0 PROGRESS=50%");
    EXPECT_EQ(lines[2].text, multiLine) << "a final line ends at CR LF EOT only";
    EXPECT_EQ(lines[2].number, 5);
    EXPECT_TRUE(lines[2].final);
  }

  // A line cut short after its CR LF still counts, not as final; an endless one is dropped
  // and the reader finds the next.
  StatusLineReader reader;
  const std::string whole = StatusLine("ERR:", "025-Hardware", true);
  const auto cut = reader.Feed(whole.substr(0, whole.size() - 1));  // no EOT
  EXPECT_TRUE(cut.empty());
  const auto rest = reader.Finish();
  ASSERT_EQ(rest.size(), 1u);
  EXPECT_FALSE(rest[0].final);
  const std::string endless = "\x01INF:200-" + std::string(StatusLineReader::kMaxLineBytes, 'x');
  const auto after =
      reader.Feed(endless + "\r\n" + StatusLine("EVT:", "044-Download successful!", true));
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(after[0].text, "044-Download successful!");
}

// --- Ports -------------------------------------------------------------------------------

TEST(StationPorts, ListsRangesAndTheirMistakes) {
  std::string error;
  EXPECT_EQ(ParsePortList("COM1,com3-COM5, COM12-13", error),
            (std::vector<int>{1, 3, 4, 5, 12, 13}));
  const std::map<std::string, std::string> refused = {
      {"COM1,COM2-COM4,COM3", "COM3 is named twice"},
      {"COM0", "'COM0' is not a port (COM1 to COM99) or a range of ports"},
      {"COM100", "'COM100' is not a port (COM1 to COM99) or a range of ports"},
      {"COM1,,COM2", "'' is not a port (COM1 to COM99) or a range of ports"},
      {"COM9-COM3", "the range 'COM9-COM3' runs backwards"},
      {"", "the port list is empty"},
  };
  for (const auto& [list, why] : refused) {
    EXPECT_FALSE(ParsePortList(list, error)) << list;
    EXPECT_EQ(error, why) << list;
  }
}

TEST(StationPorts, ThePortMapsEntriesAreReadNotTheirDevices) {
  testing::TempDir dir;
  const std::filesystem::path map = dir.path() / "ports";
  std::filesystem::create_directory(map);
  dir.Write("ports/COM1", "rfc2217://127.0.0.1:4000\n");
  dir.Write("ports/COM2", " none \n");  // hidden on purpose
  dir.Write("ports/COM3", "\n");        // so is this
  // A link counts unread: this one leads to a FIFO, which an open would wait on forever.
  ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
  std::filesystem::create_symlink(dir.File("fifo"), map / "COM12");
  for (const char* other : {"COM05", "com6", "COM100", "COM", "notes"}) {
    dir.Write(std::string("ports/") + other, "/dev/null\n");
  }
  std::filesystem::create_directory(map / "COM7");
  EXPECT_EQ(PortMapPorts(map), (std::vector<int>{1, 12}));
  EXPECT_TRUE(PortMapPorts(dir.path() / "missing").empty());
}

// --- Options -----------------------------------------------------------------------------

TEST(StationCommandLine, ReadsEveryOptionAndRefusesMistakes) {
  std::string error;
  const auto options = ParseStationOptions(
      {"--ports=COM2-COM3", "image.obj", "--report", "r.json", "--repeat", "--skip-empty",
       "--timeout", "5", "--loader", "/opt/downloader", "--expect-checksum", "65535",
       "--expect-sha256=" + std::string(32, 'A') + std::string(32, '0'), "--follow-image",
       "--plain"},
      error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->image, "image.obj");
  EXPECT_EQ(options->ports, (std::vector<int>{2, 3}));
  EXPECT_EQ(options->report, "r.json");
  EXPECT_TRUE(options->repeat && options->skipEmpty && options->plain);
  EXPECT_EQ(options->timeout, 5s);
  EXPECT_EQ(options->loader, "/opt/downloader");
  EXPECT_EQ(options->expectChecksum, 65535);
  EXPECT_EQ(options->expectSha256, std::string(32, 'a') + std::string(32, '0'));
  EXPECT_TRUE(options->followImage);

  const std::map<std::vector<std::string>, std::string> refused = {
      {{}, "no image given"},
      {{"a.obj", "b.obj"}, "one image only: 'b.obj' is a second"},
      {{"a.obj", "--ports"}, "--ports needs a value"},
      {{"a.obj", "--ports", "COM1,COM1"}, "--ports: COM1 is named twice"},
      {{"a.obj", "--timeout", "0"}, "--timeout takes a number of seconds from 1 to 86400, not '0'"},
      {{"a.obj", "--fast"}, "unknown option '--fast'"},
      {{"a.obj", "--expect-checksum", "65536"},
       "--expect-checksum takes the image's checksum, a number from 0 to 65535, not '65536'"},
      {{"a.obj", "--expect-sha256", "abc"},
       "--expect-sha256 takes the image file's SHA-256, 64 hexadecimal digits, not 'abc'"},
  };
  for (const auto& [args, why] : refused) {
    EXPECT_FALSE(ParseStationOptions(args, error));
    EXPECT_EQ(error, why);
  }
}

// --- Rows, table and report --------------------------------------------------------------

station::StatusLine Line(const std::string& prefix, const std::string& text, bool final = false) {
  return {prefix, text, MessageNumber(text), final};
}

TEST(StationRows, FollowTheLoadersLines) {
  ImageInfo image;
  ASSERT_TRUE(ParseInformationLine(
      "051-COMPANY=Veltrana PRODUCT=Pump X FIRMWARE=fw 2 CHECKSUM=25049 COMPILEDATE=Thursday",
      image));
  EXPECT_EQ(image.product, "Pump X");
  EXPECT_EQ(image.firmware, "fw 2");
  EXPECT_EQ(image.checksum, 25049);
  EXPECT_FALSE(ParseInformationLine("012-Checksum Error.", image));

  // A custom product's port line has no VERSION; a product name may hold blanks.
  const auto custom = ParsePortLine("111-PORT=COM3 DEVICE=Pump X LOOPBACK=Yes ECHO=Yes", "COM3");
  ASSERT_TRUE(custom);
  EXPECT_EQ(custom->device, "Pump X");
  EXPECT_EQ(custom->version, "");
  EXPECT_EQ(custom->loopback, "Yes");
  EXPECT_FALSE(ParsePortLine("111-PORT=COM31 DEVICE=Pump X LOOPBACK=No ECHO=No", "COM3"));

  PortRow row;
  row.com = 3;
  EXPECT_EQ(row.Apply(Line("INF:",
                           "111-PORT=COM3 DEVICE=Korvanetics C VERSION=v1.1 LOOPBACK=No ECHO=Yes")),
            Change::kFound);
  EXPECT_EQ(row.Apply(Line("EVT:", "104-Downloading to COM3.")), Change::kDownloading);
  EXPECT_EQ(row.Apply(Line("INF:", "112-SLOT=0 PROGRESS=50%")), Change::kNone);
  EXPECT_EQ(row.Apply(Line("INF:", "112-SLOT=0 PROGRESS=100%")), Change::kSlotDone);
  EXPECT_EQ(row.Apply(Line("INF:", "112-SLOT=2 PROGRESS=33%")), Change::kNone);
  EXPECT_EQ(row.slot, 2);
  EXPECT_EQ(row.percent, 33);
  EXPECT_EQ(row.Apply(Line("EVT:", "044-Download successful!", true)), Change::kFinal);
  EXPECT_EQ(row.Apply(Line("ERR:", "025-Hardware", true)), Change::kNone) << "after the final line";
  row.End({}, {}, false);
  EXPECT_EQ(row.outcome, Outcome::kSucceeded);
  EXPECT_FALSE(row.failure);

  PortRow empty;
  empty.com = 4;
  empty.Apply(Line("INF:", "111-PORT=COM4 DEVICE=none VERSION=n/a LOOPBACK=No ECHO=No"));
  empty.Apply(Line("ERR:", "023-No Korvanetics C found.", true));
  PortRow skipped = empty;
  empty.End({}, {}, false);
  skipped.End({}, {}, true);
  EXPECT_EQ(empty.outcome, Outcome::kFailed);
  EXPECT_EQ(skipped.outcome, Outcome::kEmpty);

  PortRow died;
  const Failure lost{FailureCode::kLoaderError,
                     "the loader ended without a final line (signal 9, Killed)"};
  died.End({}, lost, true);
  EXPECT_EQ(died.outcome, Outcome::kFailed);
  EXPECT_EQ(died.failure, lost);

  // Progress out of range (no loader of ours writes it) is not taken.
  PortRow odd;
  odd.com = 1;
  EXPECT_EQ(odd.Apply(Line("INF:", "112-SLOT=9 PROGRESS=100%")), Change::kNone);
  EXPECT_EQ(odd.Apply(Line("INF:", "112-SLOT=1 PROGRESS=250%")), Change::kNone);
  EXPECT_EQ(odd.slot, -1);
}

// Port COM5's row after its scan line (the fields after DEVICE=), the loader's messages on
// standard error and its final line 023.
PortRow Scanned(const std::string& fields, const std::vector<std::string>& messages = {}) {
  PortRow row;
  row.com = 5;
  row.Apply(Line("INF:", "111-PORT=COM5 DEVICE=" + fields));
  for (const std::string& message : messages) row.AddMessage(message);
  row.Apply(Line("ERR:", "023-No Korvanetics C found.", true));
  row.End({}, {}, true);  // empty ports skipped
  return row;
}

TEST(StationRows, TellWhatIsOnThePortAndWhyItFailed) {
  const PortRow empty = Scanned("none VERSION=n/a LOOPBACK=No ECHO=No");
  EXPECT_EQ(empty.Finding(), Found::kNothing);
  EXPECT_EQ(empty.outcome, Outcome::kEmpty);

  // Bytes but no echo: the loader says so on standard error, and the port is not empty.
  const PortRow noise = Scanned(
      "none VERSION=n/a LOOPBACK=No ECHO=No",
      {"downloader: COM5: bytes came back, but not the echo of what was sent: something other "
       "than a Korvanetics module answers, or the line is noisy"});
  EXPECT_EQ(noise.Finding(), Found::kNoise);
  EXPECT_EQ(noise.outcome, Outcome::kFailed) << "even when empty ports are skipped";
  EXPECT_EQ(noise.failure, (Failure{FailureCode::kStatus, "023-No Korvanetics C found."}));

  const PortRow busy = Scanned(
      "can't open port; in use VERSION=n/a LOOPBACK=n/a ECHO=n/a",
      {"downloader: rfc2217://127.0.0.1:4000 (COM5) is in use by process 412 (minicom); end "
       "it or wait until it lets go of the port"});
  EXPECT_EQ(busy.Finding(), Found::kInUse);
  EXPECT_EQ(busy.failure, (Failure{FailureCode::kInUse, "port in use by process 412 (minicom)"}));
  EXPECT_EQ(Scanned("can't open port; in use VERSION=n/a LOOPBACK=n/a ECHO=n/a").failure,
            (Failure{FailureCode::kInUse, "port in use"}));

  EXPECT_EQ(Scanned("invalid port VERSION=n/a LOOPBACK=n/a ECHO=n/a").Finding(),
            Found::kUnreachable);
  EXPECT_EQ(Scanned("none VERSION=n/a LOOPBACK=Yes ECHO=Yes").Finding(), Found::kUnidentified);
  EXPECT_EQ(Scanned("Korvanetics B VERSION=v1.0 LOOPBACK=No ECHO=Yes").Finding(), Found::kModule);
}

TEST(StationRows, OnlyEnterStartsARoundAndQEnds) {
  for (const char* again : {"", " ", "\r"}) EXPECT_EQ(ReadAnswer(again), Answer::kAgain);
  for (const char* end : {"q", "Q", "quit", " QUIT\r"}) EXPECT_EQ(ReadAnswer(end), Answer::kEnd);
  for (const char* other : {"COM3", "qq", "4006381333931", "y"}) {
    EXPECT_EQ(ReadAnswer(other), Answer::kOther) << other;
  }
}

Round SampleRound() {
  Round round;
  round.number = 2;
  round.image = {"/lab/pump.obj", "Veltrana", "Korvanetics C", "fw", 25049, ""};
  const auto add = [&](int com, std::vector<station::StatusLine> lines, const std::string& why) {
    PortRow row;
    row.com = com;
    for (const auto& line : lines) row.Apply(line);
    if (!why.empty()) row.End({}, Failure{FailureCode::kTimeout, why}, false);
    round.rows.push_back(row);
  };
  const auto found = [](int com, const std::string& fields) {
    return Line("INF:", "111-PORT=COM" + std::to_string(com) + " DEVICE=" + fields);
  };
  add(1,
      {found(1, "Korvanetics C VERSION=v1.1 LOOPBACK=No ECHO=Yes"), Line("EVT:", "104-x"),
       Line("INF:", "112-SLOT=2 PROGRESS=100%"), Line("EVT:", "044-Download successful!", true)},
      "-");
  add(2,
      {found(2, "Korvanetics C VERSION=v1.0 LOOPBACK=No ECHO=Yes"), Line("EVT:", "104-x"),
       Line("INF:", "112-SLOT=0 PROGRESS=50%")},
      "");
  add(3,
      {found(3, "none VERSION=n/a LOOPBACK=No ECHO=No"),
       Line("ERR:", "023-No Korvanetics C found.", true)},
      "-");
  add(4, {}, "killed after 30 s without a status line");
  add(5, {}, "");
  return round;
}

TEST(StationTable, OneRowPerPortFittedToTheTerminal) {
  const Round round = SampleRound();
  const std::vector<std::string> expected = {
      "Round 2: Korvanetics C, checksum 25049, pump.obj                                           ",
      "PORT   MODULE         VERSION  SLOT PROGRESS        RESULT                                 ",
      "COM1   Korvanetics C  v1.1        2 [#######] 100%  044-Download successful!               ",
      "COM2   Korvanetics C  v1.0        0 [###----]  50%  writing                                ",
      "COM3   none                                         023-No Korvanetics C found.            ",
      "COM4                                                killed after 30 s without a status line",
      "COM5                                                scanning                               ",
      "5 ports: 1 succeeded, 2 failed, 0 empty, 2 running, 12.3 s                                 ",
  };
  EXPECT_EQ(RenderTable(round, {92, false}, 12345ms), expected);

  // Colours wrap the cells without widening them.
  const auto coloured = RenderTable(round, {92, true}, 12345ms);
  ASSERT_EQ(coloured.size(), expected.size());
  EXPECT_NE(coloured[2].find("\x1b[32m044-Download successful!"), std::string::npos);
  EXPECT_NE(coloured[4].find("\x1b[31m023-"), std::string::npos);
  for (std::size_t i = 0; i < coloured.size(); ++i) {
    std::string plain;
    for (std::size_t k = 0; k < coloured[i].size(); ++k) {
      if (coloured[i][k] == '\x1b')
        k = coloured[i].find('m', k);
      else
        plain.push_back(coloured[i][k]);
    }
    EXPECT_EQ(plain, expected[i]);
  }

  EXPECT_EQ(OutcomeLine(round.rows[2]), "COM3: failed: 023-No Korvanetics C found.");
  EXPECT_EQ(EventLine(round.rows[0], Change::kFound), "COM1: found Korvanetics C v1.1");
  EXPECT_EQ(EventLine(round.rows[2], Change::kFound), "COM3: found none");
}

TEST(StationTable, NarrowsTheBarBeforeTheResultAndCountsWideCharactersTwice) {
  // At 80 columns the success line stays whole; the bar gives way first. At 60 the bar goes
  // before the result is cut, and the result before the module's name.
  EXPECT_EQ(FitTableColumns(80, 13, 24), (TableColumns{13, 10, 24}));
  EXPECT_EQ(FitTableColumns(80, 13, 73), (TableColumns{13, 4, 30}));
  EXPECT_EQ(FitTableColumns(120, 13, 24), (TableColumns{13, 12, 62}));
  EXPECT_EQ(FitTableColumns(60, 13, 48), (TableColumns{13, 0, 17}));
  EXPECT_EQ(FitTableColumns(47, 13, 24), std::nullopt) << "plain lines instead";
  EXPECT_EQ(DisplayColumns("\xe6\x97\xa5\xe6\x9c\xac"), 4);  // two CJK ideographs
  EXPECT_EQ(DisplayColumns("e\xcc\x81"), 1);                 // e and a combining acute

  const auto sixty = RenderTable(SampleRound(), {60, false}, 0ms);
  EXPECT_EQ(sixty[1], "PORT   MODULE         VERSION  SLOT DONE  RESULT           ");
  EXPECT_EQ(sixty[3], "COM2   Korvanetics C  v1.0        0  50%  writing          ");
  EXPECT_EQ(sixty[5], "COM4                                      killed after 30 \u2026")
      << "a cut result ends in an ellipsis";

  // A module named in wide characters, its variant at the end, on 52 columns: every line
  // takes 51, and the name keeps its end.
  Round round;
  round.image = {"/lab/p.obj", "V", "P", "f", 7, ""};
  PortRow row;
  row.com = 12;
  row.Apply(Line("INF:",
                 "111-PORT=COM12 DEVICE=\xe6\xb3\xb5\xe6\xb5\xa6\xe6\x8e\xa7"
                 "\xe5\x88\xb6\xe5\x99\xa8 Pump24 VERSION=v1.1 LOOPBACK=No ECHO=Yes"));
  row.Apply(Line("ERR:",
                 "025-Hardware communication failure.  Check serial cable and power "
                 "supply.",
                 true));
  row.End({}, {}, false);
  round.rows.push_back(row);
  const auto lines = RenderTable(round, {52, false}, 0ms);
  ASSERT_EQ(lines.size(), 4u);
  for (const std::string& line : lines) EXPECT_EQ(DisplayColumns(line), 51) << line;
  const std::string start = "COM12  \xe6\xb3\xb5\xe6\xb5\xa6\xe6\x8e\xa7\xe2\x80\xa6p24  v1.1";
  EXPECT_EQ(lines[2].substr(0, start.size()), start) << lines[2];
  EXPECT_NE(lines[2].find("  025-Hardwar\u2026"), std::string::npos) << lines[2];
  EXPECT_TRUE(RenderTable(round, {47, false}, 0ms).empty());
}

TEST(StationTable, TextsFromTheLoaderCannotDriveTheTerminal) {
  EXPECT_EQ(DisplayText("Pump\x1b[2J\r\nX\x9b\xc3\xa9\xc2\x9b\xe2\x82"), "Pump?[2J X?\xc3\xa9????");
}

TEST(StationReport, EveryPortOfEveryRoundAsItsSchemaSays) {
  Round round = SampleRound();
  round.rows[0].messages = {"a note"};
  round.rows[1].End({}, Failure{FailureCode::kStopped, "stopped (Ctrl-C)"}, false);
  round.rows[2].End({}, {}, true);  // skipped as empty this time
  round.rows[4].End({}, Failure{FailureCode::kStopped, "stopped (Ctrl-C)"}, false);
  round.image.product = "Pump \xff";
  round.image.sha256 = std::string(64, 'c');
  round.start = WallTime(std::chrono::milliseconds(1767225600123));
  const StationFacts facts{"1.7.0", "line-3", "/usr/bin/downloader", "", 25049, "", false};
  const std::string text = ReportJson(facts, {round, round});
  EXPECT_EQ(testing::SchemaErrors("station-report.schema.json", text), "");
  EXPECT_NE(testing::SchemaErrors("station-report.schema.json", R"({"rounds": []})"), "")
      << "the validator refuses what the schema does not describe";

  const auto report = nlohmann::json::parse(text);
  EXPECT_EQ(report["format_version"], 2);
  EXPECT_EQ(report["station"], nlohmann::json::parse(R"({"version": "1.7.0", "host": "line-3"})"));
  EXPECT_EQ(report["loader"]["version"], nullptr);
  EXPECT_EQ(report["pinning"]["expect_checksum"], 25049);
  const auto& r = report["rounds"][0];
  EXPECT_EQ(r["start"], "2026-01-01T00:00:00.123Z");
  EXPECT_EQ(r["counts"],
            nlohmann::json::parse(R"({"ports": 5, "succeeded": 1, "failed": 3, "empty": 1})"));
  EXPECT_EQ(r["ports"][0], nlohmann::json::parse(R"({
      "port": "COM1",
      "image": {"file": "/lab/pump.obj", "company": "Veltrana", "product": "Pump \ufffd",
                "firmware": "fw", "checksum": 25049, "sha256": ")" +
                                                 std::string(64, 'c') + R"("},
      "start": "1970-01-01T00:00:00.000Z", "end": "1970-01-01T00:00:00.000Z",
      "result": "succeeded", "found": "module",
      "module": {"device": "Korvanetics C", "version": 1.1, "loopback": false, "echo": true},
      "slot": 2, "percent": 100, "slots_written": 1,
      "status": {"number": 44, "channel": "EVT", "text": "044-Download successful!"},
      "failure": null,
      "messages": ["a note"]})"));
  for (const auto& port : r["ports"]) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : port.items()) keys.push_back(key);
    EXPECT_EQ(keys.size(), r["ports"][0].size()) << port.dump() << ": the same keys on every port";
  }
  EXPECT_EQ(r["ports"][1]["slot"], 0) << "where the download stopped";
  EXPECT_EQ(r["ports"][1]["percent"], 50);
  EXPECT_EQ(r["ports"][1]["failure"],
            nlohmann::json::parse(R"j({"code": "stopped", "text": "stopped (Ctrl-C)"})j"));
  EXPECT_EQ(r["ports"][2]["result"], "empty");
  EXPECT_EQ(r["ports"][2]["module"],
            nlohmann::json::parse(
                R"({"device": null, "version": null, "loopback": false, "echo": false})"));
  EXPECT_EQ(r["ports"][3]["failure"]["code"], "timeout");
  EXPECT_EQ(r["ports"][3]["status"], nullptr);
  EXPECT_EQ(report["totals"],
            nlohmann::json::parse(
                R"({"rounds": 2, "port_rounds": 10, "succeeded": 2, "failed": 6, "empty": 2})"));
  EXPECT_EQ(VersionJson("v2.A"), "v2.A") << "a type 2 module's version byte in hexadecimal";
}

// --- Whole rounds on a scripted host -----------------------------------------------------

// Loaders that answer from a script, on a clock of their own: time passes only in Wait.
class ScriptedHost final : public Host {
 public:
  struct Step {
    std::chrono::milliseconds after;
    std::string output;
  };
  /// What the loader for each port writes; it ends after its last step unless it hangs.
  std::map<int, std::vector<Step>> scripts;
  std::map<int, bool> hangs;
  std::string getInfo = StatusLine(
      "INF:", "051-COMPANY=V PRODUCT=Korvanetics C FIRMWARE=f CHECKSUM=7 COMPILEDATE=x", true);
  /// Loaders that ignore a request to stop.
  std::map<int, bool> stubborn;
  std::optional<std::chrono::milliseconds> interruptAt;

  /// The image file's bytes, whatever its name.
  std::string image = "image bytes";
  /// The operator's lines between rounds; then the end of input. `atAnswer` runs before
  /// each is given (the operator replaces the image file, say).
  std::deque<std::string> answers;
  std::function<void(ScriptedHost&)> atAnswer;

  std::vector<std::vector<std::string>> started;
  std::vector<int> killed;
  int probesKilled = 0;  ///< /GetInfo runs ended once their final line came
  std::vector<int> stopped;
  std::map<std::string, std::string> files;

  // The station's check for port map entries reads the environment: these rounds have no
  // port map, so every port is there.
  ScriptedHost() { ::unsetenv("DOWNLOADER_PORTS"); }

  /// The loaders started for port `com`, each with its arguments.
  std::vector<std::vector<std::string>> LoadersOf(int com) const {
    std::vector<std::vector<std::string>> loaders;
    for (const auto& args : started) {
      if (args[0] == "/COM" + std::to_string(com)) loaders.push_back(args);
    }
    return loaders;
  }

  int Start(const std::string&, const std::vector<std::string>& args, std::string&) override {
    const int id = static_cast<int>(started.size());
    started.push_back(args);
    if (args[0] == "--version") {
      At(now_ + 1ms, Output(id, "downloader 9.8.7\n"));
      At(now_ + 1ms, Ended(id, "exit status 0"));
      return id;
    }
    if (args[0] == "/GetInfo") {
      At(now_ + 1ms, Output(id, getInfo));
      At(now_ + 1ms, Ended(id, "exit status 0"));
      return id;
    }
    const int com = std::stoi(args[0].substr(4));
    comOf_[id] = com;
    auto t = now_;
    for (const Step& step : scripts[com]) {
      t += step.after;
      At(t, Output(id, step.output));
    }
    if (!hangs[com]) At(t + 1ms, Ended(id, "exit status 0"));
    return id;
  }
  void Stop(int id) override {
    stopped.push_back(comOf_[id]);
    if (!stubborn[comOf_[id]]) Finish(id, "signal 15, Terminated");
  }
  void Kill(int id) override {
    if (comOf_.count(id) == 0) {
      ++probesKilled;
      Finish(id, "signal 9, Killed");
      return;
    }
    killed.push_back(comOf_[id]);
    Finish(id, "signal 9, Killed");
  }
  std::vector<HostEvent> Wait(Clock::time_point deadline, bool watchOperator) override {
    if (watchOperator && queue_.empty()) {
      if (answers.empty()) return {HostEvent{HostEvent::Kind::kOperatorEnd, -1, "", "", 0}};
      if (atAnswer) atAnswer(*this);
      const std::string line = answers.front();
      answers.pop_front();
      return {HostEvent{HostEvent::Kind::kOperatorLine, -1, line, "", 0}};
    }
    if (interruptAt && Clock::time_point(*interruptAt) <= deadline &&
        (queue_.empty() || Clock::time_point(*interruptAt) < queue_.begin()->first)) {
      now_ = std::max(now_, Clock::time_point(*interruptAt));
      interruptAt.reset();
      return {HostEvent{HostEvent::Kind::kInterrupt, -1, "", "Ctrl-C", 2}};
    }
    if (queue_.empty() || queue_.begin()->first > deadline) {
      if (deadline == Clock::time_point::max()) throw std::runtime_error("waits forever");
      now_ = std::max(now_, deadline);
      return {};
    }
    now_ = std::max(now_, queue_.begin()->first);
    std::vector<HostEvent> events;
    while (!queue_.empty() && queue_.begin()->first <= now_) {
      events.push_back(queue_.begin()->second);
      queue_.erase(queue_.begin());
    }
    return events;
  }
  Clock::time_point Now() override { return now_; }
  bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string&) override {
    files[path] = std::string(bytes);
    return true;
  }
  bool CanCreate(const std::string&, std::string&) override { return true; }
  std::string DefaultLoader() override { return "downloader"; }
  bool AppendLine(const std::string& path, std::string_view line, std::string&) override {
    files[path] += std::string(line) + "\n";
    return true;
  }
  bool DropHalfLine(const std::string& path, std::size_t& dropped, std::string&) override {
    std::string& text = files[path];
    const std::size_t keep = text.find_last_of('\n') + 1;  // 0 when there is none
    dropped = text.size() - keep;
    text.resize(keep);
    return true;
  }
  std::string HostName() override { return "line-7"; }
  bool ReadWholeFile(const std::string&, std::size_t, std::string& bytes, std::string&) override {
    bytes = image;
    return true;
  }
  bool PrivateCopy(std::string_view bytes, const std::string& name, std::string& path,
                   std::string&) override {
    path = "/private/" + name;
    files[path] = std::string(bytes);
    return true;
  }

 private:
  static HostEvent Output(int id, std::string bytes) {
    return {HostEvent::Kind::kOutput, id, std::move(bytes), "", 0};
  }
  static HostEvent Ended(int id, std::string how) {
    return {HostEvent::Kind::kEnded, id, "", std::move(how), 0};
  }
  void At(Clock::time_point t, HostEvent event) { queue_.emplace(t, std::move(event)); }
  // Its end comes now, in place of whatever it was still to write.
  void Finish(int id, const std::string& how) {
    std::erase_if(queue_, [&](const auto& entry) { return entry.second.id == id; });
    At(now_, Ended(id, how));
  }

  Clock::time_point now_{};
  std::map<int, int> comOf_;
  std::multimap<Clock::time_point, HostEvent> queue_;
};

class RecordingTerminal final : public Terminal {
 public:
  std::string out;
  std::string err;
  bool live = false;
  bool inputTerminal = false;
  int width = 80;
  bool Live() override { return live; }
  bool InputIsTerminal() override { return inputTerminal; }
  bool Colours() override { return false; }
  int Width() override { return width; }
  int Height() override { return 24; }
  void Out(std::string_view text) override { out += text; }
  void Err(std::string_view text) override { err += text; }
  void Quiet(bool) override {}
  void FlushInput() override {}
};

std::string Downloads(int com) {
  return StatusLine("INF:",
                    "111-PORT=COM" + std::to_string(com) +
                        " DEVICE=Korvanetics C VERSION=v1.1 LOOPBACK=No ECHO=Yes",
                    false) +
         StatusLine("EVT:", "104-Downloading to COM" + std::to_string(com) + ".", false) +
         StatusLine("INF:", "112-SLOT=0 PROGRESS=50%", false);
}
const std::string kSuccess = StatusLine("EVT:", "044-Download successful!", true);

TEST(StationRounds, ASilentLoaderIsKilledAndTheOthersFinish) {
  ScriptedHost host;
  host.scripts[1] = {{100ms, Downloads(1)}, {20s, kSuccess}};
  host.scripts[2] = {{100ms, Downloads(2)}};  // then nothing more, ever
  host.hangs[2] = true;
  host.scripts[3] = {{10ms, Downloads(3)}, {50ms, kSuccess}};
  host.hangs[3] = true;  // its final line came, but it does not end
  RecordingTerminal terminal;
  StationOptions options;
  options.image = "/lab/pump.obj";
  options.ports = {1, 2, 3};
  options.report = "report.json";
  options.timeout = 30s;

  EXPECT_EQ(RunStation(options, host, terminal), kExitFailed) << terminal.out << terminal.err;
  EXPECT_EQ(host.started[0], (std::vector<std::string>{"--version"}));
  EXPECT_EQ(host.started[1], (std::vector<std::string>{"/GetInfo", "/lab/pump.obj"}));
  EXPECT_EQ(host.started[2],
            (std::vector<std::string>{"/COM1", "/NoPrompts", "/Updates", "/private/image.obj"}))
      << "the loaders flash the station's own copy of the image it checked";
  EXPECT_EQ(host.killed, (std::vector<int>{3, 2})) << "COM3 5 s after its final line, COM2 "
                                                      "30 s after its last";
  EXPECT_NE(terminal.out.find("COM2: failed: killed after 30 s without a status line\n"),
            std::string::npos)
      << terminal.out;
  EXPECT_NE(terminal.out.find("COM3: succeeded: 044-Download successful!\n"), std::string::npos);
  EXPECT_NE(terminal.out.find("COM1: succeeded: 044-Download successful!\n"), std::string::npos);
  const auto report = nlohmann::json::parse(host.files.at("report.json"));
  EXPECT_EQ(report["totals"]["succeeded"], 2);
  EXPECT_EQ(report["rounds"][0]["ports"][1]["failure"]["text"],
            "killed after 30 s without a status line");
  EXPECT_EQ(report["loader"]["version"], "9.8.7");
}

TEST(StationRounds, TheTableGivesEachFailureWholeBelowItANarrowTerminalPlainLines) {
  const std::string failure =
      "025-Hardware communication failure.  Check serial cable and power supply.";
  // --plain asks for the plain lines on a terminal wide enough for the table.
  for (const auto& [width, plain] : {std::pair{80, false}, {45, false}, {80, true}}) {
    SCOPED_TRACE(std::to_string(width) + (plain ? " --plain" : ""));
    ScriptedHost host;
    host.scripts[1] = {{10ms, Downloads(1)}, {20ms, kSuccess}};
    host.scripts[2] = {{10ms, Downloads(2)}, {20ms, StatusLine("ERR:", failure, true)}};
    RecordingTerminal terminal;
    terminal.live = true;
    terminal.width = width;
    StationOptions options;
    options.image = "x.obj";
    options.ports = {1, 2};
    options.plain = plain;
    EXPECT_EQ(RunStation(options, host, terminal), kExitFailed);
    const bool table = terminal.out.find("\x1b[") != std::string::npos;
    EXPECT_EQ(table, width == 80 && !plain) << terminal.out;
    EXPECT_NE(terminal.out.find("COM2: failed: " + failure + "\n"), std::string::npos)
        << terminal.out;
    EXPECT_EQ(terminal.out.find("COM1: succeeded") == std::string::npos, table)
        << "below the table, the failures alone";
  }
}

TEST(StationRounds, ControlCStopsEveryLoaderAndKeepsWhatFinished) {
  ScriptedHost host;
  host.scripts[1] = {{10ms, Downloads(1)}, {20ms, kSuccess}};
  host.scripts[2] = {{10ms, Downloads(2)}, {20s, kSuccess}};
  host.scripts[3] = {{10ms, Downloads(3)}, {20s, kSuccess}};
  host.stubborn[3] = true;
  host.interruptAt = 1s;
  RecordingTerminal terminal;
  StationOptions options;
  options.image = "x.obj";
  options.ports = {1, 2, 3};
  options.report = "r.json";
  options.repeat = true;  // the stop ends the station, with no question asked

  EXPECT_EQ(RunStation(options, host, terminal), 130);
  EXPECT_EQ(host.stopped, (std::vector<int>{2, 3}));
  EXPECT_EQ(host.killed, (std::vector<int>{3})) << "the one that did not stop";
  const auto report = nlohmann::json::parse(host.files.at("r.json"));
  const auto& round = report["rounds"][0];
  EXPECT_TRUE(round["interrupted"]);
  EXPECT_EQ(round["ports"][0]["result"], "succeeded");
  EXPECT_EQ(round["ports"][1]["failure"]["text"], "stopped (Ctrl-C)");
  EXPECT_EQ(round["ports"][2]["failure"]["code"], "stopped");
  EXPECT_EQ(terminal.out.find(PromptLine(false)), std::string::npos);
}

TEST(StationRounds, AnImageTheLoaderRefusesEndsTheStationBeforeAnyDownload) {
  ScriptedHost host;
  host.getInfo =
      StatusLine("ERR:", "012-Checksum Error.  Data is corrupt in file \"x.obj\".", true);
  RecordingTerminal terminal;
  StationOptions options;
  options.image = "x.obj";
  options.ports = {1};
  EXPECT_EQ(RunStation(options, host, terminal), kExitUsage);
  EXPECT_EQ(terminal.err,
            "downloader-station: the loader refuses the image x.obj: 012-Checksum Error.  Data is "
            "corrupt in file \"x.obj\".\n");
  EXPECT_EQ(host.started.size(), 2u) << "--version and /GetInfo";
}

TEST(StationRounds, OnlyEnterFlashesAgainAndAnyOtherLineIsAnswered) {
  for (const bool person : {false, true}) {
    ScriptedHost host;
    host.scripts[1] = {{10ms, kSuccess}};
    host.answers = {"COM3", "", "Q", ""};
    RecordingTerminal terminal;
    terminal.inputTerminal = person;
    StationOptions options;
    options.image = "x.obj";
    options.ports = {1};
    options.repeat = true;
    EXPECT_EQ(RunStation(options, host, terminal), kExitSucceeded);
    EXPECT_EQ(host.LoadersOf(1).size(), 2u) << "a round for Enter alone; Q ends";
    EXPECT_NE(terminal.out.find(PromptLine(person) + "\n'COM3' is not an answer: Enter flashes "
                                                     "again, q ends\nround 2: "),
              std::string::npos)
        << terminal.out;
    EXPECT_NE(PromptLine(person).find(person ? "or q and Enter to end" : "(q ends)"),
              std::string::npos);
  }
}

TEST(StationRounds, AnImageChangedBetweenRoundsIsNeverFlashedUnlessFollowed) {
  const std::string later = StatusLine(
      "INF:", "051-COMPANY=V PRODUCT=Korvanetics C FIRMWARE=g CHECKSUM=8 COMPILEDATE=x", true);
  for (const bool follow : {false, true}) {
    SCOPED_TRACE(follow);
    ScriptedHost host;
    host.scripts[1] = {{10ms, kSuccess}};
    host.answers = {""};
    host.atAnswer = [&later](ScriptedHost& h) {
      h.image = "another image";
      h.getInfo = later;
    };
    RecordingTerminal terminal;
    StationOptions options;
    options.image = "/lab/pump.obj";
    options.ports = {1};
    options.repeat = true;
    options.report = "r.json";
    options.followImage = follow;
    const int status = RunStation(options, host, terminal);
    const auto report = nlohmann::json::parse(host.files.at("r.json"));
    if (!follow) {
      EXPECT_EQ(status, kExitUsage);
      EXPECT_EQ(terminal.err,
                "downloader-station: the image /lab/pump.obj has changed since it was checked "
                "(SHA-256 " +
                    Sha256Hex("image bytes") + ", now " + Sha256Hex("another image") +
                    "): stopped before round 2, nothing was flashed; start the station again "
                    "to flash the new image, or give --follow-image\n");
      EXPECT_EQ(host.LoadersOf(1).size(), 1u) << "no port touched in round 2";
      EXPECT_EQ(host.files.at("/private/image.obj"), "image bytes");
      EXPECT_EQ(report["rounds"].size(), 1u);
    } else {
      EXPECT_EQ(status, kExitSucceeded) << terminal.err;
      EXPECT_EQ(host.LoadersOf(1).size(), 2u);
      EXPECT_EQ(host.files.at("/private/image.obj"), "another image");
      EXPECT_EQ(report["rounds"][1]["image"]["checksum"], 8);
      EXPECT_EQ(report["rounds"][1]["image"]["sha256"], Sha256Hex("another image"));
      EXPECT_NE(terminal.out.find("the image /lab/pump.obj has changed: now Korvanetics C, "
                                  "checksum 8, SHA-256 " +
                                  Sha256Hex("another image") + "\n"),
                std::string::npos);
    }
  }
}

TEST(StationRounds, AnImageThatIsNotTheOneExpectedIsRefusedBeforeAnyPort) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  const std::string sha256 = Sha256Hex("image bytes");
  for (const bool bySha : {false, true}) {
    ScriptedHost host;
    RecordingTerminal terminal;
    StationOptions options;
    options.image = "x.obj";
    options.ports = {1};
    if (bySha) {
      options.expectSha256 = std::string(64, '0');
    } else {
      options.expectChecksum = 8;
    }
    EXPECT_EQ(RunStation(options, host, terminal), kExitUsage);
    EXPECT_EQ(terminal.err, bySha ? "downloader-station: the image x.obj has SHA-256 " + sha256 +
                                        ", not the expected " + std::string(64, '0') +
                                        "; nothing was flashed\n"
                                  : "downloader-station: the image x.obj has checksum 7, not the "
                                    "expected 8; nothing was flashed\n");
    EXPECT_TRUE(host.LoadersOf(1).empty());
  }
  // The right ones flash.
  ScriptedHost host;
  host.scripts[1] = {{10ms, kSuccess}};
  RecordingTerminal terminal;
  StationOptions options;
  options.image = "x.obj";
  options.ports = {1};
  options.expectChecksum = 7;
  options.expectSha256 = sha256;
  EXPECT_EQ(RunStation(options, host, terminal), kExitSucceeded) << terminal.err;
}

}  // namespace
}  // namespace downloader::station
