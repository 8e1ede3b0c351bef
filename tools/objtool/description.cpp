#include "objtool/description.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/file_names.h"
#include "platform/safe_files.h"

namespace downloader::objtool {

namespace {

using nlohmann::json;

constexpr std::size_t kSlotBytes = image_layout::kPacketsPerSlot * image_layout::kPacketSize;

[[noreturn]] void Fail(const std::string& field, const std::string& problem) {
  throw ImageBuildError(field + ": " + problem);
}

void RefuseUnknownFields(const json& object, const std::set<std::string>& known,
                         const std::string& where) {
  for (const auto& [key, value] : object.items()) {
    if (!known.contains(key)) Fail(where + key, "unknown field");
  }
}

std::string Text(const json& object, const std::string& key, bool required) {
  if (!object.contains(key)) {
    if (required) Fail(key, "missing");
    return {};
  }
  const json& value = object.at(key);
  if (!value.is_string()) Fail(key, "must be a text");
  return value.get<std::string>();
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/// One packet: 36 hex digits, blanks allowed between them.
void AppendPacket(const std::string& text, const std::string& field, std::vector<uint8_t>& out) {
  std::string digits;
  for (char c : text) {
    if (c == ' ' || c == '\t') continue;
    if (HexDigit(c) < 0) Fail(field, std::string("'") + c + "' is not a hex digit");
    digits.push_back(c);
  }
  if (digits.size() != 2 * image_layout::kPacketSize) {
    Fail(field, "expected 36 hex digits (18 bytes), got " + std::to_string(digits.size()));
  }
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(HexDigit(digits[i]) * 16 + HexDigit(digits[i + 1])));
  }
}

std::vector<uint8_t> SlotBytes(const json& slot, const std::string& field,
                               const std::filesystem::path& baseDirectory) {
  if (!slot.is_object()) Fail(field, "must be an object with \"packets\" or \"file\"");
  RefuseUnknownFields(slot, {"packets", "file"}, field + ".");
  const bool hasPackets = slot.contains("packets");
  const bool hasFile = slot.contains("file");
  if (hasPackets == hasFile) Fail(field, "needs exactly one of \"packets\" and \"file\"");

  std::vector<uint8_t> bytes;
  if (hasPackets) {
    const json& packets = slot.at("packets");
    if (!packets.is_array()) Fail(field + ".packets", "must be an array of hex texts");
    for (std::size_t k = 0; k < packets.size(); ++k) {
      const std::string packetField = field + ".packets[" + std::to_string(k) + "]";
      if (!packets[k].is_string()) Fail(packetField, "must be a text of hex digits");
      AppendPacket(packets[k].get<std::string>(), packetField, bytes);
    }
    return bytes;
  }
  if (!slot.at("file").is_string()) Fail(field + ".file", "must be a file name");
  const std::filesystem::path name = baseDirectory / PathOf(slot.at("file").get<std::string>());
  // At most what a slot holds, from a plain file: a device or a FIFO would never end.
  std::string data;
  std::string error;
  if (!ReadBoundedFile(NameOf(name), kSlotBytes, data, error)) {
    Fail(field + ".file", "cannot read " + NameOf(name) + ": " + error);
  }
  bytes.assign(data.begin(), data.end());
  if (bytes.size() % image_layout::kPacketSize != 0) {
    Fail(field + ".file", NameOf(name) + " has " + std::to_string(bytes.size()) +
                              " bytes, not a whole number of 18-byte packets");
  }
  return bytes;
}

std::array<std::string, 3> Notes(const json& notes) {
  if (notes.is_string()) return SplitNotes(notes.get<std::string>());
  if (!notes.is_array() || notes.size() > 3) {
    Fail("notes", "must be a text or an array of up to three texts");
  }
  std::array<std::string, 3> parts;
  for (std::size_t i = 0; i < notes.size(); ++i) {
    if (!notes[i].is_string()) Fail("notes[" + std::to_string(i) + "]", "must be a text");
    parts[i] = notes[i].get<std::string>();
  }
  return parts;
}

/// Reads `count` decimal digits at `at`; -1 when they are not all digits.
int Digits(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

}  // namespace

std::optional<DateValue> ParseIsoDateTime(std::string_view text) {
  // YYYY-MM-DDTHH:MM, then optionally :SS and .m, .mm or .mmm
  if (text.size() < 16 || text[4] != '-' || text[7] != '-' ||
      (text[10] != 'T' && text[10] != ' ') || text[13] != ':') {
    return std::nullopt;
  }
  const int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
  const int hour = Digits(text, 11, 2), minute = Digits(text, 14, 2);
  int second = 0, millisecond = 0;
  std::size_t at = 16;
  if (at < text.size()) {
    if (text[at] != ':') return std::nullopt;
    second = Digits(text, at + 1, 2);
    at += 3;
    if (at < text.size()) {
      if (text[at] != '.') return std::nullopt;
      const std::size_t count = text.size() - at - 1;
      if (count < 1 || count > 3) return std::nullopt;
      millisecond = Digits(text, at + 1, count);
      for (std::size_t i = count; i < 3; ++i) millisecond *= 10;
    }
  }
  if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0 || millisecond < 0) {
    return std::nullopt;
  }
  return EncodeDateTime(year, month, day, hour, minute, second, millisecond);
}

