// downloader-station's logic: the status lines, the port lists, the rows, the table, the
// report, and whole rounds run on a scripted host with its own clock.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>

#include "model.h"
#include "options.h"
#include "ports.h"
#include "report.h"
#include "station.h"
#include "status_line.h"
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
  const auto options =
      ParseStationOptions({"--ports=COM2-COM3", "image.obj", "--report", "r.json", "--repeat",
                           "--skip-empty", "--timeout", "5", "--loader", "/opt/downloader"},
                          error);
  ASSERT_TRUE(options) << error;
  EXPECT_EQ(options->image, "image.obj");
  EXPECT_EQ(options->ports, (std::vector<int>{2, 3}));
  EXPECT_EQ(options->report, "r.json");
  EXPECT_TRUE(options->repeat && options->skipEmpty);
  EXPECT_EQ(options->timeout, 5s);
  EXPECT_EQ(options->loader, "/opt/downloader");

  const std::map<std::vector<std::string>, std::string> refused = {
      {{}, "no image given"},
      {{"a.obj", "b.obj"}, "one image only: 'b.obj' is a second"},
      {{"a.obj", "--ports"}, "--ports needs a value"},
      {{"a.obj", "--ports", "COM1,COM1"}, "--ports: COM1 is named twice"},
      {{"a.obj", "--timeout", "0"}, "--timeout takes a number of seconds from 1 to 86400, not '0'"},
      {{"a.obj", "--fast"}, "unknown option '--fast'"},
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
  row.End({}, "unused", false);
  EXPECT_EQ(row.outcome, Outcome::kSucceeded);
  EXPECT_EQ(row.failure, "");

  PortRow empty;
  empty.com = 4;
  empty.Apply(Line("INF:", "111-PORT=COM4 DEVICE=none VERSION=n/a LOOPBACK=No ECHO=No"));
  empty.Apply(Line("ERR:", "023-No Korvanetics C found.", true));
  PortRow skipped = empty;
  empty.End({}, "", false);
  skipped.End({}, "", true);
  EXPECT_EQ(empty.outcome, Outcome::kFailed);
  EXPECT_EQ(skipped.outcome, Outcome::kEmpty);

  PortRow died;
  died.End({}, "the loader ended without a final line (signal 9, Killed)", true);
  EXPECT_EQ(died.outcome, Outcome::kFailed);
  EXPECT_EQ(died.failure, "the loader ended without a final line (signal 9, Killed)");
}

