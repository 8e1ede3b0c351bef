#include "image/image_file.h"

#include "platform/system.h"

namespace downloader {

namespace {

/// Reads until the image is full; a failed read or the end of the file ends it early.
ImageRead ReadWhole(ReadOnlyFile& file, ObjectImage& image) {
  std::size_t filled = 0;
  while (filled < image.bytes.size()) {
    const long n = file.Read(image.bytes.data() + filled, image.bytes.size() - filled);
    if (n <= 0) return ImageRead::kShort;
    filled += static_cast<std::size_t>(n);
  }
  return ImageRead::kRead;
}

ImageRead ReadTail(ReadOnlyFile& file, ObjectImage& image) {
  if (!file.IsOpen()) return ImageRead::kCannotOpen;
  // A file shorter than an image cannot be positioned before its start: no image there.
  if (!file.SeekFromEnd(image_layout::kSize)) return ImageRead::kShort;
  return ReadWhole(file, image);
}

}  // namespace

ImageRead ReadImageTail(const std::string& path, ObjectImage& image) {
  ReadOnlyFile file(path);
  return ReadTail(file, image);
}

ImageRead ReadObjectFile(const std::string& name, ObjectImage& image) {
  ReadOnlyFile file(name);
  if (!file.IsOpen()) return ImageRead::kCannotOpen;
  return ReadWhole(file, image);
}

bool ReadEmbeddedImage() {
  ReadOnlyFile self = ReadOnlyFile::RunningProgram();
  return ReadTail(self, ImageBuffer) == ImageRead::kRead && CrcMatches(ImageBuffer);
}

}  // namespace downloader
