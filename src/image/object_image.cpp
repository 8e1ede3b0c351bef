#include "image/object_image.h"

#include <bit>
#include <cstring>

namespace downloader {

ObjectImage ImageBuffer;

double ObjectImage::CompileTime() const {
  uint64_t raw = 0;
  for (int i = 7; i >= 0; --i) raw = (raw << 8) | bytes[image_layout::kCompileTime + i];
  return std::bit_cast<double>(raw);
}

uint16_t ImageCrc(const ObjectImage& image) {
  uint16_t crc = 0;
  for (std::size_t i = 0; i < image_layout::kCrc; ++i) crc = CrcUpdate(crc, image.bytes[i]);
  return crc;
}

bool CrcMatches(const ObjectImage& image) {
  return ImageCrc(image) == image.Crc();
}

uint16_t DisplayChecksum(const ObjectImage& image) {
  using namespace image_layout;
  uint16_t d = 0;
  for (std::size_t i = kSlotCount; i < kCrc; ++i) d = CrcUpdate(d, image.bytes[i]);
  d = CrcUpdate(d, image.bytes[kSlotCount]);
  d = CrcUpdate(d, image.bytes[kSlots]);
  return d;
}

bool HasMagic(const ObjectImage& image) {
  constexpr std::size_t length = sizeof image_layout::kMagicText - 1;
  return image.bytes[image_layout::kMagic] == length &&
         std::memcmp(image.bytes.data() + image_layout::kMagic + 1, image_layout::kMagicText,
                     length) == 0;
}

}  // namespace downloader
