#pragma once

#include <string>
#include <vector>

#include "model.h"

namespace downloader::station {

/// "2026-01-31T14:05:09.123Z": a time in UTC, to the millisecond.
std::string IsoTime(WallTime time);

/// The station's JSON report of every round so far:
///   {"rounds": [{"round", "start", "end", "interrupted", "counts", "ports": [
///      {"port", "image": {"file", "product", "checksum"}, "start", "end",
///       "module": {"device", "version", "loopback", "echo"} or null,
///       "result": "succeeded" | "failed" | "empty",
///       "status": {"number", "channel", "text"} or null (the loader's final line),
///       "failure" (only when the station failed the port itself), "messages"}]}],
///    "counts": {"ports", "succeeded", "failed", "empty"}}
/// Texts that are not UTF-8 (an image's names may be in any code page) keep their bytes
/// as U+FFFD, never fail the report.
std::string ReportJson(const std::vector<Round>& rounds);

}  // namespace downloader::station
