#include "view.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "file_names.h"

namespace downloader::station {

namespace {

// The table's columns: port, module, version, slot, bar, percentage, result, two blanks
// apart. Only the module, bar and result columns change width; the bar can go altogether.
constexpr int kPortColumns = 5;
constexpr int kVersionColumns = 7;
constexpr int kSlotColumns = 4;
constexpr int kPercentColumns = 4;
constexpr int kGap = 2;
// Slot, blank and percentage; a bar adds its cells, its brackets and a blank.
constexpr int kProgressColumns = kSlotColumns + 1 + kPercentColumns;
constexpr int kBarFrame = 2 + 1;
constexpr int kFixedColumns =
    kPortColumns + kGap + kGap + kVersionColumns + kGap + kProgressColumns + kGap;
constexpr int kBarMax = 12;
constexpr int kBarMin = 4;
constexpr int kModuleMin = 6;
constexpr int kModuleMax = 40;
constexpr int kResultMin = 12;
// The result column is kept as wide as the success line, so the bar does not shrink when
// the first port succeeds, and the bar goes before that line is cut. A longer result
// narrows the bar for at most this many columns: the longest errors are cut on any usual
// terminal, and are given whole below the table.
constexpr int kResultWanted = 24;  // "044-Download successful!"
constexpr int kResultWantedMost = 48;
// Every cut text ends in an ellipsis; where a module's name is cut, its end stays (a
// variant's "24" or "40" is there) and the ellipsis marks the middle.
constexpr std::string_view kCut = "\u2026";

const char* const kReset = "\x1b[0m";
const char* const kBold = "\x1b[1m";
const char* const kRed = "\x1b[31m";
const char* const kGreen = "\x1b[32m";
const char* const kYellow = "\x1b[33m";
const char* const kCyan = "\x1b[36m";

// Length of the UTF-8 sequence starting at s[i], or 0 when it is not one (overlong forms,
// surrogates, and the C1 controls U+0080..U+009F are refused).
std::size_t Utf8Length(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  std::size_t n = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
    if (b == 0xC2) low = 0xA0;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + n > s.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (std::size_t k = 2; k < n; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return n;
}

// Characters that take other than one column on a terminal: first, last, columns. Wide:
// the East Asian wide and fullwidth blocks and the emoji shown as pictures; none: combining
// marks, zero-width spaces and joiners, variation selectors.
struct ColumnRange {
  char32_t first;
  char32_t last;
  int columns;
};
constexpr ColumnRange kColumnRanges[] = {
    {0x0300, 0x036F, 0},   {0x0483, 0x0489, 0},   {0x0591, 0x05BD, 0},   {0x0610, 0x061A, 0},
    {0x064B, 0x065F, 0},   {0x0E31, 0x0E31, 0},   {0x0E34, 0x0E3A, 0},   {0x0E47, 0x0E4E, 0},
    {0x1100, 0x115F, 2},   {0x1AB0, 0x1AFF, 0},   {0x1DC0, 0x1DFF, 0},   {0x200B, 0x200F, 0},
    {0x2028, 0x202E, 0},   {0x2060, 0x2064, 0},   {0x20D0, 0x20FF, 0},   {0x231A, 0x231B, 2},
    {0x2329, 0x232A, 2},   {0x23E9, 0x23EC, 2},   {0x23F0, 0x23F0, 2},   {0x23F3, 0x23F3, 2},
    {0x25FD, 0x25FE, 2},   {0x2614, 0x2615, 2},   {0x2648, 0x2653, 2},   {0x267F, 0x267F, 2},
    {0x2693, 0x2693, 2},   {0x26A1, 0x26A1, 2},   {0x26AA, 0x26AB, 2},   {0x26BD, 0x26BE, 2},
    {0x26C4, 0x26C5, 2},   {0x26CE, 0x26CE, 2},   {0x26D4, 0x26D4, 2},   {0x26EA, 0x26EA, 2},
    {0x26F2, 0x26F3, 2},   {0x26F5, 0x26F5, 2},   {0x26FA, 0x26FA, 2},   {0x26FD, 0x26FD, 2},
    {0x2705, 0x2705, 2},   {0x270A, 0x270B, 2},   {0x2728, 0x2728, 2},   {0x274C, 0x274C, 2},
    {0x274E, 0x274E, 2},   {0x2753, 0x2755, 2},   {0x2757, 0x2757, 2},   {0x2795, 0x2797, 2},
    {0x27B0, 0x27B0, 2},   {0x27BF, 0x27BF, 2},   {0x2B1B, 0x2B1C, 2},   {0x2B50, 0x2B50, 2},
    {0x2B55, 0x2B55, 2},   {0x2E80, 0x303E, 2},   {0x3041, 0x33FF, 2},   {0x3400, 0x4DBF, 2},
    {0x4E00, 0x9FFF, 2},   {0xA000, 0xA4CF, 2},   {0xA960, 0xA97F, 2},   {0xAC00, 0xD7A3, 2},
    {0xF900, 0xFAFF, 2},   {0xFE00, 0xFE0F, 0},   {0xFE10, 0xFE19, 2},   {0xFE20, 0xFE2F, 0},
    {0xFE30, 0xFE6F, 2},   {0xFEFF, 0xFEFF, 0},   {0xFF00, 0xFF60, 2},   {0xFFE0, 0xFFE6, 2},
    {0x1F004, 0x1F004, 2}, {0x1F0CF, 0x1F0CF, 2}, {0x1F18E, 0x1F18E, 2}, {0x1F191, 0x1F19A, 2},
    {0x1F200, 0x1F251, 2}, {0x1F300, 0x1F64F, 2}, {0x1F680, 0x1F6FF, 2}, {0x1F900, 0x1F9FF, 2},
    {0x1FA70, 0x1FAFF, 2}, {0x20000, 0x2FFFD, 2}, {0x30000, 0x3FFFD, 2}, {0xE0000, 0xE0FFF, 0},
};

int CharacterColumns(char32_t c) {
  for (const ColumnRange& range : kColumnRanges) {
    if (c < range.first) return 1;
    if (c <= range.last) return range.columns;
  }
  return 1;
}

// The character of the valid UTF-8 sequence at s[i], and its length.
char32_t Decode(std::string_view s, std::size_t i, std::size_t& length) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b = byte(i);
  length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
  if (i + length > s.size()) {
    length = 1;
    return U'?';
  }
  char32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
  for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (byte(i + k) & 0x3F);
  return c;
}

// `s` cut or padded with blanks to exactly `columns` display columns. A wide character
// that would stand half outside is left out.
std::string Fit(std::string_view s, int columns) {
  std::string out;
  int used = 0;
  for (std::size_t i = 0; i < s.size();) {
    std::size_t length = 0;
    const int w = CharacterColumns(Decode(s, i, length));
    if (used + w > columns) break;
    used += w;
    out.append(s.substr(i, length));
    i += length;
  }
  out.append(static_cast<std::size_t>(columns - used), ' ');
  return out;
}

// The last `columns` display columns of `s` (fewer when a wide character is in the way).
std::string Tail(std::string_view s, int columns) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0, length = 0; i < s.size(); i += length) {
    Decode(s, i, length);
    starts.push_back(i);
  }
  std::size_t from = s.size();
  int used = 0;
  while (!starts.empty()) {
    std::size_t length = 0;
    const int w = CharacterColumns(Decode(s, starts.back(), length));
    if (used + w > columns) break;
    used += w;
    from = starts.back();
    starts.pop_back();
  }
  return std::string(s.substr(from));
}

