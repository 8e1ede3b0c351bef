#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "image/object_image.h"

namespace downloader {

/// A description that cannot become an image; what() starts with the field's name.
class ImageBuildError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Everything an image holds besides its fixed parts.
struct ImageDescription {
  uint8_t targetDevice = 3;  ///< 1..6
  std::string company;       ///< at most 50 bytes, as are product and firmware
  std::string product;
  std::string firmware;
  double compileTime = 0;              ///< days since 1899-12-30
  std::array<std::string, 3> notes{};  ///< at most 250 bytes each, joined when shown
  /// Per slot, its packets back to back: a multiple of 18 bytes, at most 128 packets.
  std::vector<std::vector<uint8_t>> slots;
};

/// "Korvanetics A" .. "Korvanetics F", the product name of device type 1..6.
std::string StandardProductName(int targetDevice);

/// Splits notes of up to 750 bytes into the three parts, filling each part to 250 bytes
/// before the next. Throws ImageBuildError ("notes: ...") when longer.
std::array<std::string, 3> SplitNotes(std::string_view notes);

/// An image of format version 1.2 with its magic, every other byte zero, CRC not set.
ObjectImage BlankImage();

/// Stores a length-prefixed text at `offset`; the filler after it is zeroed. Throws
/// ImageBuildError naming `field` when the text exceeds `capacity`.
void SetText(ObjectImage& image, std::size_t offset, std::size_t capacity, std::string_view text,
             std::string_view field);

/// Stores the compile time as its little-endian IEEE 754 bytes.
void SetCompileTime(ObjectImage& image, double value);

/// Stores slot s (0..7): its PacketCount and packets; the rest of the record is zeroed.
/// Throws ImageBuildError naming `field` when the size is not a multiple of 18 or the
/// slot would hold more than 128 packets.
void SetSlot(ObjectImage& image, std::size_t s, std::span<const uint8_t> packets,
             std::string_view field);

/// Stores the CRC over bytes 0..19,388, so the image passes the loader's CRC test.
void Seal(ObjectImage& image);

/// A complete, sealed image. Throws ImageBuildError naming the first field that does not
/// fit ("target_device", "company", "product", "firmware", "notes[1]", "slots", "slots[2]").
ObjectImage BuildImage(const ImageDescription& description);

}  // namespace downloader
