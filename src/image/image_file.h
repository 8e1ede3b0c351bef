#pragma once

#include <string>

#include "image/object_image.h"

namespace downloader {

/// How reading an image from a file ended.
enum class ImageRead {
  kRead,        ///< all 19,391 bytes arrived
  kCannotOpen,  ///< the file could not be opened (missing, no access); image untouched
  kShort,       ///< the file is shorter than an image, or a read failed part way
};

/// Reads the last 19,391 bytes of the file `path` into `image`, opened read-only. A file
/// shorter than an image, or a read that fails or delivers nothing, ends the read with
/// kShort; the bytes that arrived stay in `image`.
ImageRead ReadImageTail(const std::string& path, ObjectImage& image);

/// Reads the first 19,391 bytes of the file `name` into `image`, opened read-only; bytes
/// after them are ignored. kShort when the file holds fewer bytes or a read fails; the
/// bytes that arrived stay in `image`.
ImageRead ReadObjectFile(const std::string& name, ObjectImage& image);

/// Fills ImageBuffer from the tail of the running program's own file. True when the
/// whole tail was read and its CRC matches (an embedded image is present); nothing else
/// is checked here. When the file cannot be opened ImageBuffer is left as it was.
bool ReadEmbeddedImage();

}  // namespace downloader
