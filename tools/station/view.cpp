#include "view.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace downloader::station {

namespace {

constexpr int kBarCells = 12;
constexpr int kModuleMin = 6;
constexpr int kModuleMax = 24;

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

// Columns a valid UTF-8 text takes: one per character.
int Columns(std::string_view s) {
  return static_cast<int>(std::count_if(
      s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// `s` cut or padded with blanks to exactly `columns`.
std::string Fit(std::string_view s, int columns) {
  std::string out;
  int used = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const bool starts = (static_cast<unsigned char>(s[i]) & 0xC0) != 0x80;
    if (starts && used == columns) break;
    if (starts) ++used;
    out.push_back(s[i]);
  }
  out.append(static_cast<std::size_t>(columns - used), ' ');
  return out;
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

std::string ModuleText(const PortRow& row) {
  return row.module ? DisplayText(row.module->device) : "";
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
  if (row.final) return DisplayText(row.final->text);
  return DisplayText(row.failure);
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
         DisplayText(std::filesystem::path(round.image.file).filename().string());
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

std::vector<std::string> RenderTable(const Round& round, const TableStyle& style,
                                     std::chrono::milliseconds elapsed) {
  const bool c = style.colour;
  const int width = std::max(style.width - 1, 20);
  int moduleWidth = kModuleMin;
  for (const PortRow& row : round.rows) {
    moduleWidth = std::max(moduleWidth, Columns(ModuleText(row)));
  }
  moduleWidth = std::min(moduleWidth, kModuleMax);

  // Columns: port 5, module, version 7, slot 4, bar, percentage 4, then the result.
  const std::string gap = "  ";
  const int fixed = 5 + 2 + moduleWidth + 2 + 7 + 2 + 4 + 1 + (kBarCells + 2) + 1 + 4 + 2;
  const int resultWidth = std::max(width - fixed, 0);

  std::vector<std::string> lines;
  lines.push_back(Paint(Fit(Title(round), width), kBold, c));
  lines.push_back(
      Paint(Fit(Fit("PORT", 5) + gap + Fit("MODULE", moduleWidth) + gap + Fit("VERSION", 7) + gap +
                    "SLOT " + Fit("PROGRESS", kBarCells + 7) + gap + "RESULT",
                width),
            kBold, c));
  for (const PortRow& row : round.rows) {
    std::string progress;
    if (row.slot >= 0) {
      const int filled = std::clamp(row.percent, 0, 100) * kBarCells / 100;
      char slot[16];
      char percent[16];
      std::snprintf(slot, sizeof slot, "%4d", row.slot);
      std::snprintf(percent, sizeof percent, "%3d%%", std::clamp(row.percent, 0, 999));
      progress = std::string(slot) + " [" +
                 Paint(std::string(static_cast<std::size_t>(filled), '#'),
                       row.outcome == Outcome::kRunning ? kCyan : ResultColour(row), c) +
                 std::string(static_cast<std::size_t>(kBarCells - filled), '-') + "] " + percent;
    } else {
      progress = std::string(static_cast<std::size_t>(4 + 1 + kBarCells + 2 + 1 + 4), ' ');
    }
    std::string line = Fit(PortName(row.com), 5) + gap + Fit(ModuleText(row), moduleWidth) + gap +
                       Fit(VersionText(row), 7) + gap + progress + gap;
    line += Paint(Fit(ResultText(row), resultWidth), ResultColour(row), c);
    lines.push_back(line);
  }
  const Counts counts = round.Count();
  lines.push_back(Fit(std::to_string(counts.ports) + (counts.ports == 1 ? " port: " : " ports: ") +
                          CountsText(counts) + ", " + Seconds(elapsed) +
                          (round.interrupted ? ", stopped" : ""),
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

std::string RoundEndLine(const Round& round, std::chrono::milliseconds elapsed) {
  return "round " + std::to_string(round.number) + (round.interrupted ? " stopped: " : ": ") +
         CountsText(round.Count()) + " in " + Seconds(elapsed);
}

}  // namespace downloader::station
