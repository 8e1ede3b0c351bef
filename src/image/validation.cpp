#include "image/validation.h"

namespace downloader {

ImageFault CheckImage(const ObjectImage& image) {
  using namespace image_layout;
  if (!HasMagic(image)) return ImageFault::kFormat;
  if (image.FormatVersion() != kFormatVersionAccepted) return ImageFault::kVersion;
  if (!CrcMatches(image)) return ImageFault::kCrc;
  // The download walks SlotCount records of 128 packets and names the device type from a
  // table of 1..6: anything larger would reach past the image or the table.
  if (image.SlotCount() > kSlotsPerImage) return ImageFault::kFormat;
  for (std::size_t s = 0; s < image.SlotCount(); ++s) {
    if (image.PacketCount(s) > kPacketsPerSlot) return ImageFault::kFormat;
  }
  if (image.TargetDevice() < 1 || image.TargetDevice() > 6) return ImageFault::kFormat;
  return ImageFault::kNone;
}

std::string FaultMessage(ImageFault fault, const ObjectImage& image, std::string_view fileName) {
  switch (fault) {
    case ImageFault::kNone:
      return {};
    case ImageFault::kFormat:
      return std::string(kNotObjectCodeMessage);
    case ImageFault::kVersion: {
      const int version = image.FormatVersion();
      const int accepted = image_layout::kFormatVersionAccepted;
      return "013-Can not process object code.  File format is version " +
             std::to_string(version >> 4) + "." + std::to_string(version & 0x0F) +
             ".  Expected version " + std::to_string(accepted >> 4) + "." +
             std::to_string(accepted & 0x0F) + ".";
    }
    case ImageFault::kCrc:
      return "012-Checksum Error.  Data is corrupt in file \"" + std::string(fileName) + "\".";
  }
  return {};
}

}  // namespace downloader
