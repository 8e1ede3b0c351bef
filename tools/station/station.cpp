#include "station.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

#include "file_names.h"
#include "line.h"
#include "model.h"
#include "ports.h"
#include "report.h"
#include "sha256.h"
#include "status_line.h"
#include "view.h"

namespace downloader::station {

namespace {

using namespace std::chrono_literals;
using Clock = Host::Clock;

constexpr auto kRedrawPeriod = 100ms;
/// After its final line a loader has this long to end before it is killed; the line holds.
constexpr auto kEndGrace = 5s;
/// After the operator's stop, a loader has this long to end before it is killed.
constexpr auto kStopGrace = 2s;
constexpr int kSignalExitBase = 128;
/// A line of a loader's standard error is kept up to this many bytes.
constexpr std::size_t kMaxMessageBytes = 4096;
/// The most the station reads of an image file. An image is 19,391 bytes; a larger file is
/// the loader's to judge, but the station does not read gigabytes for it.
constexpr std::size_t kMaxImageBytes = 16 * 1024 * 1024;
/// The name of the station's own copy of the image, the one its loaders flash.
constexpr char kImageCopyName[] = "image.obj";

std::string Message(const std::string& text) {
  return "downloader-station: " + text + "\n";
}

// The image as the loader must see it. A loader looks a relative name up in the folder
// it was started in and then in its own, so a file found here is passed as a full path;
// a full path with no second slash ("/x.obj") would read as a switch, so it gets one.
std::string ImageArgument(const std::string& image) {
  std::filesystem::path path = PathOf(image);
  std::error_code ec;
  if (path.is_relative() &&
      (std::filesystem::exists(path, ec) || std::filesystem::exists(PathOf(image + ".obj"), ec))) {
    path = std::filesystem::absolute(path, ec);
  }
  std::string text = TextOf(path);
  if (!text.empty() && text[0] == '/' && text.find('/', 1) == std::string::npos) {
    text = "/." + text;
  }
  return text;
}

// One loader of a round.
struct Loader {
  int id = -1;
  std::size_t row = 0;
  StatusLineReader reader;
  std::string diagnostic;  // standard error up to its next newline
  Clock::time_point lastHeard;
  bool ended = false;
  bool killed = false;
};

class Station {
 public:
  Station(const StationOptions& options, Host& host, Terminal& terminal)
      : options_(options), host_(host), terminal_(terminal) {}

  int Run();

 private:
  bool Prepare();
  std::string LoaderVersion();
  std::optional<ImageInfo> ReadImage();
  bool CheckImage(int round);
  void StartRound(Round& round);
  void RunRound(Round& round);
  Clock::time_point EndBy(const Round& round, const Loader& loader) const;
  void Handle(Round& round, Loader& loader, const HostEvent& event);
  void Interrupt(Round& round, const HostEvent& event);
  void EndLoader(Round& round, Loader& loader, const std::string& how);
  bool Draw(const Round& round, Clock::time_point started);
  void GoPlain(const Round& round);
  void BackToTable(const Round& round, Clock::time_point started);
  std::string CursorToTable();
  bool WriteReport();
  bool OperatorWantsMore();
  void Say(const std::string& line) { terminal_.Out(line + "\n"); }
  void Complain(const std::string& text) { terminal_.Err(Message(text)); }