// `s` in exactly `columns`: cut at its end with an ellipsis when it is longer.
std::string FitCut(std::string_view s, int columns) {
  if (DisplayColumns(s) <= columns || columns < 1) return Fit(s, columns);
  return Fit(s, columns - 1) + std::string(kCut);
}

// `s` in exactly `columns`: cut in the middle when it is longer, so its end stays.
std::string FitKeepingEnd(std::string_view s, int columns) {
  if (DisplayColumns(s) <= columns || columns < 6) return Fit(s, columns);
  const std::string tail = Tail(s, columns / 3);
  const int head = columns - 1 - DisplayColumns(tail);
  return Fit(Fit(s, head) + std::string(kCut) + tail, columns);
}

std::string Paint(const std::string& text, const char* colour, bool on) {
  return on && colour != nullptr ? colour + text + kReset : text;
}

std::string Seconds(std::chrono::milliseconds elapsed) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.1f s", static_cast<double>(elapsed.count()) / 1000.0);
  return buffer;
}

std::string CountsText(const Counts& c) {
  std::string text = std::to_string(c.succeeded) + " succeeded, " + std::to_string(c.failed) +
                     " failed, " + std::to_string(c.empty) + " empty";
  if (c.running > 0) text += ", " + std::to_string(c.running) + " running";
  return text;
}

