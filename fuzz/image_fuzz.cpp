// The image checks and the information line as a /GetInfo request runs them on a file's
// first 19,391 bytes (a shorter input is padded with zeros). Each input is tried once as
// it is and once with its CRC sealed, so that the checks behind the CRC are reached.
#include <algorithm>
#include <cstring>

#include "fuzz_check.h"
#include "image/information_line.h"
#include "image/validation.h"
#include "run/report.h"

using namespace downloader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  ObjectImage image;
  std::memcpy(image.bytes.data(), data, std::min(size, image.bytes.size()));
  for (const bool sealed : {false, true}) {
    if (sealed) image.SetCrc(ImageCrc(image));
    const ImageFault fault = CheckImage(image);
    std::string line;
    if (fault == ImageFault::kNone) {
      // Every packet the download will walk lies inside the image.
      for (std::size_t s = 0; s < image.SlotCount(); ++s) {
        fuzz::Check(image_layout::PacketOffset(s, image.PacketCount(s)) <= image_layout::kCrc);
      }
      ObjectImage shown = image;
      shown.SetCrc(DisplayChecksum(shown));
      line = InformationLine(shown);
      fuzz::Check(line.starts_with("051-COMPANY="));
    } else {
      line = FaultMessage(fault, image, "image.obj");
      fuzz::Check(DialogText(line).starts_with("#01"));
    }
    // A final line, whatever the image holds: framed and closed with EOT.
    const std::string status =
        FormatStatusLine(fault == ImageFault::kNone ? kChannelInfo : kChannelError, line);
    fuzz::Check(status.size() == line.size() + 8 && status.ends_with("\r\n\x04"));
  }
  return 0;
}
