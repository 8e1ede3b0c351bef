#pragma once

#include <chrono>
#include <optional>
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

/// The columns a text of DisplayText's kind takes on a terminal: two for each wide
/// character (CJK, fullwidth forms, emoji), none for combining marks and zero-width
/// characters, one for every other.
int DisplayColumns(std::string_view text);

/// `text` (of DisplayText's kind) cut or padded with blanks to exactly `columns` display
/// columns; a wide character that would stand half outside is left out.
std::string FitColumns(std::string_view text, int columns);

/// The widths of the table's three columns that vary.
struct TableColumns {
  int module = 0;
  int bar = 0;  ///< the progress bar's cells; 0: no bar
  int result = 0;
  bool operator==(const TableColumns&) const = default;
};

/// Fits the table into a terminal `width` columns wide, one column left free, given the
/// widest module name and result: first the bar narrows (12 cells down to 4), then a result
/// longer than the success line (down to its 24 columns), then the bar goes (0: slot and
/// percentage stay), then the result narrows down to 12 columns, then the module down to 6.
/// A cut text ends in an ellipsis (a module's name is cut in the middle instead, so its
/// end stays). Columns left over widen the result. Nothing when even that is too wide:
/// the station then writes plain lines.
std::optional<TableColumns> FitTableColumns(int width, int moduleWanted, int resultWanted);

/// The live table of a round: a title, a header, one row per port (module, version, the
/// slot being written with its bar and percentage, the result) and a line of counts. Each
/// line takes fewer than `style.width` columns, so none wraps. Empty when the table does
/// not fit (FitTableColumns).
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
/// The question between rounds: for a person at a terminal (`person`), or for a program
/// that writes to standard input.
std::string PromptLine(bool person);
/// The answer to a line that is neither Enter nor q.
std::string OtherAnswerLine(std::string_view line);

}  // namespace downloader::station
