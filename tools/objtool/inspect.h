#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "image/object_image.h"

namespace downloader::objtool {

/// Where in a file its image was found.
enum class ImageSource {
  kObjectFile,  ///< the first 19,391 bytes
  kLoader,      ///< the last 19,391 bytes of a self-contained loader
};

/// An image taken from a file, with where it came from.
struct LocatedImage {
  ObjectImage image;
  ImageSource source = ImageSource::kObjectFile;
  std::size_t fileSize = 0;
  std::size_t offset = 0;  ///< where the image starts in the file
  std::string fileName;    ///< as given, for the loader's messages
};

/// Finds the image in a file's bytes the way a user means it: a file that starts with the
/// magic is an object file; otherwise a file longer than an image whose last 19,391 bytes
/// pass the CRC is a self-contained loader; any other file is read as an object file so
/// that its faults can be shown. Nothing (with `problem` set) for a file shorter than an image or
/// an executable without an embedded image.
std::optional<LocatedImage> LocateImage(std::string_view fileBytes, std::string& problem);

/// The loader's tail of a file's bytes when it passes the CRC; nothing otherwise.
std::optional<ObjectImage> EmbeddedImageOf(std::string_view fileBytes);

/// Every field in readable form: texts quoted with control bytes escaped and their
/// length against capacity, the compile time as value, ISO text and date text, slot and
/// packet counts, the stored CRC and whether it matches, the display checksum, and what
/// the loader says about the image.
std::string InfoText(const LocatedImage& located);

/// The same as a JSON object, for programs.
nlohmann::json InfoJson(const LocatedImage& located);

/// A text with control and non-ASCII bytes written as \r, \n, \t or \xNN, in double quotes.
std::string Quoted(std::string_view text);

}  // namespace downloader::objtool
