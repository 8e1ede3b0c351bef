#include <gtest/gtest.h>

#include <string_view>

#include "image/object_image.h"
#include "image/validation.h"
#include "sample_images.h"

namespace downloader {
namespace {

using testing::SampleImage;

/// CRC-16/XMODEM the long way: a shift register fed one bit at a time.
uint16_t BitwiseCrc(uint16_t crc, uint8_t byte) {
  crc ^= static_cast<uint16_t>(byte << 8);
  for (int bit = 0; bit < 8; ++bit) {
    crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

TEST(CrcUpdate, CheckValueAndEmptyInput) {
  uint16_t crc = 0;
  for (char c : std::string_view("123456789")) crc = CrcUpdate(crc, static_cast<uint8_t>(c));
  EXPECT_EQ(crc, 0x31C3);
  ObjectImage zeros;
  EXPECT_EQ(ImageCrc(zeros), 0);
}

TEST(CrcUpdate, AgreesWithTheShiftRegisterForEveryByte) {
  for (uint32_t crc = 0; crc <= 0xFFFF; crc += 0x0101) {
    for (int byte = 0; byte < 256; ++byte) {
      ASSERT_EQ(CrcUpdate(static_cast<uint16_t>(crc), static_cast<uint8_t>(byte)),
                BitwiseCrc(static_cast<uint16_t>(crc), static_cast<uint8_t>(byte)))
          << "crc " << crc << " byte " << byte;
    }
  }
}

TEST(ImageCrc, AnySingleChangedByteFailsTheCheck) {
  using namespace image_layout;
  const ObjectImage sealed = SampleImage();
  ASSERT_TRUE(CrcMatches(sealed));
  ASSERT_EQ(sealed.PacketCount(0), 5);
  ASSERT_EQ(sealed.SlotCount(), 2);

  const struct {
    const char* what;
    std::size_t offset;
  } places[] = {
      {"magic", kMagic + 5},
      {"filler after the company text", kCompanyName + 1 + 14 + 3},
      {"filler after the last notes part", kIntroMessage[2] + 200},
      {"a packet beyond PacketCount", PacketOffset(0, 5) + 4},
      {"the last packet of slot 0", PacketOffset(0, 127) + 17},
      {"a Spare byte", SlotOffset(1) + kSlotRecordSize - 1},
      {"a slot beyond SlotCount", SlotOffset(6) + 1000},
      {"the last byte the CRC covers", kCrc - 1},
      {"the stored CRC, low byte", kCrc},
      {"the stored CRC, high byte", kCrc + 1},
  };
  for (const auto& place : places) {
    for (uint8_t flip : {0x01, 0x80, 0xFF}) {
      ObjectImage changed = sealed;
      changed.bytes[place.offset] ^= flip;
      EXPECT_FALSE(CrcMatches(changed)) << place.what << ", xor " << int(flip);
    }
  }
  // And a sweep over the whole image, one changed byte at a time.
  for (std::size_t offset = 0; offset < kSize; offset += 89) {
    ObjectImage changed = sealed;
    changed.bytes[offset] ^= 0x5A;
    EXPECT_FALSE(CrcMatches(changed)) << "offset " << offset;
  }
}

TEST(ImageCrc, AllZeroTailCountsAsAnImageButHasNoMagic) {
  const ObjectImage zeros;
  EXPECT_TRUE(CrcMatches(zeros));
  EXPECT_EQ(CheckImage(zeros), ImageFault::kFormat);
}

TEST(DisplayChecksum, MatchesAnIndependentComputation) {
  using namespace image_layout;
  ObjectImage image = SampleImage();
  // SlotCount and the eight slot records, then SlotCount and slot 0's PacketCount again.
  uint16_t expected = 0;
  for (std::size_t i = 940; i < 19389; ++i) expected = BitwiseCrc(expected, image.bytes[i]);
  expected = BitwiseCrc(expected, image.bytes[940]);
  expected = BitwiseCrc(expected, image.bytes[941]);
  EXPECT_EQ(DisplayChecksum(image), expected);
  EXPECT_NE(DisplayChecksum(image), image.Crc());

  // Only the slot part counts: texts do not change it, a spare byte does.
  const uint16_t before = DisplayChecksum(image);
  image.bytes[kCompanyName + 1] ^= 1;
  EXPECT_EQ(DisplayChecksum(image), before);
  image.bytes[SlotOffset(7) + kSlotRecordSize - 1] ^= 1;
  EXPECT_NE(DisplayChecksum(image), before);
}

}  // namespace
}  // namespace downloader
