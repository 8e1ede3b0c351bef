#include "line_view.h"

#include <algorithm>
#include <cstdio>

#include "file_names.h"
#include "ports.h"

namespace downloader::station {

namespace {

// The columns: port, module, state, passed, failed, yield, units per hour. The module and
// the state change width; the state takes what is left.
constexpr int kPortColumns = 5;
constexpr int kNumberColumns = 5;
constexpr int kYieldColumns = 6;
constexpr int kRateColumns = 6;
constexpr int kGap = 2;
constexpr int kModuleMin = 6;
constexpr int kModuleMax = 20;
constexpr int kStateMin = 24;
constexpr int kFixedColumns = kPortColumns + kGap + kGap + kGap + kNumberColumns + 1 +
                              kNumberColumns + 1 + kYieldColumns + 1 + kRateColumns;
// The flashing state: "flashing  2 [bar] 100%" around the bar's cells.
constexpr int kFlashFrame = 9 + 2 + 2 + 2 + 4;
constexpr int kBarMin = 4;
constexpr int kBarMax = 20;

const char* const kReset = "\x1b[0m";
const char* const kBold = "\x1b[1m";
const char* const kRed = "\x1b[31m";
const char* const kGreen = "\x1b[32m";
const char* const kYellow = "\x1b[33m";
const char* const kCyan = "\x1b[36m";
constexpr std::string_view kRemove = "remove the module";

std::string Paint(const std::string& text, const char* colour, bool on) {
  return on && colour != nullptr ? colour + text + kReset : text;
}

std::string RightAligned(const std::string& text, int columns) {
  const int used = DisplayColumns(text);
  return std::string(static_cast<std::size_t>(std::max(columns - used, 0)), ' ') + text;
}

std::string Percent(std::optional<double> part) {
  if (!part) return "-";
  char text[16];
  std::snprintf(text, sizeof text, "%.1f%%", *part * 100.0);
  return text;
}

std::string Rate(std::optional<double> perHour) {
  if (!perHour) return "-";
  return std::to_string(static_cast<long>(*perHour + 0.5));
}

std::string Clock(std::chrono::milliseconds elapsed) {
  const long seconds = static_cast<long>(elapsed.count() / 1000);
  char text[32];
  std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return text;
}

std::string ModuleText(const FixtureCycle& fixture) {
  const ModuleFound* module = fixture.ShownModule();
  const FixtureState state = fixture.State();
  if (module == nullptr || state == FixtureState::kWaiting || state == FixtureState::kNoDevice ||
      state == FixtureState::kInUse) {
    return "";
  }
  return DisplayText(module->device);
}

// An attempt's final line, or why the station ended it.
std::string AttemptText(const PortRow& row) {
  if (row.final) return DisplayText(row.final->text);
  return row.failure ? DisplayText(row.failure->text) : "";
}

// The final line of the unit's last attempt, or why it ended.
std::string ResultText(const Unit& unit) {
  if (!unit.note.empty()) return DisplayText(unit.note);
  return unit.attempts.empty() ? "" : AttemptText(unit.attempts.back().row);
}

std::string WithNote(const std::string& text, const std::string& note) {
  return note.empty() ? text : text + ": " + DisplayText(note);
}

// The state cell, `columns` wide.
std::string StateCell(const FixtureCycle& fixture, const std::string& note, int columns,
                      bool colour) {
  const FixtureState state = fixture.State();
  const Unit* unit = fixture.Shown();
  switch (state) {
    case FixtureState::kWaiting:
      return FitColumns("waiting", columns);
    case FixtureState::kFlashing: {
      // A unit about to start shows its first attempt, not the last unit's.
      const bool open = unit != nullptr && unit->result == Unit::Result::kRunning;
      const std::size_t attempt = open ? unit->attempts.size() + (fixture.Starting() ? 1 : 0) : 1;
      const std::string word = attempt > 1 ? "retry " + std::to_string(attempt - 1) : "flashing";
      const PortRow* row =
          unit != nullptr && !unit->attempts.empty() && unit->result == Unit::Result::kRunning
              ? &unit->attempts.back().row
              : nullptr;
      if (row == nullptr || row->slot < 0) return FitColumns(word, columns);
      const int bar = std::clamp(columns - kFlashFrame, kBarMin, kBarMax);
      const int filled = std::clamp(row->percent, 0, 100) * bar / 100;
      char slot[16];
      char percent[16];
      std::snprintf(slot, sizeof slot, "%2d", row->slot);
      std::snprintf(percent, sizeof percent, "%3d%%", std::clamp(row->percent, 0, 999));
      const std::string text =
          FitColumns(word, 9) + slot + " [" +
          Paint(std::string(static_cast<std::size_t>(filled), '#'), kCyan, colour) +
          std::string(static_cast<std::size_t>(bar - filled), '-') + "] " + percent;
      return text +
             std::string(static_cast<std::size_t>(std::max(columns - (kFlashFrame + bar), 0)), ' ');
    }
    case FixtureState::kPassed:
      return Paint(FitColumns("PASS, " + std::string(kRemove), columns), kGreen, colour);
    case FixtureState::kFailed:
      return Paint(FitColumns("FAIL, remove: " + ResultText(*unit), columns), kRed, colour);
    case FixtureState::kStopped:
      return Paint(FitColumns("stopped", columns), kYellow, colour);
    case FixtureState::kNoDevice:
      return Paint(FitColumns(WithNote("no device", note), columns), kYellow, colour);
    case FixtureState::kInUse:
      return Paint(FitColumns(WithNote("port in use", note), columns), kYellow, colour);
  }
  return FitColumns("", columns);
}

std::string Title(const ImageInfo& image, bool ending) {
  return "Line: " + DisplayText(image.product) + ", checksum " + std::to_string(image.checksum) +
         ", " + DisplayText(TextOf(PathOf(image.file).filename())) +
         (ending ? "; ending once the last unit is done" : "; q and Enter or Ctrl-C ends");
}

}  // namespace

std::string LineCountsText(const UnitCounts& counts, std::chrono::milliseconds elapsed, int count) {
  std::string text = std::to_string(counts.passed);
  if (count > 0) text += " of " + std::to_string(count);
  text += " passed, " + std::to_string(counts.failed) + " failed";
  if (counts.stopped > 0) text += ", " + std::to_string(counts.stopped) + " stopped";
  text += ", yield " + Percent(counts.Yield()) + ", " + Rate(counts.PerHour(elapsed)) +
          " units/h in " + Clock(elapsed);
  return text;
}

std::vector<std::string> RenderLineTable(const LineView& view, const TableStyle& style) {
  const bool c = style.colour;
  const int width = style.width - 1;  // the last column stays free: no line wraps
  int moduleWanted = kModuleMin;
  for (const FixtureCycle& fixture : *view.fixtures) {
    moduleWanted = std::max(moduleWanted, DisplayColumns(ModuleText(fixture)));
  }
  int module = std::min(moduleWanted, kModuleMax);
  int state = width - kFixedColumns - module;
  if (state < kStateMin) {
    module = std::max(kModuleMin, module - (kStateMin - state));
    state = width - kFixedColumns - module;
  }
  if (state < kStateMin) return {};
  const std::string gap(kGap, ' ');
  const auto numbers = [&](const std::string& passed, const std::string& failed,
                           const std::string& yield, const std::string& rate) {
    return RightAligned(passed, kNumberColumns) + " " + RightAligned(failed, kNumberColumns) + " " +
           RightAligned(yield, kYieldColumns) + " " + RightAligned(rate, kRateColumns);
  };

  std::vector<std::string> lines;
  lines.push_back(Paint(FitColumns(Title(*view.image, view.ending), width), kBold, c));
  lines.push_back(Paint(FitColumns("PORT", kPortColumns) + gap + FitColumns("MODULE", module) +
                            gap + FitColumns("STATE", state) + gap +
                            numbers("PASS", "FAIL", "YIELD", "/h"),
                        kBold, c));
  UnitCounts total;
  for (std::size_t i = 0; i < view.fixtures->size(); ++i) {
    const FixtureCycle& fixture = (*view.fixtures)[i];
    const UnitCounts& counts = fixture.Counts();
    total += counts;
    const std::string note =
        view.notes != nullptr && i < view.notes->size() ? (*view.notes)[i] : "";
    lines.push_back(FitColumns(PortName(fixture.Com()), kPortColumns) + gap +
                    FitColumns(ModuleText(fixture), module) + gap +
                    StateCell(fixture, note, state, c) + gap +
                    numbers(std::to_string(counts.passed), std::to_string(counts.failed),
                            Percent(counts.Yield()), Rate(counts.PerHour(view.elapsed))));
  }
  lines.push_back(FitColumns(LineCountsText(total, view.elapsed, view.count), width));
  return lines;
}

std::string FixtureLine(const FixtureCycle& fixture, const std::string& note) {
  const std::string port = PortName(fixture.Com()) + ": ";
  const Unit* unit = fixture.Shown();
  switch (fixture.State()) {
    case FixtureState::kWaiting:
      return port + "waiting for a module";
    case FixtureState::kFlashing: {
      std::string line = port + "flashing";
      if (const ModuleFound* module = fixture.ShownModule()) {
        line += " " + DisplayText(module->device);
        if (module->version != "" && module->version != "n/a") {
          line += " " + DisplayText(module->version);
        }
      }
      if (unit != nullptr && unit->attempts.size() > 1) {
        line += ", attempt " + std::to_string(unit->attempts.size()) + " after " +
                AttemptText(unit->attempts[unit->attempts.size() - 2].row);
      }
      return line;
    }
    case FixtureState::kPassed:
      return port + "PASS, " + std::string(kRemove) + ": " + ResultText(*unit);
    case FixtureState::kFailed:
      return port + "FAIL, " + std::string(kRemove) + ": " + ResultText(*unit);
    case FixtureState::kStopped:
      return port + "stopped: " + ResultText(*unit);
    case FixtureState::kNoDevice:
      return WithNote(port + "no device", note);
    case FixtureState::kInUse:
      return WithNote(port + "port in use", note);
  }
  return port;
}

std::string FixtureLineKey(const FixtureCycle& fixture) {
  const Unit* unit = fixture.Shown();
  return std::to_string(static_cast<int>(fixture.State())) + "/" +
         std::to_string(unit != nullptr ? unit->attempts.size() : 0);
}

std::string LineStartLine(const ImageInfo& image, const std::vector<int>& ports) {
  std::string names;
  for (const int com : ports) names += " " + PortName(com);
  return "line: " + DisplayText(image.product) + ", checksum " + std::to_string(image.checksum) +
         ", " + DisplayText(image.file) + ", fixtures" + names;
}

}  // namespace downloader::station