// What the module column says is on the port.
std::string ModuleText(const PortRow& row) {
  switch (row.Finding()) {
    case Found::kUnknown:
      return "";
    case Found::kModule:
    case Found::kUnreachable:
      return DisplayText(row.module->device);
    case Found::kUnidentified:
      return "unidentified";
    case Found::kNothing:
      return "none";
    case Found::kNoise:
      return "noise";
    case Found::kInUse:
      return "port in use";
    case Found::kNoEntry:
      return "no map entry";
  }
  return "";
}

std::string VersionText(const PortRow& row) {
  if (!row.module || row.module->version == "n/a") return "";
  return DisplayText(row.module->version);
}

// What the result column says about a row.
std::string ResultText(const PortRow& row) {
  if (row.outcome == Outcome::kRunning) {
    if (row.final) return "ending: " + DisplayText(row.final->text);
    if (row.downloading) return "writing";
    return row.module ? "found" : "scanning";
  }
  if (row.failure && row.outcome != Outcome::kSucceeded) return DisplayText(row.failure->text);
  return row.final ? DisplayText(row.final->text) : "";
}

const char* ResultColour(const PortRow& row) {
  switch (row.outcome) {
    case Outcome::kSucceeded:
      return kGreen;
    case Outcome::kFailed:
      return kRed;
    case Outcome::kEmpty:
      return kYellow;
    case Outcome::kRunning:
      return nullptr;
  }
  return nullptr;
}

// The title names the image's file alone: the report and the plain lines give its path.
std::string Title(const Round& round) {
  return "Round " + std::to_string(round.number) + ": " + DisplayText(round.image.product) +
         ", checksum " + std::to_string(round.image.checksum) + ", " +
         DisplayText(TextOf(PathOf(round.image.file).filename()));
}

}  // namespace

std::string DisplayText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out.push_back(' ');
      i += 2;
    } else if (b == '\t') {
      out.push_back(' ');
      ++i;
    } else if (b < 0x20 || b == 0x7F) {
      out.push_back('?');
      ++i;
    } else if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
    } else if (const std::size_t n = Utf8Length(text, i); n > 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out.push_back('?');
      ++i;
    }
  }
  return out;
}

std::string FitColumns(std::string_view text, int columns) {
  return Fit(text, columns);
}

int DisplayColumns(std::string_view text) {
  int columns = 0;
  for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
    columns += CharacterColumns(Decode(text, i, length));
  }
  return columns;
}

std::optional<TableColumns> FitTableColumns(int width, int moduleWanted, int resultWanted) {
  // One column is left free: a line that reaches the last one makes some terminals wrap.
  const int usable = width - 1;
  TableColumns c{std::clamp(moduleWanted, kModuleMin, kModuleMax), kBarMax,
                 std::max(resultWanted, kResultMin)};
  int over = kFixedColumns + c.module + kBarFrame + c.bar + c.result - usable;
  const auto narrow = [&over](int& columns, int least) {
    const int cut = std::clamp(over, 0, std::max(columns - least, 0));
    columns -= cut;
    over -= cut;
  };
  // Narrowed in this order: the bar; a result longer than the success line; the bar goes
  // altogether (the percentage stays); the result down to its least; then the module.
  narrow(c.bar, kBarMin);
  narrow(c.result, std::max(kResultWanted, kResultMin));
  if (over > 0) {
    over -= kBarFrame + c.bar;
    c.bar = 0;
  }
  narrow(c.result, kResultMin);
  narrow(c.module, kModuleMin);
  if (over > 0) return std::nullopt;
  c.result -= over;  // what is left over widens the result
  return c;
}

