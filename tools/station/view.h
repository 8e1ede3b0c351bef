#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "model.h"
#include "ports.h"

namespace downloader::station {

/// A text from the loader made safe to show: CR LF becomes a blank, other control bytes
/// and bytes that are not UTF-8 become '?', so no text can move the cursor or recolour the
/// terminal.
std::string DisplayText(std::string_view text);

/// How the table is drawn: the terminal's width in columns and whether it has colours.
struct TableStyle {
  int width = 80;
  bool colour = false;
};

/// The live table of a round: a title, a header, one row per port (module, version, the
/// slot being written with its bar and percentage, the result) and a line of counts. Each
/// line is shorter than `style.width` columns, so none wraps.
std::vector<std::string> RenderTable(const Round& round, const TableStyle& style,
                                     std::chrono::milliseconds elapsed);

// The plain output, one line per event, without colours or a trailing newline.
std::string RoundStartLine(const Round& round);
/// A status line's change of a row; empty when the change is not an event.
std::string EventLine(const PortRow& row, Change change);
/// A row's outcome, once its loader has ended.
std::string OutcomeLine(const PortRow& row);
/// A line the loader wrote to standard error.
std::string MessageLine(const PortRow& row, std::string_view message);
std::string RoundEndLine(const Round& round, std::chrono::milliseconds elapsed);

}  // namespace downloader::station
