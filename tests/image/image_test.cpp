// Reading images from files, the loader's checks, the information line and the
// information window's texts.

#include <gtest/gtest.h>

#include <cstring>

#include "image/image_file.h"
#include "image/information_line.h"
#include "image/validation.h"
#include "sample_images.h"
#include "support/temp_dir.h"
#include "ui/main_form.h"

namespace downloader {
namespace {

using namespace image_layout;
using testing::Bytes;
using testing::SampleImage;
using testing::TempDir;

TEST(ReadObjectFile, MissingFileCannotBeOpenedADirectoryIsShort) {
  TempDir dir;
  ObjectImage read;
  EXPECT_EQ(ReadObjectFile(dir.File("missing.obj"), read), ImageRead::kCannotOpen);
  EXPECT_EQ(ReadObjectFile(dir.path().string(), read), ImageRead::kShort);
}

TEST(ReadImageTail, TakesTheLastBytesAndStopsAtAShortFile) {
  TempDir dir;
  const ObjectImage sample = SampleImage();
  ObjectImage read;
  const std::string loader = std::string(5000, '\x7F') + Bytes(sample);
  EXPECT_EQ(ReadImageTail(dir.Write("loader", loader), read), ImageRead::kRead);
  EXPECT_EQ(read.bytes, sample.bytes);
  EXPECT_EQ(ReadImageTail(dir.Write("tiny", "ELF"), read), ImageRead::kShort);
  EXPECT_EQ(ReadImageTail(dir.Write("empty", ""), read), ImageRead::kShort);
  EXPECT_EQ(ReadImageTail(dir.File("missing"), read), ImageRead::kCannotOpen);
}

TEST(CheckImage, ChecksInOrderMagicVersionCrcThenRanges) {
  const ObjectImage valid = SampleImage();
  EXPECT_EQ(CheckImage(valid), ImageFault::kNone);
  const auto changed = [&](auto change, bool reseal = true) {
    ObjectImage image = valid;
    change(image);
    if (reseal) Seal(image);
    return CheckImage(image);
  };
  // The magic's length byte must be exactly 23, its text match case by case.
  EXPECT_EQ(changed([](ObjectImage& i) { i.bytes[0] = 24; }), ImageFault::kFormat);
  EXPECT_EQ(changed([](ObjectImage& i) { i.bytes[0] = 22; }), ImageFault::kFormat);
  EXPECT_EQ(changed([](ObjectImage& i) { i.bytes[1] = 'k'; }), ImageFault::kFormat);
  // A wrong magic is reported before a wrong version, a wrong version before a bad CRC.
  EXPECT_EQ(changed([](ObjectImage& i) {
              i.bytes[0] = 0;
              i.bytes[kFormatVersion] = 0x11;
            }),
            ImageFault::kFormat);
  EXPECT_EQ(changed([](ObjectImage& i) { i.bytes[kFormatVersion] = 0x11; }, false),
            ImageFault::kVersion);
  EXPECT_EQ(changed([](ObjectImage& i) { i.bytes[kCompanyName + 2] ^= 1; }, false),
            ImageFault::kCrc);
  // Counts and device types the download could not use, in an intact image.
  EXPECT_EQ(changed([](ObjectImage& i) { i.bytes[kSlotCount] = 9; }), ImageFault::kFormat);
  EXPECT_EQ(changed([](ObjectImage& i) { i.bytes[kSlotCount] = 8; }), ImageFault::kNone);
  EXPECT_EQ(changed([](ObjectImage& i) { i.bytes[kSlotCount] = 0; }), ImageFault::kNone);
  EXPECT_EQ(changed([](ObjectImage& i) { i.bytes[SlotOffset(1)] = 129; }), ImageFault::kFormat);
  EXPECT_EQ(changed([](ObjectImage& i) { i.bytes[SlotOffset(1)] = 128; }), ImageFault::kNone);
  // A slot beyond SlotCount is never sent, so its count does not matter.
  EXPECT_EQ(changed([](ObjectImage& i) { i.bytes[SlotOffset(2)] = 255; }), ImageFault::kNone);
  for (uint8_t type : {0, 7, 255}) {
    EXPECT_EQ(changed([&](ObjectImage& i) { i.bytes[kTargetDevice] = type; }), ImageFault::kFormat)
        << int(type);
  }
  for (uint8_t type = 1; type <= 6; ++type) {
    EXPECT_EQ(changed([&](ObjectImage& i) { i.bytes[kTargetDevice] = type; }), ImageFault::kNone);
  }
}

TEST(InformationLine, LengthBytesAboveCapacityAreCutAtFiftyCharacters) {
  ObjectImage image = SampleImage();
  for (std::size_t offset : {kCompanyName, kProductName, kFirmwareName}) {
    for (std::size_t i = 1; i <= 50; ++i)
      image.bytes[offset + i] = static_cast<uint8_t>('a' + i % 26);
    image.bytes[offset] = 255;  // runs on into the following fields
  }
  const std::string text50 = image.Text(kCompanyName).substr(0, 50);
  ASSERT_EQ(image.CompanyName().size(), 255u);
  const std::string line = InformationLine(image, EnglishDateNames());
  EXPECT_EQ(line.substr(0, 191),
            "051-COMPANY=" + text50 + " PRODUCT=" + text50 + " FIRMWARE=" + text50 + " CHECKSUM=");
  EXPECT_TRUE(line.substr(191).starts_with(std::to_string(image.Crc()) + " COMPILEDATE="));
}

TEST(MainFormCaption, MakerCompanyGivesTheFixedCaption) {
  EXPECT_EQ(MainFormCaption("Veltrana, Inc.", "Aqualine Pump"),
            "Veltrana, Inc. - Korvanetics Loader v1.7");
  EXPECT_EQ(MainFormCaption("Veltrana, Inc", "Korvanetics C"),
            "Veltrana, Inc - Korvanetics C Loader v1.7");
  EXPECT_EQ(MainFormCaption("VELTRANA, INC.", "Korvanetics C"),
            "VELTRANA, INC. - Korvanetics C Loader v1.7");
  EXPECT_EQ(MainFormCaption("Veltrana, Inc. ", "Korvanetics C"),
            "Veltrana, Inc.  - Korvanetics C Loader v1.7");
  EXPECT_EQ(MainFormCaption("", "Korvanetics C"), " - Korvanetics C Loader v1.7");
  EXPECT_EQ(MainFormCaption("Aqualine", ""), "Aqualine -  Loader v1.7");
}

TEST(MainFormCaption, OverlongTextsAreCutAsTheCaptionGrows) {
  const std::string company(255, 'c'), product(255, 'p');
  EXPECT_EQ(MainFormCaption(company, product),
            std::string(53, 'c') + std::string(50, 'p') + " Loader v1.7");
  EXPECT_EQ(MainFormCaption(std::string(50, 'c'), std::string(50, 'p')),
            std::string(50, 'c') + " - " + std::string(50, 'p') + " Loader v1.7");
}

TEST(MakeInformationView, TextsAsStored) {
  ObjectImage image = SampleImage();
  image.SetCrc(65535);
  const InformationView view = MakeInformationView(image, EnglishDateNames());
  EXPECT_EQ(view.caption, "Veltrana, Inc. - Korvanetics Loader v1.7");
  EXPECT_EQ(view.product, "Korvanetics C");
  EXPECT_EQ(view.firmware, "Firmware 2.04");
  EXPECT_EQ(view.checksum, "65535");
  EXPECT_EQ(view.compileDate, "Saturday, January 1, 2000, 06:00 pm");
  // The empty middle part adds nothing between the first and the third.
  EXPECT_EQ(view.notes, "First line\r\nSecond line\r\nLast line");
  image.SetCrc(0);
  EXPECT_EQ(MakeInformationView(image, EnglishDateNames()).checksum, "0");
}

}  // namespace
}  // namespace downloader
