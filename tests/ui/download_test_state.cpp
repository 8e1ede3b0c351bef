#include "ui/download_test_state.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "control/command_line.h"
#include "control/report.h"
#include "identify/identify.h"
#include "image/object_image.h"
#include "serial/globals.h"
#include "support/temp_dir.h"
#include "ui/forms.h"
#include "ui/message_loop.h"
#include "ui/progress_form.h"

namespace downloader::testing {

void FakeWindowSystem::RepaintProgressWindow(TProgressForm& form) {
  ++repaints;
  indicatorColours.push_back(form.TXStatus.FillColor);
  if (onRepaint) onRepaint(form);
}

FakeWindowSystem& ResetDownloaderState() {
  MarkMainThread();
  InitSerialUnit();
  SelectedPort = "AUTO";
  RunFlags = 0;
  SwitchBits = 0;
  ResetDeviceNames();
  ImageBuffer = ObjectImage{};
  CreateForms();
  auto windows = std::make_unique<FakeWindowSystem>();
  FakeWindowSystem& installed = *windows;
  SetWindowSystem(std::move(windows));
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

StatusCapture::StatusCapture() : savedHandle_(WriteHandle) {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "downloader-status-XXXXXX").string();
  fd_ = ::mkstemp(pattern.data());
  if (fd_ < 0) throw std::runtime_error("mkstemp failed");
  name_ = pattern;
  WriteHandle = fd_;
}

StatusCapture::~StatusCapture() {
  WriteHandle = savedHandle_;
  ::close(fd_);
  ::unlink(name_.c_str());
}

std::string StatusCapture::Bytes() const {
  return ReadFileBytes(name_);
}

std::vector<std::string> StatusCapture::Lines() const {
  std::vector<std::string> lines;
  const std::string bytes = Bytes();
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back("unterminated:" + bytes.substr(pos));
      break;
    }
    std::size_t start = pos;
    if (bytes[start] == '\x01') ++start;
    lines.push_back(bytes.substr(start, end - start));
    pos = end + 2;
    if (pos < bytes.size() && bytes[pos] == '\x04') ++pos;
  }
  return lines;
}

}  // namespace downloader::testing
