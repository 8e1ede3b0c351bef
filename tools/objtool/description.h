#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "image/date_text.h"
#include "image/image_builder.h"

namespace downloader::objtool {

/// Reads an image description in JSON. Fields:
///   "target_device"  1..6 (required)
///   "company", "firmware"  texts of at most 50 bytes (required)
///   "product"        text of at most 50 bytes; the standard name of the type when absent
///   "compile_time"   "YYYY-MM-DDTHH:MM[:SS[.mmm]]" (local time as stored, no zone) or a
///                    number of days since 1899-12-30 (required)
///   "notes"          one text of at most 750 bytes, spread over the three parts, or an
///                    array of up to three texts of at most 250 bytes; stored as written
///                    (write "\r\n" for a line break)
///   "slots"          up to 8 objects, each {"packets": ["36 hex digits", ...]} or
///                    {"file": "name"} (a plain binary file of whole 18-byte packets, at
///                    most 128 of them, relative to `baseDirectory`; a longer file, a FIFO
///                    or a device is refused unread)
/// Texts are stored as their UTF-8 bytes. Throws ImageBuildError whose text starts with
/// the field's name ("slots[1].packets[3]: ...") for anything missing, unknown or invalid.
ImageDescription ParseDescription(std::string_view json,
                                  const std::filesystem::path& baseDirectory);

/// The date value of "YYYY-MM-DDTHH:MM[:SS[.mmm]]" (a blank may stand for the T); nothing
/// when the text does not have that form or names no real date.
std::optional<DateValue> ParseIsoDateTime(std::string_view text);

/// A date value as "YYYY-MM-DDTHH:MM:SS.mmm"; empty when it stands for no date.
std::string IsoDateTime(DateValue value);

}  // namespace downloader::objtool
