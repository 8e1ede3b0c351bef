#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "model.h"

namespace downloader::station {

/// The report's format version. A report without "format_version" is of version 1, the
/// one before it (keys that came and went, placeholders such as "none" and "n/a").
inline constexpr int kReportFormatVersion = 2;

/// "2026-01-31T14:05:09.123Z": a time in UTC, to the millisecond.
std::string IsoTime(WallTime time);

/// What a report says about the station itself.
struct StationFacts {
  std::string version;        ///< the station's own
  std::string host;           ///< the computer's name; empty when unknown
  std::string loader;         ///< the loader's file as the station runs it
  std::string loaderVersion;  ///< from its --version; empty when it gave none
  std::optional<long> expectChecksum;
  std::string expectSha256;  ///< empty when not given
  bool followImage = false;
};

/// The station's JSON report of every round so far, as docs/station-report.schema.json
/// describes it. Every port object has the same keys; what is not known is null. Texts
/// that are not UTF-8 (an image's names may be in any code page) keep their bytes as
/// U+FFFD, never fail the report.
std::string ReportJson(const StationFacts& facts, const std::vector<Round>& rounds);

// The pieces that other records of the station share with the report, as the definitions
// of docs/station-common.schema.json.

using Json = nlohmann::ordered_json;

/// "image": file, company, product, firmware, checksum, sha256 (null when not read).
Json ImageJson(const ImageInfo& image);
/// "module": what the scan line said, without its placeholders; null without a scan line
/// or for a port that could not be opened.
Json ModuleJson(const PortRow& row);
/// "status": the loader's final line (number, channel, text); null without one.
Json StatusJson(const PortRow& row);
/// "failure": code and text; null for a port that did not fail.
Json FailureJson(const PortRow& row);
/// A failure code as records name it: "status", "timeout", "stopped", "in-use", "no-entry",
/// "loader-error".
const char* FailureCodeName(FailureCode code);
/// "found": "module", "unidentified", "nothing", "noise", "in-use", "unreachable",
/// "no-entry"; null while nothing is known.
Json FoundJson(const PortRow& row);
/// A firmware version as the loader shows it ("v1.1"): a number (1.1) when both its
/// digits are decimal, else the text itself ("v2.A", "vF.F"); null for none ("n/a", "").
Json VersionJson(const std::string& version);

}  // namespace downloader::station
