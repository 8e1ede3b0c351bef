#pragma once

#include <string>
#include <string_view>

#include "image/object_image.h"

namespace downloader {

/// Why the loader refuses an image, in the order the checks run.
enum class ImageFault {
  kNone,     ///< the image is accepted
  kFormat,   ///< wrong magic, or a slot count, packet count or device type out of range
  kVersion,  ///< a format version other than 1.2
  kCrc,      ///< the stored CRC does not match
};

/// Checks an image as the loader does before it uses it: the magic (length byte exactly 23,
/// case-sensitive text), the format version 0x12, the CRC, then the fields the download
/// indexes with: SlotCount at most 8, PacketCount at most 128 for every slot in use,
/// TargetDevice 1..6. An intact image whose fields are out of range counts as kFormat.
ImageFault CheckImage(const ObjectImage& image);

/// The numbered message for a fault: 014, 013 with the version's nibbles in decimal, or 012
/// naming `fileName` in double quotes. Empty for kNone.
std::string FaultMessage(ImageFault fault, const ObjectImage& image, std::string_view fileName);

/// "014-Not proper object code file format."
inline constexpr std::string_view kNotObjectCodeMessage = "014-Not proper object code file format.";

}  // namespace downloader
