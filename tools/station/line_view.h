#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "line_model.h"
#include "view.h"

namespace downloader::station {

/// What the production line's table shows.
struct LineView {
  const ImageInfo* image = nullptr;
  const std::vector<FixtureCycle>* fixtures = nullptr;
  /// Per fixture, what its last presence check wrote on standard error (the holder of a
  /// port in use, why a port is not there); empty when nothing.
  const std::vector<std::string>* notes = nullptr;
  std::chrono::milliseconds elapsed{0};
  int count = 0;        ///< the units to pass (--count), 0 for no end
  bool ending = false;  ///< no new unit starts: the line ends once the last is done
};

/// The live table of a production line: a title, a header, one row per fixture (the
/// module, its state: waiting, flashing with its slot and bar, PASS or FAIL with the
/// loader's final line until the module is taken out, no device, port in use; and its
/// passed, failed, yield and units per hour) and a line of counts for the whole line.
/// Each line takes fewer than `style.width` columns. Empty when the table does not fit.
std::vector<std::string> RenderLineTable(const LineView& view, const TableStyle& style);

/// A fixture's state as one plain line, without a line end ("COM3: PASS, remove the
/// module: 044-Download successful!"); the plain output writes one at every change.
/// `note`: what its last presence check said (shown with no device and port in use).
std::string FixtureLine(const FixtureCycle& fixture, const std::string& note);

/// What tells one of FixtureLine's states from the next: a new line is due when it changes.
std::string FixtureLineKey(const FixtureCycle& fixture);

/// "41 passed, 2 failed, yield 95.3 %, 812 units/h in 3:02:05" (", 41 of 100 passed" with
/// a count to reach).
std::string LineCountsText(const UnitCounts& counts, std::chrono::milliseconds elapsed, int count);

/// The plain line that starts a production line.
std::string LineStartLine(const ImageInfo& image, const std::vector<int>& ports);

}  // namespace downloader::station
