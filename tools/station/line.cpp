#include "line.h"

#include <algorithm>
#include <optional>

#include "file_names.h"
#include "line_log.h"
#include "line_model.h"
#include "line_view.h"
#include "ports.h"
#include "sha256.h"
#include "status_line.h"

namespace downloader::station {

namespace {

using namespace std::chrono_literals;
using Clock = Host::Clock;

constexpr auto kRedrawPeriod = 100ms;
/// The clock in the counts line moves on at least this often.
constexpr auto kClockPeriod = 1s;
/// Presence checks that have written nothing for this long are killed.
constexpr auto kCheckTimeout = 10s;
/// Before their first line they have longer: a program may be slow to start on a busy
/// machine (or under a virus scanner), and a check killed then would only start again.
constexpr auto kCheckStartTimeout = 30s;
/// After its final line a loader has this long to end before it is killed; the line holds.
constexpr auto kEndGrace = 5s;
/// After a stop, the loaders have this long to end before they are killed.
constexpr auto kStopGrace = 2s;
/// The most the station reads of an image file, as for rounds.
constexpr std::size_t kMaxImageBytes = 16 * 1024 * 1024;
constexpr int kSignalExitBase = 128;
/// The exit status when the image changed under a running line, as for a refused image.
constexpr int kExitImageChanged = 2;
/// A line of a process's standard error is kept up to this many bytes.
constexpr std::size_t kMaxMessageBytes = 4096;

std::string Message(const std::string& text) {
  return "downloader-station: " + text + "\n";
}

// What runs for a fixture: nothing, its presence checks (`downloader --watch`, one line a
// check), or a loader flashing its unit.
struct Process {
  enum class Kind { kNone, kCheck, kFlash };
  Kind kind = Kind::kNone;
  int id = -1;
  StatusLineReader reader;
  std::string diagnostic;             // standard error up to its next newline
  std::vector<std::string> messages;  // the checks' lines on standard error since the last
  Clock::time_point lastHeard;
  bool heard = false;     // it has written something
  bool checking = false;  // the fixture's cycle counts a check of this process under way
  bool stopping = false;  // asked to end: what it writes from now on is not heard
  bool killed = false;
};

Clock::duration CheckTimeout(const Process& process) {
  return process.heard ? Clock::duration(kCheckTimeout) : Clock::duration(kCheckStartTimeout);
}

class Line {
 public:
  Line(const LineSetup& setup, const StationOptions& options, Host& host, Terminal& terminal)
      : setup_(setup), options_(options), host_(host), terminal_(terminal) {}

  int Run();

 private:
  bool Prepare();
  bool ImageStillPinned();
  bool Accepting() const { return !ending_; }
  void StartDue();
  void StartCheck(std::size_t i);
  void Checked(std::size_t i, const StatusLine& line);
  void StartFlash(std::size_t i);
  void Handle(const HostEvent& event);
  void Collect(std::size_t i, const HostEvent& event);
  void Ended(std::size_t i, const std::string& how);
  void KillOverdue();
  void Stop(const HostEvent& event);
  void EndOf(std::size_t i);
  void Record(const Unit& unit);
  void WriteReport(const std::string& ended);
  void Show(bool force);
  bool Draw();
  void Erase();
  void Say(const std::string& line) { terminal_.Out(line + "\n"); }
  void Complain(const std::string& text) { terminal_.Err(Message(text)); }
  std::chrono::milliseconds Elapsed() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(host_.Now() - started_);
  }
  UnitCounts Total() const;

