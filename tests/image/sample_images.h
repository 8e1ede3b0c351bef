#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "image/image_builder.h"

namespace downloader::testing {

/// A valid type-3 image with two slots (5 and 3 packets), notes with CR LF pairs and an
/// empty middle part, compiled 2000-01-01 18:00.
inline ImageDescription SampleDescription() {
  ImageDescription d;
  d.targetDevice = 3;
  d.company = "Veltrana, Inc.";
  d.product = "Korvanetics C";
  d.firmware = "Firmware 2.04";
  d.compileTime = 36526.75;
  d.notes = {"First line\r\nSecond line", "", "\r\nLast line"};
  for (int s = 0; s < 2; ++s) {
    std::vector<uint8_t> packets;
    for (int i = 0; i < (s == 0 ? 5 : 3) * 18; ++i)
      packets.push_back(static_cast<uint8_t>(i * 7 + s));
    d.slots.push_back(packets);
  }
  return d;
}

inline ObjectImage SampleImage() {
  return BuildImage(SampleDescription());
}

/// The image's bytes as a string, ready to be written to a file.
inline std::string Bytes(const ObjectImage& image) {
  return std::string(reinterpret_cast<const char*>(image.bytes.data()), image.bytes.size());
}

}  // namespace downloader::testing