std::string IsoDateTime(DateValue value) {
  const auto f = DecodeDateTime(value);
  if (!f) return {};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", f->year, f->month, f->day,
                f->hour, f->minute, f->second, f->millisecond);
  return text;
}

ImageDescription ParseDescription(std::string_view text,
                                  const std::filesystem::path& baseDirectory) {
  json root;
  try {
    root = json::parse(text);
  } catch (const json::exception& error) {
    // Not only syntax errors: a number too large for a double is out_of_range.
    throw ImageBuildError(std::string("not valid JSON: ") + error.what());
  }
  if (!root.is_object()) throw ImageBuildError("the description must be a JSON object");
  RefuseUnknownFields(
      root, {"target_device", "company", "product", "firmware", "compile_time", "notes", "slots"},
      "");

  ImageDescription description;
  if (!root.contains("target_device")) Fail("target_device", "missing");
  const json& target = root.at("target_device");
  if (!target.is_number_integer() || target.get<int64_t>() < 1 || target.get<int64_t>() > 6) {
    Fail("target_device", "must be a whole number 1..6");
  }
  description.targetDevice = static_cast<uint8_t>(target.get<int>());
  description.company = Text(root, "company", true);
  description.product = root.contains("product") ? Text(root, "product", true)
                                                 : StandardProductName(description.targetDevice);
  description.firmware = Text(root, "firmware", true);

  if (!root.contains("compile_time")) Fail("compile_time", "missing");
  const json& time = root.at("compile_time");
  if (time.is_number()) {
    description.compileTime = time.get<double>();
  } else if (time.is_string()) {
    const auto value = ParseIsoDateTime(time.get<std::string>());
    if (!value) {
      Fail("compile_time",
           "expected YYYY-MM-DDTHH:MM[:SS[.mmm]], got \"" + time.get<std::string>() + "\"");
    }
    description.compileTime = *value;
  } else {
    Fail("compile_time", "must be an ISO date-time text or a number of days");
  }

  if (root.contains("notes")) description.notes = Notes(root.at("notes"));
  if (root.contains("slots")) {
    const json& slots = root.at("slots");
    if (!slots.is_array()) Fail("slots", "must be an array");
    for (std::size_t s = 0; s < slots.size(); ++s) {
      description.slots.push_back(
          SlotBytes(slots[s], "slots[" + std::to_string(s) + "]", baseDirectory));
    }
  }
  // Capacities, slot and packet counts are checked while the image is built.
  BuildImage(description);
  return description;
}

}  // namespace downloader::objtool