Round SampleRound() {
  Round round;
  round.number = 2;
  round.image = {"/lab/pump.obj", "Veltrana", "Korvanetics C", "fw", 25049};
  const auto add = [&](int com, std::vector<station::StatusLine> lines, const std::string& why) {
    PortRow row;
    row.com = com;
    for (const auto& line : lines) row.Apply(line);
    if (!why.empty()) row.End({}, why, false);
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
  // At 80 columns the success line stays whole; the bar gives way first.
  EXPECT_EQ(FitTableColumns(80, 13, 24), (TableColumns{13, 10, 24}));
  EXPECT_EQ(FitTableColumns(80, 13, 73), (TableColumns{13, 4, 30}));
  EXPECT_EQ(FitTableColumns(120, 13, 24), (TableColumns{13, 12, 62}));
  EXPECT_EQ(FitTableColumns(60, 13, 24), (TableColumns{11, 4, 12}));
  EXPECT_EQ(FitTableColumns(54, 13, 24), std::nullopt) << "plain lines instead";
  EXPECT_EQ(DisplayColumns("\xe6\x97\xa5\xe6\x9c\xac"), 4);  // two CJK ideographs
  EXPECT_EQ(DisplayColumns("e\xcc\x81"), 1);                 // e and a combining acute

  // A module named in wide characters, its variant at the end, on 60 columns: every line
  // takes 59, and the name keeps its end.
  Round round;
  round.image = {"/lab/p.obj", "V", "P", "f", 7};
  PortRow row;
  row.com = 12;
  row.Apply(Line("INF:",
                 "111-PORT=COM12 DEVICE=\xe6\xb3\xb5\xe6\xb5\xa6\xe6\x8e\xa7"
                 "\xe5\x88\xb6\xe5\x99\xa8 Pump24 VERSION=v1.1 LOOPBACK=No ECHO=Yes"));
  row.Apply(Line("ERR:",
                 "025-Hardware communication failure.  Check serial cable and power "
                 "supply.",
                 true));
  row.End({}, "", false);
  round.rows.push_back(row);
  const auto lines = RenderTable(round, {60, false}, 0ms);
  ASSERT_EQ(lines.size(), 4u);
  for (const std::string& line : lines) EXPECT_EQ(DisplayColumns(line), 59) << line;
  const std::string start = "COM12  \xe6\xb3\xb5\xe6\xb5\xa6\xe6\x8e\xa7 \xe2\x80\xa6p24  v1.1";
  EXPECT_EQ(lines[2].substr(0, start.size()), start) << lines[2];
  EXPECT_NE(lines[2].find("  025-Hardware"), std::string::npos) << lines[2];
  EXPECT_TRUE(RenderTable(round, {50, false}, 0ms).empty());
}

TEST(StationTable, TextsFromTheLoaderCannotDriveTheTerminal) {
  EXPECT_EQ(DisplayText("Pump\x1b[2J\r\nX\x9b\xc3\xa9\xc2\x9b\xe2\x82"), "Pump?[2J X?\xc3\xa9????");
}

TEST(StationReport, EveryPortOfEveryRound) {
  Round round = SampleRound();
  round.rows[0].messages = {"a note"};
  round.rows[2].End({}, "", true);  // skipped as empty this time
  round.image.product = "Pump \xff";
  round.start = WallTime(std::chrono::milliseconds(1767225600123));
  const auto report = nlohmann::json::parse(ReportJson({round, round}));
  ASSERT_EQ(report["rounds"].size(), 2u);
  const auto& r = report["rounds"][0];
  EXPECT_EQ(r["start"], "2026-01-01T00:00:00.123Z");
  EXPECT_EQ(r["counts"],
            nlohmann::json::parse(R"({"ports": 5, "succeeded": 1, "failed": 3, "empty": 1})"))
      << "a port still running counts as failed";
  EXPECT_EQ(r["ports"][0], nlohmann::json::parse(R"({
      "port": "COM1",
      "image": {"file": "/lab/pump.obj", "product": "Pump \ufffd", "checksum": 25049},
      "start": "1970-01-01T00:00:00.000Z", "end": "1970-01-01T00:00:00.000Z",
      "module": {"device": "Korvanetics C", "version": "v1.1", "loopback": "No", "echo": "Yes"},
      "result": "succeeded",
      "status": {"number": 44, "channel": "EVT", "text": "044-Download successful!"},
      "messages": ["a note"]})"));
  EXPECT_EQ(r["ports"][2]["result"], "empty");
  EXPECT_EQ(r["ports"][3]["failure"], "killed after 30 s without a status line");
  EXPECT_EQ(r["ports"][3]["status"], nullptr);
  EXPECT_EQ(report["counts"]["succeeded"], 2);
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

  std::vector<std::vector<std::string>> started;
  std::vector<int> killed;
  int probesKilled = 0;  ///< /GetInfo runs ended once their final line came
  std::vector<int> stopped;
  std::map<std::string, std::string> files;

  int Start(const std::string&, const std::vector<std::string>& args, std::string&) override {
    const int id = static_cast<int>(started.size());
    started.push_back(args);
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
  std::vector<HostEvent> Wait(Clock::time_point deadline, bool) override {
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
  int width = 80;
  bool Live() override { return live; }
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
  EXPECT_EQ(host.started[1],
            (std::vector<std::string>{"/COM1", "/NoPrompts", "/Updates", "/lab/pump.obj"}));
  EXPECT_EQ(host.killed, (std::vector<int>{3, 2})) << "COM3 5 s after its final line, COM2 "
                                                      "30 s after its last";
  EXPECT_NE(terminal.out.find("COM2: failed: killed after 30 s without a status line\n"),
            std::string::npos)
      << terminal.out;
  EXPECT_NE(terminal.out.find("COM3: succeeded: 044-Download successful!\n"), std::string::npos);
  EXPECT_NE(terminal.out.find("COM1: succeeded: 044-Download successful!\n"), std::string::npos);
  const auto report = nlohmann::json::parse(host.files.at("report.json"));
  EXPECT_EQ(report["counts"]["succeeded"], 2);
  EXPECT_EQ(report["rounds"][0]["ports"][1]["failure"], "killed after 30 s without a status line");
}

TEST(StationRounds, TheTableGivesEachFailureWholeBelowItANarrowTerminalPlainLines) {
  const std::string failure =
      "025-Hardware communication failure.  Check serial cable and power supply.";
  for (const int width : {80, 50}) {
    SCOPED_TRACE(width);
    ScriptedHost host;
    host.scripts[1] = {{10ms, Downloads(1)}, {20ms, kSuccess}};
    host.scripts[2] = {{10ms, Downloads(2)}, {20ms, StatusLine("ERR:", failure, true)}};
    RecordingTerminal terminal;
    terminal.live = true;
    terminal.width = width;
    StationOptions options;
    options.image = "x.obj";
    options.ports = {1, 2};
    EXPECT_EQ(RunStation(options, host, terminal), kExitFailed);
    const bool table = terminal.out.find("\x1b[") != std::string::npos;
    EXPECT_EQ(table, width == 80) << terminal.out;
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
  EXPECT_EQ(round["ports"][1]["failure"], "stopped (Ctrl-C)");
  EXPECT_EQ(round["ports"][2]["failure"], "stopped (Ctrl-C)");
  EXPECT_EQ(terminal.out.find("waiting for a line"), std::string::npos);
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
  EXPECT_EQ(host.started.size(), 1u);
}

}  // namespace
}  // namespace downloader::station
