#include "image/image_builder.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace downloader {

namespace {

std::string Field(std::string_view name, std::size_t index) {
  return std::string(name) + "[" + std::to_string(index) + "]";
}

}  // namespace

std::string StandardProductName(int targetDevice) {
  return std::string("Korvanetics ") + static_cast<char>('A' + targetDevice - 1);
}

std::array<std::string, 3> SplitNotes(std::string_view notes) {
  constexpr std::size_t capacity = image_layout::kIntroCapacity;
  if (notes.size() > 3 * capacity) {
    throw ImageBuildError("notes: " + std::to_string(notes.size()) + " bytes, at most " +
                          std::to_string(3 * capacity));
  }
  std::array<std::string, 3> parts;
  for (auto& part : parts) {
    const std::size_t n = std::min(capacity, notes.size());
    part = std::string(notes.substr(0, n));
    notes.remove_prefix(n);
  }
  return parts;
}

ObjectImage BlankImage() {
  ObjectImage image;
  const std::size_t length = sizeof image_layout::kMagicText - 1;
  image.bytes[image_layout::kMagic] = static_cast<uint8_t>(length);
  std::memcpy(image.bytes.data() + image_layout::kMagic + 1, image_layout::kMagicText, length);
  image.bytes[image_layout::kFormatVersion] = image_layout::kFormatVersionAccepted;
  return image;
}

void SetText(ObjectImage& image, std::size_t offset, std::size_t capacity, std::string_view text,
             std::string_view field) {
  if (text.size() > capacity) {
    throw ImageBuildError(std::string(field) + ": " + std::to_string(text.size()) +
                          " bytes, at most " + std::to_string(capacity));
  }
  uint8_t* at = image.bytes.data() + offset;
  std::fill(at, at + 1 + capacity, uint8_t{0});
  at[0] = static_cast<uint8_t>(text.size());
  std::memcpy(at + 1, text.data(), text.size());
}

void SetCompileTime(ObjectImage& image, double value) {
  auto raw = std::bit_cast<uint64_t>(value);
  for (std::size_t i = 0; i < 8; ++i, raw >>= 8) {
    image.bytes[image_layout::kCompileTime + i] = static_cast<uint8_t>(raw & 0xFF);
  }
}

void SetSlot(ObjectImage& image, std::size_t s, std::span<const uint8_t> packets,
             std::string_view field) {
  using namespace image_layout;
  if (packets.size() % kPacketSize != 0) {
    throw ImageBuildError(std::string(field) + ": " + std::to_string(packets.size()) +
                          " bytes, not a whole number of 18-byte packets");
  }
  if (packets.size() / kPacketSize > kPacketsPerSlot) {
    throw ImageBuildError(std::string(field) + ": " + std::to_string(packets.size() / kPacketSize) +
                          " packets, at most " + std::to_string(kPacketsPerSlot));
  }
  uint8_t* record = image.bytes.data() + SlotOffset(s);
  std::fill(record, record + kSlotRecordSize, uint8_t{0});
  record[0] = static_cast<uint8_t>(packets.size() / kPacketSize);
  std::copy(packets.begin(), packets.end(), record + 1);
}

void Seal(ObjectImage& image) {
  image.SetCrc(ImageCrc(image));
}

ObjectImage BuildImage(const ImageDescription& description) {
  using namespace image_layout;
  if (description.targetDevice < 1 || description.targetDevice > 6) {
    throw ImageBuildError("target_device: " + std::to_string(description.targetDevice) +
                          ", must be 1..6");
  }
  if (description.slots.size() > kSlotsPerImage) {
    throw ImageBuildError("slots: " + std::to_string(description.slots.size()) +
                          " slots, at most " + std::to_string(kSlotsPerImage));
  }
  ObjectImage image = BlankImage();
  image.bytes[kTargetDevice] = description.targetDevice;
  SetText(image, kCompanyName, kNameCapacity, description.company, "company");
  SetText(image, kProductName, kNameCapacity, description.product, "product");
  SetText(image, kFirmwareName, kNameCapacity, description.firmware, "firmware");
  SetCompileTime(image, description.compileTime);
  for (std::size_t i = 0; i < 3; ++i) {
    SetText(image, kIntroMessage[i], kIntroCapacity, description.notes[i], Field("notes", i));
  }
  image.bytes[kSlotCount] = static_cast<uint8_t>(description.slots.size());
  for (std::size_t s = 0; s < description.slots.size(); ++s) {
    SetSlot(image, s, description.slots[s], Field("slots", s));
  }
  Seal(image);
  return image;
}

}  // namespace downloader