  const LineSetup& setup_;
  const StationOptions& options_;
  Host& host_;
  Terminal& terminal_;
  LineFacts facts_;
  std::vector<FixtureCycle> fixtures_;
  std::vector<Process> processes_;
  std::vector<std::string> notes_;  // what each fixture's last check wrote on standard error
  std::vector<std::string> shown_;  // each fixture's state as its last plain line told it
  Clock::time_point started_;
  WallTime startedWall_;
  bool ending_ = false;
  std::string endedBy_;
  int interruptSignal_ = 0;
  std::string interruptHow_;
  Clock::time_point stopDeadline_ = Clock::time_point::max();
  bool recordFailed_ = false;
  bool imageChanged_ = false;  // the image file was no longer the one pinned
  // The terminal: the table drawn in place while it fits, plain lines while it does not.
  bool live_ = false;
  bool tableShown_ = false;
  std::size_t drawnLines_ = 0;
  int drawnWidth_ = 0;
  Clock::time_point lastDraw_;
  bool dirty_ = true;
  std::vector<HostEvent> pending_;  // a stop that came before the line started
};

bool Line::Prepare() {
  std::string error;
  if (!options_.log.empty()) {
    std::size_t dropped = 0;
    if (!host_.DropHalfLine(options_.log, dropped, error) ||
        !host_.CanCreate(options_.log, error)) {
      Complain("cannot write the unit log " + options_.log + ": " + error);
      return false;
    }
    if (dropped > 0) {
      Complain("the unit log " + options_.log + " ended in a line cut short (" +
               std::to_string(dropped) + " bytes, a unit being written when the station " +
               "stopped): removed");
    }
  }
  facts_.host = host_.HostName();
  facts_.stationVersion = DOWNLOADER_VERSION;
  facts_.loader = setup_.loader;
  facts_.loaderVersion = setup_.loaderVersion;
  facts_.image = setup_.info;
  if (const auto map = PortMapDirectory()) facts_.devices = PortMapDevices(*map);
  for (const int com : setup_.ports) fixtures_.emplace_back(com, options_.retries);
  processes_.resize(fixtures_.size());
  notes_.resize(fixtures_.size());
  shown_.resize(fixtures_.size());
  return true;
}

UnitCounts Line::Total() const {
  UnitCounts total;
  for (const FixtureCycle& fixture : fixtures_) total += fixture.Counts();
  return total;
}

void Line::StartDue() {
  const auto now = host_.Now();
  for (std::size_t i = 0; i < fixtures_.size(); ++i) {
    Process& process = processes_[i];
    if (process.kind == Process::Kind::kCheck && !process.stopping &&
        !fixtures_[i].WantsChecks(Accepting())) {
      host_.Stop(process.id);  // the line ends: no more checks here
      process.stopping = true;
    }
    // One process a port: a check and a loader never meet there.
    if (process.kind != Process::Kind::kNone) continue;
    switch (fixtures_[i].Due(now, Accepting())) {
      case FixtureCycle::Start::kCheck:
        StartCheck(i);
        break;
      case FixtureCycle::Start::kFlash:
        if (ImageStillPinned()) StartFlash(i);
        break;
      case FixtureCycle::Start::kNothing:
        break;
    }
  }
}

void Line::StartCheck(std::size_t i) {
  FixtureCycle& fixture = fixtures_[i];
  std::vector<std::string> args = {"--watch", PortName(fixture.Com())};
  // The type found last on this fixture first: a line flashes one kind of module.
  if (fixture.LastType() >= 2) args.push_back(std::to_string(fixture.LastType()));
  std::string error;
  const auto now = host_.Now();
  fixture.CheckStarted(now);
  Process process;
  process.kind = Process::Kind::kCheck;
  process.lastHeard = now;
  process.checking = true;
  process.id = host_.Start(setup_.loader, args, error);
  if (process.id < 0) {
    const std::string note = "the presence check could not be started: " + error;
    if (note != notes_[i]) Complain(PortName(fixture.Com()) + ": " + note);
    notes_[i] = note;
    fixture.CheckEnded(Probe{}, std::chrono::system_clock::now());
    return;
  }
  processes_[i] = std::move(process);
}

// One check's line: the cycle learns what is in the fixture, and the checks go on, or stop
// so that a loader can have the port.
void Line::Checked(std::size_t i, const StatusLine& line) {
  Process& process = processes_[i];
  FixtureCycle& fixture = fixtures_[i];
  if (process.stopping || line.number != 111) return;
  notes_[i] = process.messages.empty() ? "" : process.messages.back();
  process.messages.clear();
  process.checking = false;
  fixture.CheckEnded(ReadProbe({line}, fixture.Com()), std::chrono::system_clock::now());
  EndOf(i);
  const auto now = host_.Now();
  if (fixture.Due(now, Accepting()) != FixtureCycle::Start::kFlash &&
      fixture.WantsChecks(Accepting())) {
    fixture.CheckStarted(now);  // the next check is under way
    process.checking = true;
    return;
  }
  host_.Stop(process.id);
  process.stopping = true;
}

// The image file read again before a unit: when it is no longer the one the station checked
// and pinned, no unit starts any more and the line ends, with exit status 2.
bool Line::ImageStillPinned() {
  std::string bytes;
  std::string error;
  const bool read = host_.ReadWholeFile(setup_.source, kMaxImageBytes, bytes, error);
  const std::string sha256 = read ? Sha256Hex(bytes) : "";
  if (read && sha256 == setup_.info.sha256) return true;
  Complain(read ? "the image " + options_.image + " has changed since it was checked (SHA-256 " +
                      setup_.info.sha256 + ", now " + sha256 +
                      "): the line ends, no unit starts; start the station again to flash "
                      "the new image"
                : "cannot read the image " + options_.image + ": " + error +
                      "; the line ends, no unit starts");
  imageChanged_ = true;
  if (!ending_) endedBy_ = "image";
  ending_ = true;
  dirty_ = true;
  return false;
}

void Line::StartFlash(std::size_t i) {
  FixtureCycle& fixture = fixtures_[i];
  const auto now = host_.Now();
  fixture.FlashStarted(now, std::chrono::system_clock::now());
  std::string error;
  Process process;
  process.kind = Process::Kind::kFlash;
  process.lastHeard = now;
  process.id = host_.Start(
      setup_.loader,
      {"/COM" + std::to_string(fixture.Com()), "/NoPrompts", "/Updates", setup_.image}, error);
  if (process.id < 0) {
    fixture.Running().row.End(
        std::chrono::system_clock::now(),
        Failure{FailureCode::kLoaderError, "the loader could not be started: " + error}, false);
    fixture.FlashEnded(now, std::chrono::system_clock::now(), interruptSignal_ != 0);
    EndOf(i);
    return;
  }
  processes_[i] = std::move(process);
  dirty_ = true;
}

void Line::Handle(const HostEvent& event) {
  switch (event.kind) {
    case HostEvent::Kind::kInterrupt:
      Stop(event);
      return;
    case HostEvent::Kind::kOperatorLine:
      if (event.bytes == "q" || event.bytes == "Q" || event.bytes == "quit") {
        if (!ending_) endedBy_ = "quit";
        ending_ = true;
        dirty_ = true;
      }
      return;
    case HostEvent::Kind::kResized:
      dirty_ = true;
      return;
    case HostEvent::Kind::kOperatorEnd:
      return;  // a line run without a terminal runs on
    default:
      break;
  }
  for (std::size_t i = 0; i < processes_.size(); ++i) {
    if (processes_[i].kind != Process::Kind::kNone && processes_[i].id == event.id) {
      Collect(i, event);
      return;
    }
  }
}

void Line::Collect(std::size_t i, const HostEvent& event) {
  Process& process = processes_[i];
  const bool flash = process.kind == Process::Kind::kFlash;
  switch (event.kind) {
    case HostEvent::Kind::kOutput:
      process.lastHeard = host_.Now();
      process.heard = true;
      for (const StatusLine& line : process.reader.Feed(event.bytes)) {
        if (flash) {
          fixtures_[i].Running().Apply(line);
        } else {
          Checked(i, line);
        }
      }
      dirty_ = dirty_ || flash;
      break;
    case HostEvent::Kind::kDiagnostic: {
      process.diagnostic += event.bytes;
      std::size_t newline;
      while ((newline = process.diagnostic.find('\n')) != std::string::npos) {
        std::string line = process.diagnostic.substr(0, newline);
        process.diagnostic.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (flash) {
          fixtures_[i].Running().row.AddMessage(std::move(line));
        } else {
          process.messages.push_back(std::move(line));
        }
      }
      if (process.diagnostic.size() > kMaxMessageBytes) process.diagnostic.clear();
      break;
    }
    case HostEvent::Kind::kEnded:
      Ended(i, event.how);
      break;
    default:
      break;
  }
}

void Line::Ended(std::size_t i, const std::string& how) {
  Process& process = processes_[i];
  FixtureCycle& fixture = fixtures_[i];
  const WallTime wall = std::chrono::system_clock::now();
  if (process.kind == Process::Kind::kFlash) {
    Attempt& attempt = fixture.Running();
    for (const StatusLine& line : process.reader.Finish()) attempt.Apply(line);
    if (!process.diagnostic.empty()) attempt.row.AddMessage(process.diagnostic);
    const Failure why =
        interruptSignal_ != 0 ? Failure{FailureCode::kStopped, "stopped (" + interruptHow_ + ")"}
        : process.killed      ? Failure{FailureCode::kTimeout,
                                   "killed after " + std::to_string(options_.timeout.count()) +
                                       " s without a status line"}
                              : Failure{FailureCode::kLoaderError,
                                   "the loader ended without a final line (" + how + ")"};
    attempt.row.End(wall, why, false);
    process = Process{};
    fixture.FlashEnded(host_.Now(), wall, interruptSignal_ != 0);
  } else {
    for (const StatusLine& line : process.reader.Finish()) Checked(i, line);
    if (process.checking) {
      // The checks ended when nobody asked them to.
      if (!process.stopping) {
        const std::string note = process.killed ? "the presence checks fell silent"
                                                : "the presence checks ended (" + how + ")";
        if (note != notes_[i]) Complain(PortName(fixture.Com()) + ": " + note);
        notes_[i] = note;
      }
      fixture.CheckEnded(Probe{}, wall);
    }
    process = Process{};
  }
  EndOf(i);
}

// Logs and counts the unit that ended at fixture `i`, if one did.
void Line::EndOf(std::size_t i) {
  while (std::optional<Unit> unit = fixtures_[i].TakeEnded()) {
    Record(*unit);
    if (unit->result == Unit::Result::kFailed && terminal_.Live() && !options_.quiet) {
      terminal_.Out("\a");
    }
  }
  if (options_.count > 0 && Total().passed >= options_.count && !ending_) {
    ending_ = true;
    endedBy_ = "count";
  }
  dirty_ = true;
}

void Line::Record(const Unit& unit) {
  std::string error;
  if (!options_.log.empty() &&
      !host_.AppendLine(options_.log, UnitRecordLine(facts_, unit), error)) {
    Complain("cannot append to the unit log " + options_.log + ": " + error);
    recordFailed_ = true;
  }
  WriteReport("");
}

void Line::WriteReport(const std::string& ended) {
  if (options_.report.empty()) return;
  std::vector<FixtureCounts> counts;
  for (const FixtureCycle& fixture : fixtures_) counts.push_back({fixture.Com(), fixture.Counts()});
  std::string error;
  if (!host_.WriteFileAtomically(
          options_.report,
          LineReportJson(facts_, counts, startedWall_, std::chrono::system_clock::now(), ended),
          error)) {
    Complain("cannot write the report " + options_.report + ": " + error);
    recordFailed_ = true;
  }
}

void Line::KillOverdue() {
  const auto now = host_.Now();
  for (std::size_t i = 0; i < processes_.size(); ++i) {
    Process& process = processes_[i];
    if (process.kind == Process::Kind::kNone || process.killed) continue;
    Clock::time_point by;
    if (interruptSignal_ != 0) {
      by = stopDeadline_;
    } else if (process.kind == Process::Kind::kCheck) {
      by = process.lastHeard + CheckTimeout(process);
    } else if (fixtures_[i].Running().row.final) {
      by = process.lastHeard + kEndGrace;
    } else {
      by = process.lastHeard + options_.timeout;
    }
    if (now < by) continue;
    host_.Kill(process.id);
    process.killed = true;
  }
}

void Line::Stop(const HostEvent& event) {
  if (interruptSignal_ != 0) return;
  interruptSignal_ = event.signal;
  interruptHow_ = event.how;
  if (!ending_) endedBy_ = "stopped";
  ending_ = true;
  stopDeadline_ = host_.Now() + kStopGrace;
  const WallTime wall = std::chrono::system_clock::now();
  for (std::size_t i = 0; i < fixtures_.size(); ++i) {
    Process& process = processes_[i];
    if (process.kind == Process::Kind::kFlash) host_.Stop(process.id);
    if (process.kind == Process::Kind::kCheck) {
      host_.Kill(process.id);
      process.killed = true;
      process.stopping = true;
    }
    fixtures_[i].End(wall, true);
    EndOf(i);
  }
}

// The table, or a plain line for every fixture whose state changed.
void Line::Show(bool force) {
  const auto now = host_.Now();
  if (live_ &&
      (force || (dirty_ && now - lastDraw_ >= kRedrawPeriod) || now - lastDraw_ >= kClockPeriod)) {
    const bool drawn = Draw();
    if (!drawn && tableShown_) {
      Erase();
      Say("the terminal is too small for the table: one line per change follows");
    }
    if (drawn && !tableShown_) shown_.assign(fixtures_.size(), "");
    tableShown_ = drawn;
    dirty_ = false;
    lastDraw_ = now;
  }
  if (tableShown_) return;
  for (std::size_t i = 0; i < fixtures_.size(); ++i) {
    // Told once its loader runs: until then its last unit is still the one shown.
    if (fixtures_[i].Starting()) continue;
    const std::string key = FixtureLineKey(fixtures_[i]) + notes_[i];
    if (key == shown_[i]) continue;
    shown_[i] = key;
    Say(FixtureLine(fixtures_[i], notes_[i]));
  }
}

// Draws the table over the one drawn before; false, with nothing drawn, when the terminal
// is too narrow or too low for it.
bool Line::Draw() {
  const TableStyle style{terminal_.Width(), terminal_.Colours()};
  LineView view;
  view.image = &setup_.info;
  view.fixtures = &fixtures_;
  view.notes = &notes_;
  view.elapsed = Elapsed();
  view.count = options_.count;
  view.ending = ending_;
  const std::vector<std::string> lines = RenderLineTable(view, style);
  if (lines.empty() || static_cast<int>(lines.size()) >= terminal_.Height()) return false;
  std::string text;
  if (drawnLines_ > 0) {
    // A terminal narrowed since the last drawing shows each of its lines over several.
    const int width = std::max(terminal_.Width(), 1);
    const std::size_t each =
        static_cast<std::size_t>(std::max(1, (drawnWidth_ - 1 + width - 1) / width));
    text = "\r\x1b[" + std::to_string(drawnLines_ * each) + "A";
  }
  for (const std::string& line : lines) text += "\x1b[2K" + line + "\n";
  text += "\x1b[J";
  terminal_.Out(text);
  drawnLines_ = lines.size();
  drawnWidth_ = style.width;
  return true;
}

void Line::Erase() {
  if (drawnLines_ == 0) return;
  terminal_.Out("\r\x1b[" + std::to_string(drawnLines_) + "A\x1b[J");
  drawnLines_ = 0;
}

int Line::Run() {
  if (!Prepare()) return 2;
  started_ = host_.Now();
  startedWall_ = std::chrono::system_clock::now();
  live_ = !options_.plain && terminal_.Live();
  if (live_) terminal_.Quiet(true);
  if (!live_) Say(LineStartLine(setup_.info, setup_.ports));
  WriteReport("");
  for (const HostEvent& event : pending_) Handle(event);
  for (;;) {
    if (ending_) {
      for (FixtureCycle& fixture : fixtures_) fixture.End(std::chrono::system_clock::now(), false);
    }
    StartDue();
    Show(false);
    const bool busy = std::any_of(fixtures_.begin(), fixtures_.end(),
                                  [](const FixtureCycle& f) { return f.Busy(); });
    if (ending_ && !busy) break;
    Clock::time_point deadline = Clock::time_point::max();
    for (const FixtureCycle& fixture : fixtures_) {
      deadline = std::min(deadline, fixture.NextDue(host_.Now(), Accepting()));
    }
    for (std::size_t i = 0; i < processes_.size(); ++i) {
      const Process& process = processes_[i];
      if (process.kind == Process::Kind::kNone || process.killed) continue;
      deadline = std::min(deadline, interruptSignal_ != 0 ? stopDeadline_
                                    : process.kind == Process::Kind::kCheck
                                        ? process.lastHeard + CheckTimeout(process)
                                        : process.lastHeard + options_.timeout);
    }
    if (live_) deadline = std::min(deadline, lastDraw_ + (dirty_ ? kRedrawPeriod : kClockPeriod));
    for (const HostEvent& event : host_.Wait(deadline, true)) Handle(event);
    KillOverdue();
  }
  Show(true);
  if (live_) terminal_.Quiet(false);
  // The counts, whole, below the table.
  const auto elapsed = Elapsed();
  for (const FixtureCycle& fixture : fixtures_) {
    Say(PortName(fixture.Com()) + ": " + LineCountsText(fixture.Counts(), elapsed, 0));
  }
  Say("line: " + LineCountsText(Total(), elapsed, options_.count));
  WriteReport(endedBy_);
  if (interruptSignal_ != 0) return kSignalExitBase + interruptSignal_;
  if (imageChanged_) return kExitImageChanged;
  return recordFailed_ ? 1 : 0;
}

}  // namespace

int RunLine(const LineSetup& setup, const StationOptions& options, Host& host, Terminal& terminal) {
  return Line(setup, options, host, terminal).Run();
}

}  // namespace downloader::station
