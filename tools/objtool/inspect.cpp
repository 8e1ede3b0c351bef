#include "objtool/inspect.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "image/date_text.h"
#include "image/image_builder.h"
#include "image/validation.h"
#include "objtool/description.h"

namespace downloader::objtool {

namespace {

using namespace image_layout;

ObjectImage ImageAt(std::string_view bytes, std::size_t offset) {
  ObjectImage image;
  std::memcpy(image.bytes.data(), bytes.data() + offset, kSize);
  return image;
}

std::string Hex8(uint8_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value);
  return text;
}

std::string Hex16(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

/// Packet counts of the slots in use; at most the eight records there are.
std::vector<int> PacketCounts(const ObjectImage& image) {
  std::vector<int> counts;
  for (std::size_t s = 0; s < image.SlotCount() && s < kSlotsPerImage; ++s) {
    counts.push_back(image.PacketCount(s));
  }
  return counts;
}

std::string Count(int n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string DeviceName(int type) {
  return type >= 1 && type <= 6 ? StandardProductName(type) : std::string("no such type");
}

std::string VersionText(uint8_t version) {
  return std::to_string(version >> 4) + "." + std::to_string(version & 0x0F);
}

std::string LoaderVerdict(const ObjectImage& image, const std::string& fileName) {
  const ImageFault fault = CheckImage(image);
  return fault == ImageFault::kNone ? std::string() : FaultMessage(fault, image, fileName);
}

std::string SourceName(const LocatedImage& located) {
  return located.source == ImageSource::kLoader ? "self-contained loader" : "object file";
}

}  // namespace

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "\"";
}

std::optional<ObjectImage> EmbeddedImageOf(std::string_view fileBytes) {
  if (fileBytes.size() < kSize) return std::nullopt;
  ObjectImage image = ImageAt(fileBytes, fileBytes.size() - kSize);
  if (!CrcMatches(image)) return std::nullopt;
  return image;
}

std::optional<LocatedImage> LocateImage(std::string_view fileBytes, std::string& problem) {
  if (fileBytes.size() < kSize) {
    problem = std::to_string(fileBytes.size()) + " bytes, shorter than an image (" +
              std::to_string(kSize) + ")";
    return std::nullopt;
  }
  LocatedImage located;
  located.fileSize = fileBytes.size();
  located.image = ImageAt(fileBytes, 0);
  if (HasMagic(located.image)) return located;
  // A file of exactly one image is an object file, whatever its first bytes say.
  auto embedded = fileBytes.size() > kSize ? EmbeddedImageOf(fileBytes) : std::nullopt;
  if (embedded) {
    located.image = *embedded;
    located.source = ImageSource::kLoader;
    located.offset = fileBytes.size() - kSize;
    return located;
  }
  if (fileBytes.starts_with("\177ELF")) {
    problem = "an executable without an embedded image (its last " + std::to_string(kSize) +
              " bytes fail the CRC)";
    return std::nullopt;
  }
  return located;
}

std::string InfoText(const LocatedImage& located) {
  const ObjectImage& image = located.image;
  std::ostringstream out;
  const auto line = [&](std::string_view key, const std::string& value) {
    out << key << ':' << std::string(18 - key.size(), ' ') << value << '\n';
  };
  const auto text = [&](std::string_view key, std::size_t offset, std::size_t capacity) {
    const std::size_t length = image.bytes[offset];
    std::string value = Quoted(image.Text(offset)) + " (" + std::to_string(length) + " of " +
                        std::to_string(capacity) + " bytes";
    line(key, value + (length > capacity ? ", over capacity)" : ")"));
  };

  line("source", SourceName(located) + ", " + std::to_string(located.fileSize) +
                     " bytes, image at offset " + std::to_string(located.offset));
  line("magic", HasMagic(image) ? "ok" : "wrong " + Quoted(image.Text(kMagic)));
  line("format version",
       VersionText(image.FormatVersion()) + " (" + Hex8(image.FormatVersion()) + ")");
  line("target device",
       std::to_string(image.TargetDevice()) + " (" + DeviceName(image.TargetDevice()) + ")");
  text("company", kCompanyName, kNameCapacity);
  text("product", kProductName, kNameCapacity);
  text("firmware", kFirmwareName, kNameCapacity);
  const double time = image.CompileTime();
  char number[40];
  std::snprintf(number, sizeof number, "%.17g", time);
  const std::string iso = IsoDateTime(time);
  line("compile time",
       std::string(number) +
           (iso.empty() ? " (no date)" : " = " + iso + " (" + DateText(time) + ")"));
  for (std::size_t i = 0; i < 3; ++i) {
    text("notes part " + std::to_string(i), kIntroMessage[i], kIntroCapacity);
  }
  line("slot count",
       std::to_string(image.SlotCount()) + (image.SlotCount() > kSlotsPerImage ? " (over 8)" : ""));
  int packets = 0;
  const auto counts = PacketCounts(image);
  for (std::size_t s = 0; s < counts.size(); ++s) {
    line("slot " + std::to_string(s),
         Count(counts[s], "packet") + (counts[s] > 128 ? " (over 128)" : ""));
    packets += counts[s];
  }
  line("packets", std::to_string(packets));
  const uint16_t computed = ImageCrc(image);
  line("stored crc", Hex16(image.Crc()) + (computed == image.Crc() ? " (matches)"
                                                                   : " (does not match, computed " +
                                                                         Hex16(computed) + ")"));
  line("display checksum", std::to_string(DisplayChecksum(image)));
  const std::string verdict = LoaderVerdict(image, located.fileName);
  line("loader", verdict.empty() ? "accepts the image" : "refuses it: " + verdict);
  return out.str();
}

nlohmann::json InfoJson(const LocatedImage& located) {
  const ObjectImage& image = located.image;
  nlohmann::json info;
  info["source"] = located.source == ImageSource::kLoader ? "loader" : "object_file";
  info["file_size"] = located.fileSize;
  info["image_offset"] = located.offset;
  info["magic_ok"] = HasMagic(image);
  info["format_version"] = VersionText(image.FormatVersion());
  info["format_version_byte"] = image.FormatVersion();
  info["target_device"] = image.TargetDevice();
  info["company"] = image.CompanyName();
  info["product"] = image.ProductName();
  info["firmware"] = image.FirmwareName();
  const double time = image.CompileTime();
  // JSON has no NaN or infinity; such a value is null.
  info["compile_time"] = std::isfinite(time) ? nlohmann::json(time) : nlohmann::json();
  const std::string iso = IsoDateTime(time);
  info["compile_time_iso"] = iso.empty() ? nlohmann::json() : nlohmann::json(iso);
  info["compile_date_text"] = DateText(time);
  info["notes"] = {image.Text(kIntroMessage[0]), image.Text(kIntroMessage[1]),
                   image.Text(kIntroMessage[2])};
  info["slot_count"] = image.SlotCount();
  const auto counts = PacketCounts(image);
  info["packet_counts"] = counts;
  int packets = 0;
  for (int count : counts) packets += count;
  info["packets"] = packets;
  info["stored_crc"] = image.Crc();
  info["computed_crc"] = ImageCrc(image);
  info["crc_ok"] = CrcMatches(image);
  info["display_checksum"] = DisplayChecksum(image);
  const std::string verdict = LoaderVerdict(image, located.fileName);
  info["valid"] = verdict.empty();
  info["loader_message"] = verdict.empty() ? nlohmann::json() : nlohmann::json(verdict);
  return info;
}

}  // namespace downloader::objtool
