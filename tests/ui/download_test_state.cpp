#include "ui/download_test_state.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "identify/identify.h"
#include "image/object_image.h"
#include "run/report.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "support/temp_dir.h"
#include "ui/forms.h"
#include "ui/message_loop.h"
#include "ui/progress_form.h"

namespace downloader::testing {

FakeWindowSystem& ResetDownloaderState() {
  MarkMainThread();
  InitSerialUnit();
  SelectedPort = "AUTO";
  RunFlags = 0;
  SwitchBits = 0;
  ResetDeviceNames();
  ImageBuffer = ObjectImage{};
  CreateForms();
  FakeWindowSystem& installed = InstallFakeWindows();
  ProcessMessages();  // nothing left over from an earlier test
  return installed;
}

void UseRunFlags(uint16_t runFlags) {
  SwitchBits = static_cast<uint8_t>(runFlags >> 1);
  RunFlags = FlagTable[SwitchBits & 0x7F];
}

namespace {

void PutText(std::size_t offset, std::string_view text) {
  ImageBuffer.bytes[offset] = static_cast<uint8_t>(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    ImageBuffer.bytes[offset + 1 + i] = static_cast<uint8_t>(text[i]);
  }
}

}  // namespace

std::string StandardName(int type) {
  return std::string(kStandardDeviceNames[type]);
}

void SetTestImage(uint8_t targetDevice, const std::vector<int>& packetCounts,
                  std::string_view product, std::string_view company) {
  namespace L = image_layout;
  ImageBuffer = ObjectImage{};
  ImageBuffer.bytes[L::kFormatVersion] = L::kFormatVersionAccepted;
  ImageBuffer.bytes[L::kTargetDevice] = targetDevice;
  PutText(L::kCompanyName, company);
  PutText(L::kProductName, product.empty() && targetDevice < kDeviceTypeCount
                               ? kStandardDeviceNames[targetDevice]
                               : product);
  ImageBuffer.bytes[L::kSlotCount] = static_cast<uint8_t>(packetCounts.size());
  for (std::size_t s = 0; s < packetCounts.size() && s < L::kSlotsPerImage; ++s) {
    ImageBuffer.bytes[L::SlotOffset(s)] = static_cast<uint8_t>(packetCounts[s]);
    for (std::size_t k = 0; k < L::kPacketsPerSlot; ++k) {
      uint8_t* packet = ImageBuffer.bytes.data() + L::PacketOffset(s, k);
      packet[0] = static_cast<uint8_t>(s);
      packet[1] = static_cast<uint8_t>(k);
      for (std::size_t i = 2; i < L::kPacketSize; ++i) packet[i] = static_cast<uint8_t>(i - 2);
    }
  }
}

}  // namespace downloader::testing
