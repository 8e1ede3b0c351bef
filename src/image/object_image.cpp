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

}  // namespace downloader
