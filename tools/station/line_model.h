#pragma once

// The production line: every fixture (port) on a cycle of its own. Waiting, it checks
// often whether a module has been put in; a module found is flashed at once; its result
// stays shown until the module has been taken out; then it waits again. This file is the
// cycle's logic alone: the station starts the checks and loaders it asks for and tells it
// what came of them.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "model.h"
#include "status_line.h"

namespace downloader::station {

using Instant = std::chrono::steady_clock::time_point;

/// What a presence check (`downloader --probe COMn`) found on a fixture's port.
enum class Presence {
  kModule,    ///< something answered the identification exchange (its echo at least)
  kEmpty,     ///< nothing answered
  kNoDevice,  ///< the port is not there: its adapter is unplugged, or the map has no entry
  kInUse,     ///< another program holds the port
  kUnknown,   ///< the check gave no answer to go by
};

struct Probe {
  Presence presence = Presence::kUnknown;
  std::optional<ModuleFound> module;  ///< the check's port line, when one came
  int type = 0;                       ///< the module's type by its name (ModuleType), or 0
};

/// Reads a presence check's status lines for COM<com>: its "111-PORT=" line decides.
Probe ReadProbe(const std::vector<StatusLine>& lines, int com);

/// The type of a module by the standard name the loader shows for it: "Korvanetics A" to
/// "Korvanetics F" are 1 to 6, and E and F may carry their variant ("Korvanetics E24").
/// 0 for any other name.
int ModuleType(const std::string& name);

/// One run of the loader on a unit, and the status lines it wrote besides its progress.
struct Attempt {
  PortRow row;
  std::vector<StatusLine> lines;  ///< every line but the 112 progress lines and the final

  /// Applies one status line of the loader to the row and keeps it.
  Change Apply(const StatusLine& line);
};

/// Whether an attempt ended in a failure of the communication that another attempt may
/// mend: 025, or a loader that fell silent or ended without its final line. Never one
/// stopped by the operator, nor a refused image or version, nor a verify failure (024).
bool CommunicationFailure(const Attempt& attempt);

/// One module flashed in a fixture: from its first attempt to its result.
struct Unit {
  enum class Result { kRunning, kPassed, kFailed, kStopped };
  int com = 0;
  std::optional<ModuleFound> module;  ///< as the presence check that found it saw it
  int type = 0;
  std::vector<Attempt> attempts;
  WallTime start{};
  WallTime end{};
  Result result = Result::kRunning;
  /// Why the unit ended when its last attempt does not say it, and its failure code:
  /// "removed" (taken out before another attempt), "unreachable" or "in-use" (its port
  /// could not be had for one), "stopped" (between attempts).
  std::string note;
  std::string noteCode;
};

/// A fixture as the operator sees it.
enum class FixtureState {
  kWaiting,   ///< no module: put one in
  kFlashing,  ///< a loader is writing the module (or checks it before another attempt)
  kPassed,    ///< PASS: take the module out
  kFailed,    ///< FAIL: take the module out
  kStopped,   ///< the station stopped while the unit was flashed
  kNoDevice,  ///< the port's device is gone (a USB adapter unplugged)
  kInUse,     ///< another program holds the port
};

/// Units of a fixture, or of the whole line, by their result.
struct UnitCounts {
  int passed = 0;
  int failed = 0;
  int stopped = 0;
  UnitCounts& operator+=(const UnitCounts& other);
  /// Passed units among those that passed or failed, 0..1; nothing before the first.
  std::optional<double> Yield() const;
  /// Units that passed or failed per hour of `elapsed`; nothing before a second passed.
  std::optional<double> PerHour(std::chrono::milliseconds elapsed) const;
};

/// One fixture's cycle.
class FixtureCycle {
 public:
  /// Checks while waiting (and while a result is shown) start at most this often.
  static constexpr std::chrono::milliseconds kCheckPeriod{100};
  /// A module is gone once this many checks in a row found the fixture empty: a contact
  /// that bounces for less than that is not a new module.
  static constexpr int kRemovalChecks = 3;

  /// `retries`: how often a unit whose attempt ended in a communication failure is flashed
  /// again while it stays in the fixture.
  FixtureCycle(int com, int retries);

  int Com() const { return com_; }

  enum class Start { kNothing, kCheck, kFlash };
  /// What the station is to start now. Nothing while a check or loader of this fixture
  /// runs: the two never overlap. `accepting`: a new unit may begin (false once the order
  /// is complete or the station stops); checks then stop too, but a unit already begun
  /// gets its further attempts.
  Start Due(Instant now, bool accepting) const;
  /// When Due may next have something to start: `now` when it has, the far future while a
  /// process runs.
  Instant NextDue(Instant now, bool accepting) const;
  /// The fixture is to be checked, one check after another: while it waits for a module
  /// or shows a result (when `accepting`), and before another attempt.
  bool WantsChecks(bool accepting) const;

  void CheckStarted(Instant now);
  void CheckEnded(const Probe& probe, WallTime wall);
  /// A loader starts for the module found: a new unit's first attempt or another one.
  void FlashStarted(Instant now, WallTime wall);
  /// The running attempt, for its status lines; FlashStarted must have come first.
  Attempt& Running();
  /// The loader has ended and its attempt's row is closed (PortRow::End). `stopping`: the
  /// station asked it to stop.
  void FlashEnded(Instant now, WallTime wall, bool stopping);
  /// The line ends: no new unit begins here. `stopped` (a stop signal): a unit waiting for
  /// its next attempt ends as stopped; otherwise it still gets its attempts.
  void End(WallTime wall, bool stopped);

  /// A unit that has ended since the last call, to be logged and counted.
  std::optional<Unit> TakeEnded();

  FixtureState State() const;
  /// The unit being flashed, or the last one ended; nullptr before the first.
  const Unit* Shown() const;
  /// The module the fixture shows: the one found for the next flash, else Shown()'s.
  const ModuleFound* ShownModule() const;
  /// A module was found and its loader is about to start: the state lasts only until the
  /// checks have ended.
  bool Starting() const { return phase_ == Phase::kFlashDue; }
  /// A unit has begun and not ended, or a check or loader runs.
  bool Busy() const;
  const UnitCounts& Counts() const { return counts_; }
  /// The module type the last check identified: the type the next check tries first.
  int LastType() const { return lastType_; }

 private:
  enum class Phase { kWait, kFlashDue, kFlash, kRetryCheck, kDone };

  void EndUnit(Unit::Result result, WallTime wall, std::string note = "", std::string code = "");

  int com_;
  int retries_;
  Phase phase_ = Phase::kWait;
  bool running_ = false;
  Instant nextCheck_{};
  int empties_ = 0;               // checks in a row that found the fixture empty
  std::optional<Presence> lost_;  // kNoDevice or kInUse while the port is not to be had
  std::optional<Probe> found_;    // the check that found the module to flash
  int lastType_ = 0;
  std::optional<Unit> unit_;  // being flashed, or the last one ended
  bool unitOpen_ = false;
  std::vector<Unit> ended_;
  UnitCounts counts_;
};

}  // namespace downloader::station