std::vector<std::string> RenderTable(const Round& round, const TableStyle& style,
                                     std::chrono::milliseconds elapsed) {
  const bool c = style.colour;
  int moduleWanted = 0;
  int resultWanted = kResultWanted;
  for (const PortRow& row : round.rows) {
    moduleWanted = std::max(moduleWanted, DisplayColumns(ModuleText(row)));
    resultWanted = std::max(resultWanted, DisplayColumns(ResultText(row)));
  }
  const std::optional<TableColumns> columns =
      FitTableColumns(style.width, moduleWanted, std::min(resultWanted, kResultWantedMost));
  if (!columns) return {};
  const int width = style.width - 1;
  const int bar = columns->bar;
  const std::string gap(kGap, ' ');

  std::vector<std::string> lines;
  lines.push_back(Paint(FitCut(Title(round), width), kBold, c));
  const int progressColumns = kProgressColumns + (bar > 0 ? kBarFrame + bar : 0);
  lines.push_back(
      Paint(Fit(Fit("PORT", kPortColumns) + gap + Fit("MODULE", columns->module) + gap +
                    Fit("VERSION", kVersionColumns) + gap +
                    Fit(bar > 0 ? "SLOT PROGRESS" : "SLOT DONE", progressColumns) + gap + "RESULT",
                width),
            kBold, c));
  for (const PortRow& row : round.rows) {
    std::string progress;
    if (row.slot >= 0) {
      const int filled = std::clamp(row.percent, 0, 100) * bar / 100;
      char slot[16];
      char percent[16];
      std::snprintf(slot, sizeof slot, "%4d", row.slot);
      std::snprintf(percent, sizeof percent, "%3d%%", std::clamp(row.percent, 0, 999));
      progress = std::string(slot) + " ";
      if (bar > 0) {
        progress += "[" +
                    Paint(std::string(static_cast<std::size_t>(filled), '#'),
                          row.outcome == Outcome::kRunning ? kCyan : ResultColour(row), c) +
                    std::string(static_cast<std::size_t>(bar - filled), '-') + "] ";
      }
      progress += percent;
    } else {
      progress = std::string(static_cast<std::size_t>(progressColumns), ' ');
    }
    std::string line = Fit(PortName(row.com), kPortColumns) + gap +
                       FitKeepingEnd(ModuleText(row), columns->module) + gap +
                       FitCut(VersionText(row), kVersionColumns) + gap + progress + gap;
    line += Paint(FitCut(ResultText(row), columns->result), ResultColour(row), c);
    lines.push_back(line);
  }
  const Counts counts = round.Count();
  lines.push_back(FitCut(std::to_string(counts.ports) +
                             (counts.ports == 1 ? " port: " : " ports: ") + CountsText(counts) +
                             ", " + Seconds(elapsed) + (round.interrupted ? ", stopped" : ""),
                         width));
  return lines;
}

std::string RoundStartLine(const Round& round) {
  std::string ports;
  for (const PortRow& row : round.rows) ports += " " + PortName(row.com);
  return "round " + std::to_string(round.number) + ": " + DisplayText(round.image.product) +
         ", checksum " + std::to_string(round.image.checksum) + ", " +
         DisplayText(round.image.file) + ", on" + ports;
}

std::string EventLine(const PortRow& row, Change change) {
  const std::string port = PortName(row.com) + ": ";
  switch (change) {
    case Change::kFound: {
      const Found found = row.Finding();
      // A port that could not be opened has nothing found on it: the line says why.
      if (found == Found::kInUse || found == Found::kUnreachable) return port + ModuleText(row);
      std::string line = port + "found " + ModuleText(row);
      if (const std::string version = VersionText(row); !version.empty()) line += " " + version;
      return line;
    }
    case Change::kDownloading:
      return port + "downloading";
    case Change::kSlotDone:
      return port + "slot " + std::to_string(row.slot) + " written";
    case Change::kNone:
    case Change::kFinal:
      return "";
  }
  return "";
}

std::string OutcomeLine(const PortRow& row) {
  const char* word = row.outcome == Outcome::kSucceeded ? "succeeded"
                     : row.outcome == Outcome::kEmpty   ? "empty"
                                                        : "failed";
  return PortName(row.com) + ": " + word + ": " + ResultText(row);
}

std::string MessageLine(const PortRow& row, std::string_view message) {
  return PortName(row.com) + ": loader: " + DisplayText(message);
}

std::string PromptLine(bool person) {
  return person ? "Press Enter to flash again, or q and Enter to end."
                : "waiting for an empty line on standard input to flash again (q ends)";
}

std::string OtherAnswerLine(std::string_view line) {
  constexpr int kShownColumns = 40;
  const std::string shown = DisplayText(line);
  return "'" + (DisplayColumns(shown) > kShownColumns ? FitCut(shown, kShownColumns) : shown) +
         "' is not an answer: Enter flashes again, q ends";
}

std::string RoundEndLine(const Round& round, std::chrono::milliseconds elapsed) {
  return "round " + std::to_string(round.number) + (round.interrupted ? " stopped: " : ": ") +
         CountsText(round.Count()) + " in " + Seconds(elapsed);
}

}  // namespace downloader::station
