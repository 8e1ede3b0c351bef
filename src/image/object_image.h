#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace downloader {

/// Byte layout of an object code image; every multi-byte value is little-endian.
namespace image_layout {
inline constexpr std::size_t kSize = 19391;
inline constexpr std::size_t kMagic = 0;  // length-prefixed, capacity 23
inline constexpr std::size_t kFormatVersion = 24;
inline constexpr std::size_t kTargetDevice = 25;
inline constexpr std::size_t kCompanyName = 26;    // length-prefixed, capacity 50
inline constexpr std::size_t kProductName = 77;    // length-prefixed, capacity 50
inline constexpr std::size_t kFirmwareName = 128;  // length-prefixed, capacity 50
inline constexpr std::size_t kCompileTime = 179;   // IEEE 754 double, days since 1899-12-30
inline constexpr std::size_t kIntroMessage[3] = {187, 438, 689};  // capacity 250 each
inline constexpr std::size_t kSlotCount = 940;
inline constexpr std::size_t kSlots = 941;
inline constexpr std::size_t kSlotRecordSize = 2306;
inline constexpr std::size_t kPacketSize = 18;
inline constexpr std::size_t kPacketsPerSlot = 128;
inline constexpr std::size_t kSlotsPerImage = 8;
inline constexpr std::size_t kCrc = 19389;
inline constexpr std::size_t kNameCapacity = 50;
inline constexpr std::size_t kIntroCapacity = 250;
inline constexpr uint8_t kFormatVersionAccepted = 0x12;
inline constexpr char kMagicText[] = "Korvanetics Object Code";

/// Offset of slot s's record, and of packet k of slot s.
constexpr std::size_t SlotOffset(std::size_t s) {
  return kSlots + kSlotRecordSize * s;
}
constexpr std::size_t PacketOffset(std::size_t s, std::size_t k) {
  return SlotOffset(s) + 1 + kPacketSize * k;
}
static_assert(SlotOffset(8) + 0 == kCrc);
}  // namespace image_layout

/// One object code image: exactly 19,391 bytes, read and written as stored.
struct ObjectImage {
  std::array<uint8_t, image_layout::kSize> bytes{};

  /// A length-prefixed text at `offset`: the length byte's worth of characters, never
  /// reaching past the image.
  std::string Text(std::size_t offset) const {
    const std::size_t n = bytes[offset];
    const std::size_t available = bytes.size() - offset - 1;
    return std::string(reinterpret_cast<const char*>(bytes.data() + offset + 1),
                       n < available ? n : available);
  }
  uint8_t FormatVersion() const { return bytes[image_layout::kFormatVersion]; }
  uint8_t TargetDevice() const { return bytes[image_layout::kTargetDevice]; }
  std::string CompanyName() const { return Text(image_layout::kCompanyName); }
  std::string ProductName() const { return Text(image_layout::kProductName); }
  std::string FirmwareName() const { return Text(image_layout::kFirmwareName); }
  double CompileTime() const;
  /// The three note parts joined, nothing between them.
  std::string IntroMessage() const {
    return Text(image_layout::kIntroMessage[0]) + Text(image_layout::kIntroMessage[1]) +
           Text(image_layout::kIntroMessage[2]);
  }
  uint8_t SlotCount() const { return bytes[image_layout::kSlotCount]; }
  /// Packets of slot s that are sent; s must be 0..7.
  uint8_t PacketCount(std::size_t s) const { return bytes[image_layout::SlotOffset(s)]; }
  /// The 18 bytes of packet k of slot s; s 0..7, k 0..127.
  const uint8_t* Packet(std::size_t s, std::size_t k) const {
    return bytes.data() + image_layout::PacketOffset(s, k);
  }
  uint16_t Crc() const {
    return static_cast<uint16_t>(bytes[image_layout::kCrc] | (bytes[image_layout::kCrc + 1] << 8));
  }
  void SetCrc(uint16_t crc) {
    bytes[image_layout::kCrc] = static_cast<uint8_t>(crc & 0xFF);
    bytes[image_layout::kCrc + 1] = static_cast<uint8_t>(crc >> 8);
  }
};
static_assert(sizeof(ObjectImage) == image_layout::kSize);

/// The one process-wide image; main thread writes it before any scan starts.
extern ObjectImage ImageBuffer;

/// One step of the image CRC (CRC-16, polynomial 0x1021, initial 0, not reflected, no final
/// XOR), computed without a table.
constexpr uint16_t CrcUpdate(uint16_t crc, uint8_t value) {
  uint8_t t = static_cast<uint8_t>((crc >> 8) ^ value);
  t = static_cast<uint8_t>(t ^ (t >> 4));
  return static_cast<uint16_t>((crc << 8) ^ (t << 12) ^ (t << 5) ^ t);
}

/// The CRC over bytes 0..19,388, the part of the image that the stored CRC protects.
uint16_t ImageCrc(const ObjectImage& image);

/// True when ImageCrc matches the stored little-endian CRC at 19,389.
bool CrcMatches(const ObjectImage& image);

/// The checksum users see: CrcUpdate over bytes 940..19,388, then once more over the
/// SlotCount byte and the first slot's PacketCount byte.
uint16_t DisplayChecksum(const ObjectImage& image);

/// True when the image starts with the length byte 23 and "Korvanetics Object Code".
bool HasMagic(const ObjectImage& image);

}  // namespace downloader
