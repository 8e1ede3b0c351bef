#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "line_model.h"
#include "model.h"

namespace downloader::station {

/// The version of the unit record's layout (docs/unit-log.schema.json); it changes when a
/// reader would have to.
inline constexpr int kUnitLogVersion = 1;
/// The version of the production line's report (docs/line-report.schema.json).
inline constexpr int kLineReportVersion = 1;

/// What every unit record of one station run shares.
struct LineFacts {
  std::string host;            ///< the station's host name
  std::string stationVersion;  ///< this program's version
  std::string loader;          ///< the loader run
  std::string loaderVersion;   ///< `downloader --version`'s; empty when it gave none
  ImageInfo image;             ///< with the SHA-256 of the file the station pinned
  /// The device the port map names for each port (a device path or a URL): the fixture.
  std::map<int, std::string> devices;
};

/// One ended unit as one line of JSON, without a line end, as docs/unit-log.schema.json
/// describes it (texts that are not UTF-8 keep their bytes as U+FFFD):
///   {"format_version", "station": {"version", "host"}, "loader": {"file", "version"},
///    "port", "device", "start", "end", "duration_s",
///    "result": "passed" | "failed" | "stopped",
///    "module": {"type", "name", "version"} or null,
///    "image": {"file", "company", "product", "firmware", "checksum", "sha256"},
///    "status": the last attempt's final line {"number", "channel", "text"} or null,
///    "failure": {"code", "text"} or null, "steps", "messages",
///    "attempts": [{"start", "end", "duration_s", "status", "failure", "steps",
///                  "messages"}]}
std::string UnitRecordLine(const LineFacts& facts, const Unit& unit);

/// The failure code of an attempt that did not pass, and its text: "status" (the loader's
/// final line said it), "timeout" (killed after a silence), "stopped" (by the operator),
/// "loader-error" (ended without a final line, or could not be started). Nothing when it
/// passed. A unit that was taken out before another attempt fails with "removed".
struct UnitFailure {
  std::string code;
  std::string text;
};
std::optional<UnitFailure> AttemptFailure(const PortRow& row);

/// One fixture's counts, for the report.
struct FixtureCounts {
  int com = 0;
  UnitCounts counts;
};

/// The report of a production line (--report with --continuous), replaced after every
/// unit and at the end, as docs/line-report.schema.json describes it:
///   {"format_version", "mode": "continuous", "station", "loader", "image",
///    "start", "end", "elapsed_s", "ended": null while it runs, else "count", "quit" or
///    "stopped",
///    "fixtures": [{"port", "device", "passed", "failed", "stopped", "yield",
///                  "units_per_hour"}],
///    "totals": {"passed", "failed", "stopped", "yield", "units_per_hour"}}
/// "yield" is 0..1 and "units_per_hour" a number, each null before the first unit.
std::string LineReportJson(const LineFacts& facts, const std::vector<FixtureCounts>& fixtures,
                           WallTime start, WallTime now, const std::string& ended);

}  // namespace downloader::station
