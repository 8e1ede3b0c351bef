#include "line_model.h"

#include <algorithm>

namespace downloader::station {

namespace {

constexpr int kCommunicationFailure = 25;
constexpr int kProgress = 112;
constexpr std::string_view kStandardName = "Korvanetics ";

}  // namespace

Probe ReadProbe(const std::vector<StatusLine>& lines, int com) {
  Probe probe;
  for (const StatusLine& line : lines) {
    if (line.number != 111) continue;
    probe.module = ParsePortLine(line.text, "COM" + std::to_string(com));
    if (probe.module) break;
  }
  if (!probe.module) return probe;
  const ModuleFound& found = *probe.module;
  if (found.device == "invalid port") {
    probe.presence = Presence::kNoDevice;
  } else if (found.device == "can't open port; in use") {
    probe.presence = Presence::kInUse;
  } else if (found.echo == "Yes") {
    probe.presence = Presence::kModule;
    probe.type = ModuleType(found.device);
  } else if (found.echo == "No") {
    probe.presence = Presence::kEmpty;
  }
  return probe;
}

int ModuleType(const std::string& name) {
  if (name.size() < kStandardName.size() + 1 ||
      name.compare(0, kStandardName.size(), kStandardName) != 0) {
    return 0;
  }
  const char letter = name[kStandardName.size()];
  const std::string variant = name.substr(kStandardName.size() + 1);
  if (letter < 'A' || letter > 'F') return 0;
  const int type = letter - 'A' + 1;
  if (variant.empty()) return type;
  return (type == 5 || type == 6) && (variant == "24" || variant == "40") ? type : 0;
}

Change Attempt::Apply(const StatusLine& line) {
  const bool kept = !row.final && !line.final && line.number != kProgress;
  if (kept) lines.push_back(line);
  return row.Apply(line);
}

bool CommunicationFailure(const Attempt& attempt) {
  const PortRow& row = attempt.row;
  if (row.outcome != Outcome::kFailed) return false;
  if (row.final) return row.final->number == kCommunicationFailure;
  // No final line: the loader fell silent and was killed, or ended without one. A loader
  // that could not be started at all will not start better a second time.
  return row.failure && (row.failure->code == FailureCode::kTimeout ||
                         (row.failure->code == FailureCode::kLoaderError &&
                          row.failure->text.rfind("the loader ended without", 0) == 0));
}

UnitCounts& UnitCounts::operator+=(const UnitCounts& other) {
  passed += other.passed;
  failed += other.failed;
  stopped += other.stopped;
  return *this;
}

std::optional<double> UnitCounts::Yield() const {
  if (passed + failed == 0) return std::nullopt;
  return static_cast<double>(passed) / (passed + failed);
}

std::optional<double> UnitCounts::PerHour(std::chrono::milliseconds elapsed) const {
  if (elapsed < std::chrono::seconds(1)) return std::nullopt;
  return (passed + failed) * 3'600'000.0 / static_cast<double>(elapsed.count());
}

FixtureCycle::FixtureCycle(int com, int retries) : com_(com), retries_(retries) {}

bool FixtureCycle::WantsChecks(bool accepting) const {
  return phase_ == Phase::kRetryCheck ||
         (accepting && (phase_ == Phase::kWait || phase_ == Phase::kDone));
}

FixtureCycle::Start FixtureCycle::Due(Instant now, bool accepting) const {
  if (running_) return Start::kNothing;
  if (phase_ == Phase::kFlashDue) {
    return unitOpen_ || accepting ? Start::kFlash : Start::kNothing;
  }
  return WantsChecks(accepting) && now >= nextCheck_ ? Start::kCheck : Start::kNothing;
}

Instant FixtureCycle::NextDue(Instant now, bool accepting) const {
  if (running_) return Instant::max();
  if (phase_ == Phase::kFlashDue) return unitOpen_ || accepting ? now : Instant::max();
  if (!WantsChecks(accepting)) return Instant::max();
  return std::max(nextCheck_, now);
}

void FixtureCycle::CheckStarted(Instant now) {
  running_ = true;
  nextCheck_ = now + kCheckPeriod;
}

void FixtureCycle::CheckEnded(const Probe& probe, WallTime wall) {
  running_ = false;
  if (probe.type != 0) lastType_ = probe.type;
  switch (probe.presence) {
    case Presence::kUnknown:
      return;  // tried again at the next check
    case Presence::kNoDevice:
    case Presence::kInUse:
      if (phase_ == Phase::kRetryCheck) {
        EndUnit(Unit::Result::kFailed, wall, "the port could not be had for another attempt",
                probe.presence == Presence::kInUse ? "in-use" : "unreachable");
      }
      if (phase_ == Phase::kFlashDue) phase_ = Phase::kWait;
      lost_ = probe.presence;
      empties_ = 0;
      return;
    case Presence::kModule:
    case Presence::kEmpty:
      lost_.reset();
      break;
  }
  const bool module = probe.presence == Presence::kModule;
  if (module) empties_ = 0;
  switch (phase_) {
    case Phase::kWait:
      if (module) {
        found_ = probe;
        phase_ = Phase::kFlashDue;
      }
      break;
    case Phase::kRetryCheck:
      if (module) {
        phase_ = Phase::kFlashDue;
      } else if (++empties_ >= kRemovalChecks) {
        EndUnit(Unit::Result::kFailed, wall, "taken out before another attempt", "removed");
        phase_ = Phase::kWait;
        empties_ = 0;
      }
      break;
    case Phase::kDone:
      if (!module && ++empties_ >= kRemovalChecks) {
        phase_ = Phase::kWait;
        empties_ = 0;
      }
      break;
    case Phase::kFlashDue:
    case Phase::kFlash:
      break;
  }
}

void FixtureCycle::FlashStarted(Instant /*now*/, WallTime wall) {
  running_ = true;
  phase_ = Phase::kFlash;
  if (!unitOpen_) {
    unit_ = Unit{};
    unit_->com = com_;
    unit_->start = wall;
    if (found_) {
      unit_->module = found_->module;
      unit_->type = found_->type;
    }
    unitOpen_ = true;
  }
  Attempt attempt;
  attempt.row.com = com_;
  attempt.row.start = wall;
  unit_->attempts.push_back(std::move(attempt));
}

Attempt& FixtureCycle::Running() {
  return unit_->attempts.back();
}

void FixtureCycle::FlashEnded(Instant now, WallTime wall, bool stopping) {
  running_ = false;
  empties_ = 0;
  const Attempt& attempt = unit_->attempts.back();
  if (attempt.row.outcome == Outcome::kSucceeded) {
    EndUnit(Unit::Result::kPassed, wall);
  } else if (stopping && !attempt.row.final) {
    EndUnit(Unit::Result::kStopped, wall);
  } else if (!stopping && CommunicationFailure(attempt) &&
             static_cast<int>(unit_->attempts.size()) <= retries_) {
    // Flashed again once a check finds the module still in the fixture.
    phase_ = Phase::kRetryCheck;
    nextCheck_ = now;
    return;
  } else {
    EndUnit(Unit::Result::kFailed, wall);
  }
}

void FixtureCycle::End(WallTime wall, bool stopped) {
  if (stopped && unitOpen_ && !running_) {
    EndUnit(Unit::Result::kStopped, wall, "stopped between attempts", "stopped");
  }
  if (phase_ == Phase::kFlashDue && !unitOpen_) phase_ = Phase::kWait;
}

void FixtureCycle::EndUnit(Unit::Result result, WallTime wall, std::string note, std::string code) {
  unit_->result = result;
  unit_->end = wall;
  unit_->note = std::move(note);
  unit_->noteCode = std::move(code);
  switch (result) {
    case Unit::Result::kPassed:
      ++counts_.passed;
      break;
    case Unit::Result::kFailed:
      ++counts_.failed;
      break;
    case Unit::Result::kStopped:
    case Unit::Result::kRunning:
      ++counts_.stopped;
      break;
  }
  ended_.push_back(*unit_);
  unitOpen_ = false;
  found_.reset();
  phase_ = Phase::kDone;
}

std::optional<Unit> FixtureCycle::TakeEnded() {
  if (ended_.empty()) return std::nullopt;
  Unit unit = std::move(ended_.front());
  ended_.erase(ended_.begin());
  return unit;
}

FixtureState FixtureCycle::State() const {
  switch (phase_) {
    case Phase::kFlashDue:
    case Phase::kFlash:
    case Phase::kRetryCheck:
      return FixtureState::kFlashing;
    case Phase::kWait:
    case Phase::kDone:
      break;
  }
  if (lost_) return *lost_ == Presence::kInUse ? FixtureState::kInUse : FixtureState::kNoDevice;
  if (phase_ == Phase::kWait) return FixtureState::kWaiting;
  switch (unit_->result) {
    case Unit::Result::kPassed:
      return FixtureState::kPassed;
    case Unit::Result::kStopped:
      return FixtureState::kStopped;
    case Unit::Result::kFailed:
    case Unit::Result::kRunning:
      break;
  }
  return FixtureState::kFailed;
}

const Unit* FixtureCycle::Shown() const {
  return unit_ ? &*unit_ : nullptr;
}

const ModuleFound* FixtureCycle::ShownModule() const {
  if (phase_ == Phase::kFlashDue && found_ && found_->module) return &*found_->module;
  return unit_ && unit_->module ? &*unit_->module : nullptr;
}

bool FixtureCycle::Busy() const {
  return running_ || unitOpen_;
}

}  // namespace downloader::station