  const StationOptions& options_;
  Host& host_;
  Terminal& terminal_;
  std::string loader_;
  std::string image_;  // the image as named to the loader's /GetInfo
  std::string copy_;   // the station's own copy of it: what the loaders flash
  ImageInfo pinned_;   // the image as checked, with its SHA-256
  StationFacts facts_;
  std::vector<int> ports_;
  std::vector<Round> rounds_;
  std::vector<Loader> loaders_;
  int interruptSignal_ = 0;
  std::string interruptHow_;
  Clock::time_point stopDeadline_;
  bool terminalLive_ = false;   // the round runs on a terminal that can show the table
  bool live_ = false;           // and the table is shown: it fits the terminal now
  std::size_t drawnLines_ = 0;  // the table on the terminal: its lines
  int drawnWidth_ = 0;          // and the terminal's width when it was drawn
  Clock::time_point lastDraw_;
  bool reportFailed_ = false;
};

bool Station::Prepare() {
  loader_ = options_.loader.empty() ? host_.DefaultLoader() : options_.loader;
  image_ = ImageArgument(options_.image);
  if (options_.ports) {
    ports_ = *options_.ports;
  } else {
    const auto map = PortMapDirectory();
    if (map) ports_ = PortMapPorts(*map);
    if (ports_.empty()) {
      Complain(map ? "no ports: the port map " + map->string() + " has no COM entries"
                   : "no ports: there is no port map; name the ports with --ports");
      return false;
    }
  }
  std::string error;
  if (!options_.report.empty() && !host_.CanCreate(options_.report, error)) {
    Complain("cannot write the report " + options_.report + ": " + error);
    return false;
  }
  facts_.version = DOWNLOADER_VERSION;
  facts_.host = host_.HostName();
  facts_.loader = loader_;
  facts_.expectChecksum = options_.expectChecksum;
  facts_.expectSha256 = options_.expectSha256;
  facts_.followImage = options_.followImage;
  return true;
}

// The loader's version, from the first line of its --version ("downloader 1.7.0"); empty
// when it gives none within the timeout.
std::string Station::LoaderVersion() {
  std::string error;
  const int id = host_.Start(loader_, {"--version"}, error);
  if (id < 0) return "";
  std::string output;
  const Clock::time_point deadline = host_.Now() + options_.timeout;
  for (bool ended = false; !ended;) {
    for (const HostEvent& event : host_.Wait(deadline, false)) {
      if (event.kind == HostEvent::Kind::kOutput && event.id == id) output += event.bytes;
      if (event.kind == HostEvent::Kind::kEnded && event.id == id) ended = true;
      if (event.kind == HostEvent::Kind::kInterrupt) interruptSignal_ = event.signal;
    }
    if (!ended && (interruptSignal_ != 0 || host_.Now() >= deadline)) {
      host_.Kill(id);
      return "";
    }
  }
  const std::string line = output.substr(0, output.find_first_of("\r\n"));
  const std::string head = "downloader ";
  if (line.rfind(head, 0) != 0 || line.size() == head.size() || line.size() > 64) return "";
  const std::string version = line.substr(head.size());
  return DisplayText(version) == version ? version : "";
}

// The loader's /GetInfo answer: the image's information line, or its refusal shown.
std::optional<ImageInfo> Station::ReadImage() {
  std::string error;
  const int id = host_.Start(loader_, {"/GetInfo", image_}, error);
  if (id < 0) {
    Complain("cannot start the loader " + loader_ + ": " + error);
    return std::nullopt;
  }
  StatusLineReader reader;
  std::vector<StatusLine> lines;
  std::string how;
  Clock::time_point deadline = host_.Now() + options_.timeout;
  bool ended = false;
  bool silent = false;
  while (!ended) {
    for (const HostEvent& event : host_.Wait(deadline, false)) {
      if (event.kind == HostEvent::Kind::kOutput && event.id == id && !ended) {
        for (auto& line : reader.Feed(event.bytes)) lines.push_back(std::move(line));
        deadline = host_.Now() + options_.timeout;
        // The final line is the whole answer. A loader that stays after it (one that shows
        // its refusal in a window as well) is not waited for.
        if (std::any_of(lines.begin(), lines.end(), [](const StatusLine& l) { return l.final; })) {
          host_.Kill(id);
          ended = true;
        }
      } else if (event.kind == HostEvent::Kind::kEnded && event.id == id && !ended) {
        for (auto& line : reader.Finish()) lines.push_back(std::move(line));
        how = event.how;
        ended = true;
      } else if (event.kind == HostEvent::Kind::kInterrupt) {
        interruptSignal_ = event.signal;
        host_.Kill(id);
        deadline = Clock::time_point::max();
      }
    }
    if (!ended && host_.Now() >= deadline) {
      host_.Kill(id);
      silent = true;
      deadline = Clock::time_point::max();
    }
  }
  if (interruptSignal_ != 0) return std::nullopt;
  if (silent) {
    Complain("the loader " + loader_ + " gave no answer to /GetInfo in " +
             std::to_string(options_.timeout.count()) + " s");
    return std::nullopt;
  }
  const auto final =
      std::find_if(lines.begin(), lines.end(), [](const StatusLine& l) { return l.final; });
  ImageInfo info;
  info.file = image_;
  if (final == lines.end()) {
    Complain("the loader " + loader_ + " gave no status line for /GetInfo " + image_ + " (" + how +
             ")");
    return std::nullopt;
  }
  if (!ParseInformationLine(final->text, info)) {
    Complain("the loader refuses the image " + options_.image + ": " + DisplayText(final->text));
    return std::nullopt;
  }
  return info;
}

// The image checked and pinned before a round. Before the first, and whenever the file has
// changed with --follow-image, the loader checks it (/GetInfo), the expected checksum and
// SHA-256 are compared, and a copy of it becomes what the loaders flash: a file replaced
// while a round starts cannot reach a module. Before a later round a changed file stops
// the station. False, with the reason said, when no round may run.
bool Station::CheckImage(int round) {
  std::string bytes;
  std::string error;
  const bool read = host_.ReadWholeFile(image_, kMaxImageBytes, bytes, error);
  const std::string when = " before round " + std::to_string(round);
  if (round > 1) {
    if (!read) {
      Complain("cannot read the image " + options_.image + when + ": " + error +
               "; nothing was flashed");
      return false;
    }
    const std::string sha256 = Sha256Hex(bytes);
    if (sha256 == pinned_.sha256) return true;
    if (!options_.followImage) {
      Complain("the image " + options_.image + " has changed since it was checked (SHA-256 " +
               pinned_.sha256 + ", now " + sha256 + "): stopped" + when +
               ", nothing was flashed; start the station again to flash the new image, or give "
               "--follow-image");
      return false;
    }
  }
  std::optional<ImageInfo> info = ReadImage();
  if (!info) return false;
  std::string checked;
  if (!host_.ReadWholeFile(image_, kMaxImageBytes, checked, error)) {
    Complain("cannot read the image " + options_.image + ": " + error);
    return false;
  }
  if (!read || checked != bytes) {
    Complain("the image " + options_.image +
             " changed while the loader checked it; nothing was flashed");
    return false;
  }
  info->sha256 = Sha256Hex(checked);
  if (!options_.expectSha256.empty() && info->sha256 != options_.expectSha256) {
    Complain("the image " + options_.image + " has SHA-256 " + info->sha256 +
             ", not the expected " + options_.expectSha256 + "; nothing was flashed");
    return false;
  }
  if (options_.expectChecksum && info->checksum != *options_.expectChecksum) {
    Complain("the image " + options_.image + " has checksum " + std::to_string(info->checksum) +
             ", not the expected " + std::to_string(*options_.expectChecksum) +
             "; nothing was flashed");
    return false;
  }
  if (!host_.PrivateCopy(checked, kImageCopyName, copy_, error)) {
    Complain("cannot keep a copy of the image " + options_.image + ": " + error);
    return false;
  }
  if (round > 1) {
    Say("the image " + DisplayText(options_.image) + " has changed: now " +
        DisplayText(info->product) + ", checksum " + std::to_string(info->checksum) + ", SHA-256 " +
        info->sha256);
  }
  pinned_ = std::move(*info);
  return true;
}

// Starts one loader per port. A port the port map has no entry for (or hides) is failed at
// once, and said before the round starts: a loader could only report an invalid port.
void Station::StartRound(Round& round) {
  round.start = std::chrono::system_clock::now();
  loaders_.clear();
  const auto map = PortMapDirectory();
  const bool complete = map && PortMapIsComplete();
  for (const int com : ports_) {
    PortRow row;
    row.com = com;
    row.start = std::chrono::system_clock::now();
    const MapEntry entry = complete ? PortMapEntryOf(*map, com) : MapEntry::kPresent;
    if (entry != MapEntry::kPresent) {
      const std::string why =
          entry == MapEntry::kHidden
              ? "its port map entry " + TextOf(*map / PortName(com)) + " hides it on purpose"
              : "the port map " + TextOf(*map) + " has no entry for it";
      Complain(PortName(com) + ": " + why + "; it is not flashed");
      row.failure = Failure{FailureCode::kNoEntry, why};
      row.End(std::chrono::system_clock::now(), *row.failure, options_.skipEmpty);
      round.rows.push_back(std::move(row));
      continue;
    }
    std::string error;
    const int id = host_.Start(
        loader_, {"/COM" + std::to_string(com), "/NoPrompts", "/Updates", copy_}, error);
    if (id < 0) {
      row.End(std::chrono::system_clock::now(),
              Failure{FailureCode::kLoaderError, "the loader could not be started: " + error},
              options_.skipEmpty);
    } else {
      Loader loader;
      loader.id = id;
      loader.row = round.rows.size();
      loader.lastHeard = host_.Now();
      loaders_.push_back(std::move(loader));
    }
    round.rows.push_back(std::move(row));
  }
}

void Station::RunRound(Round& round) {
  const Clock::time_point started = host_.Now();
  StartRound(round);

  terminalLive_ = !options_.plain && terminal_.Live();
  live_ = false;
  drawnLines_ = 0;
  if (terminalLive_) {
    terminal_.Quiet(true);
    live_ = Draw(round, started);
    if (!live_) terminal_.Quiet(false);
  }
  if (!live_) {
    Say(RoundStartLine(round));
    for (const PortRow& row : round.rows) {
      if (row.outcome != Outcome::kRunning) Say(OutcomeLine(row));
    }
  }

  bool dirty = false;
  const auto running = [&] {
    return std::any_of(loaders_.begin(), loaders_.end(), [](const Loader& l) { return !l.ended; });
  };
  while (running()) {
    Clock::time_point deadline = Clock::time_point::max();
    for (const Loader& loader : loaders_) {
      if (!loader.ended && !loader.killed) deadline = std::min(deadline, EndBy(round, loader));
    }
    if (live_ && dirty) deadline = std::min(deadline, lastDraw_ + kRedrawPeriod);
    bool resized = false;
    for (const HostEvent& event : host_.Wait(deadline, false)) {
      if (event.kind == HostEvent::Kind::kInterrupt) {
        Interrupt(round, event);
        continue;
      }
      if (event.kind == HostEvent::Kind::kResized) {
        resized = true;
        continue;
      }
      for (Loader& loader : loaders_) {
        if (loader.id == event.id && !loader.ended) Handle(round, loader, event);
      }
      dirty = true;
    }
    const Clock::time_point now = host_.Now();
    for (Loader& loader : loaders_) {
      if (loader.ended || loader.killed || now < EndBy(round, loader)) continue;
      host_.Kill(loader.id);
      loader.killed = true;
      PortRow& row = round.rows[loader.row];
      if (interruptSignal_ == 0 && !row.final) {
        row.failure = Failure{FailureCode::kTimeout, "killed after " +
                                                         std::to_string(options_.timeout.count()) +
                                                         " s without a status line"};
      }
    }
    if (live_ && (resized || (dirty && now - lastDraw_ >= kRedrawPeriod))) {
      if (!Draw(round, started)) GoPlain(round);
      dirty = false;
    } else if (!live_ && terminalLive_ && resized) {
      BackToTable(round, started);
    }
  }

  round.end = std::chrono::system_clock::now();
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(host_.Now() - started);
  if (live_ && !Draw(round, started)) GoPlain(round);
  if (live_) {
    terminal_.Quiet(false);
    // The table may have cut a failure's text: each is given whole below it.
    for (const PortRow& row : round.rows) {
      if (row.outcome == Outcome::kFailed) Say(OutcomeLine(row));
    }
    for (const PortRow& row : round.rows) {
      for (const std::string& message : row.messages) Say(MessageLine(row, message));
    }
  } else {
    Say(RoundEndLine(round, elapsed));
  }
}

// When a loader still running is killed: a bound after the last bytes it wrote (a short
// one once its final line came), or at the end of the grace after a stop.
Clock::time_point Station::EndBy(const Round& round, const Loader& loader) const {
  if (interruptSignal_ != 0) return stopDeadline_;
  if (round.rows[loader.row].final) return loader.lastHeard + kEndGrace;
  return loader.lastHeard + options_.timeout;
}

void Station::Handle(Round& round, Loader& loader, const HostEvent& event) {
  PortRow& row = round.rows[loader.row];
  switch (event.kind) {
    case HostEvent::Kind::kOutput:
      loader.lastHeard = host_.Now();
      for (const StatusLine& line : loader.reader.Feed(event.bytes)) {
        const Change change = row.Apply(line);
        if (!live_) {
          if (const std::string text = EventLine(row, change); !text.empty()) Say(text);
        }
      }
      break;
    case HostEvent::Kind::kDiagnostic: {
      loader.diagnostic += event.bytes;
      std::size_t newline;
      while ((newline = loader.diagnostic.find('\n')) != std::string::npos) {
        std::string line = loader.diagnostic.substr(0, newline);
        loader.diagnostic.erase(0, newline + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        if (!live_) Say(MessageLine(row, line));
        row.AddMessage(std::move(line));
      }
      if (loader.diagnostic.size() > kMaxMessageBytes) {
        row.AddMessage(loader.diagnostic.substr(0, kMaxMessageBytes));
        loader.diagnostic.clear();
      }
      break;
    }
    case HostEvent::Kind::kEnded:
      EndLoader(round, loader, event.how);
      break;
    default:
      break;
  }
}

void Station::EndLoader(Round& round, Loader& loader, const std::string& how) {
  PortRow& row = round.rows[loader.row];
  for (const StatusLine& line : loader.reader.Finish()) row.Apply(line);
  if (!loader.diagnostic.empty()) row.AddMessage(std::move(loader.diagnostic));
  loader.ended = true;
  const Failure why = interruptSignal_ != 0
                          ? Failure{FailureCode::kStopped, "stopped (" + interruptHow_ + ")"}
                          : Failure{FailureCode::kLoaderError,
                                    "the loader ended without a final line (" + how + ")"};
  row.End(std::chrono::system_clock::now(), why, options_.skipEmpty);
  if (!live_) Say(OutcomeLine(row));
}

void Station::Interrupt(Round& round, const HostEvent& event) {
  if (interruptSignal_ != 0) return;
  interruptSignal_ = event.signal;
  interruptHow_ = event.how;
  round.interrupted = true;
  stopDeadline_ = host_.Now() + kStopGrace;
  for (const Loader& loader : loaders_) {
    if (loader.ended) continue;
    // A final line the loader writes as it stops (025, its port closed under it) is kept,
    // but the port failed because it was stopped.
    PortRow& row = round.rows[loader.row];
    if (!row.final) row.failure = Failure{FailureCode::kStopped, "stopped (" + interruptHow_ + ")"};
    host_.Stop(loader.id);
  }
}

// Draws the table over the one drawn before; false, with nothing drawn, when the terminal
// is too narrow or too low for it.
bool Station::Draw(const Round& round, Clock::time_point started) {
  const TableStyle style{terminal_.Width(), terminal_.Colours()};
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(host_.Now() - started);
  const std::vector<std::string> lines = RenderTable(round, style, elapsed);
  if (lines.empty() || static_cast<int>(lines.size()) >= terminal_.Height()) return false;
  std::string text = CursorToTable();
  for (const std::string& line : lines) text += "\x1b[2K" + line + "\n";
  // Below the table: what a narrowing terminal wrapped of the last one.
  text += "\x1b[J";
  terminal_.Out(text);
  drawnLines_ = lines.size();
  drawnWidth_ = style.width;
  lastDraw_ = host_.Now();
  return true;
}

// The cursor back to the table's first line. Every line was drawn one column narrower
// than the terminal was; a terminal narrowed since then shows each over several lines
// (one that does not rewrap its lines on a resize loses a few lines above the table to
// the redraw, which is all the harm).
std::string Station::CursorToTable() {
  if (drawnLines_ == 0) return "";
  const int width = std::max(terminal_.Width(), 1);
  const std::size_t each =
      static_cast<std::size_t>(std::max(1, (drawnWidth_ - 1 + width - 1) / width));
  const std::size_t lines = drawnLines_ * each;
  drawnLines_ = 0;
  return "\r\x1b[" + std::to_string(lines) + "A";
}

// The terminal has become too small for the table: the round goes on in plain lines,
// starting with where every port stands, until the table fits again.
void Station::GoPlain(const Round& round) {
  terminal_.Out(CursorToTable() + "\x1b[J");
  terminal_.Quiet(false);
  live_ = false;
  Say(RoundStartLine(round));
  for (const PortRow& row : round.rows) {
    if (row.outcome != Outcome::kRunning) {
      Say(OutcomeLine(row));
    } else if (row.module) {
      Say(EventLine(row, Change::kFound));
    }
    for (const std::string& message : row.messages) Say(MessageLine(row, message));
  }
}

// The terminal has grown again: the table comes back below the plain lines, if it fits.
void Station::BackToTable(const Round& round, Clock::time_point started) {
  terminal_.Quiet(true);
  live_ = Draw(round, started);
  if (!live_) terminal_.Quiet(false);
}

bool Station::WriteReport() {
  if (options_.report.empty()) return true;
  std::string error;
  if (host_.WriteFileAtomically(options_.report, ReportJson(facts_, rounds_), error)) return true;
  Complain("cannot write the report " + options_.report + ": " + error);
  reportFailed_ = true;
  return false;
}

// Waits for Enter (an empty line) to flash again; "q", end of input or a stop ends the
// station. Any other line is answered and waited past: a stray line must not flash every
// fixture again.
bool Station::OperatorWantsMore() {
  const bool person = terminal_.InputIsTerminal();
  // What was typed during the round is not an answer to a question not yet asked.
  if (person) terminal_.FlushInput();
  Say(PromptLine(person));
  for (;;) {
    for (const HostEvent& event : host_.Wait(Clock::time_point::max(), true)) {
      switch (event.kind) {
        case HostEvent::Kind::kOperatorLine:
          switch (ReadAnswer(event.bytes)) {
            case Answer::kAgain:
              return true;
            case Answer::kEnd:
              return false;
            case Answer::kOther:
              Say(OtherAnswerLine(event.bytes));
              break;
          }
          break;
        case HostEvent::Kind::kOperatorEnd:
          return false;
        case HostEvent::Kind::kInterrupt:
          interruptSignal_ = event.signal;
          return false;
        default:
          break;
      }
    }
  }
}

int Station::Run() {
  if (!Prepare()) return kExitUsage;
  facts_.loaderVersion = LoaderVersion();
  for (int number = 1;; ++number) {
    if (interruptSignal_ != 0 || !CheckImage(number)) {
      return interruptSignal_ != 0 ? kSignalExitBase + interruptSignal_ : kExitUsage;
    }
    // The line flashes the copy pinned here, and checks the file again before every unit.
    if (options_.continuous) {
      return RunLine({loader_, copy_, ports_, pinned_, image_, facts_.loaderVersion}, options_,
                     host_, terminal_);
    }
    rounds_.emplace_back();
    Round& round = rounds_.back();
    round.number = number;
    round.image = pinned_;
    RunRound(round);
    WriteReport();
    if (interruptSignal_ != 0 || !options_.repeat || !OperatorWantsMore()) break;
  }
  if (interruptSignal_ != 0) return kSignalExitBase + interruptSignal_;
  const bool failed =
      reportFailed_ || std::any_of(rounds_.begin(), rounds_.end(), [](const Round& r) {
        const Counts c = r.Count();
        return c.failed + c.running > 0;
      });
  return failed ? kExitFailed : kExitSucceeded;
}

}  // namespace

int RunStation(const StationOptions& options, Host& host, Terminal& terminal) {
  if (options.help) {
    terminal.Out(kStationUsage);
    return kExitSucceeded;
  }
  if (options.version) {
    terminal.Out("downloader-station " DOWNLOADER_VERSION "\n");
    return kExitSucceeded;
  }
  return Station(options, host, terminal).Run();
}

}  // namespace downloader::station
