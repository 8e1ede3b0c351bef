#pragma once

#include <string>

namespace downloader::testing {

/// Validates `json` against the project's schema `schema` (a file name in docs/, such as
/// "station-report.schema.json") with the packaged validator (python3-jsonschema, through
/// support/validate_json.py); `lines`: `json` is JSON Lines, each line one document.
/// Empty when it is valid; otherwise the validator's lines, one per error.
std::string SchemaErrors(const std::string& schema, const std::string& json, bool lines = false);

}  // namespace downloader::testing
