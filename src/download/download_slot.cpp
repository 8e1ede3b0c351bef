#include <algorithm>

#include "download/download.h"
#include "image/object_image.h"
#include "run/helpers.h"
#include "run/report.h"
#include "serial/pool.h"
#include "ui/forms.h"

namespace downloader {

namespace {

constexpr uint32_t kWriteTimeout = 1000;
constexpr uint32_t kEchoTimeout = 1000;
constexpr uint32_t kSlotEchoTimeout = 40;
constexpr uint32_t kEndEchoTimeout = 40;
constexpr uint32_t kStatusTimeout = 40;
constexpr uint32_t kIndicatorPeriod = 25;  // ms between two toggles of TXStatus, at least
constexpr int kStatusAcknowledged = 0;
constexpr int kStatusVerifyFailure = 2;
constexpr uint8_t kEndOfSlot = 0;

void ToggleIndicator(TProgressForm& form) {
  TShape& indicator = form.TXStatus;
  indicator.FillColor = indicator.FillColor == kDarkGreen ? kBrightGreen : kDarkGreen;
  form.Repaint();
}

/// Whether the next `count` bytes from the port, read within `timeoutMs`, are exactly
/// `sent`: a short echo or any differing byte is false.
bool Echoed(TSerial& port, const uint8_t* sent, std::size_t count, uint32_t timeoutMs) {
  return port.ReadBlock(static_cast<int>(count), timeoutMs) == static_cast<int>(count) &&
         std::equal(sent, sent + count, port.Buffer->data());
}

}  // namespace

bool DownloadSlot(DeviceType type, int slot, int poolSlot) {
  if (slot < 0 || slot >= static_cast<int>(image_layout::kSlotsPerImage)) return false;
  TProgressForm& form = *ProgressForm;
  TSerial& port = SerialPool(poolSlot);

  // The reset and the exchange put the module into the state in which it takes a slot. A
  // slot without packets has no status byte that would show a module that did not answer.
  std::string name, version, echo;
  DeviceType found = 0;
  if (!IdentifyDevice(poolSlot, type, name, version, echo, found) || found != type) {
    // No slot was announced, so none is closed: to a module that waits for its slot
    // number, a zero byte would be slot 0's.
    ReportError(kMsgCommunicationFailure);
    return false;
  }

  bool ok = true;
  if (type >= 3 && type <= 6) {
    // The module echoes the number it heard, and takes the packets into that slot.
    const uint8_t slotByte = static_cast<uint8_t>(slot);
    port.WriteByte(slotByte, kWriteTimeout);
    if (!Echoed(port, &slotByte, 1, kSlotEchoTimeout)) {
      ok = false;
      ReportError(kMsgCommunicationFailure);
    }
  }

  const std::size_t s = static_cast<std::size_t>(slot);
  const int packets = std::min<int>(ImageBuffer.PacketCount(s), image_layout::kPacketsPerSlot);
  uint32_t last = 0;
  for (int k = 0; ok && k < packets; ++k) {
    if (k == 0 || GetTickCount() - last >= kIndicatorPeriod) {
      ToggleIndicator(form);
      last = GetTickCount();
    }
    const uint8_t* packet = ImageBuffer.Packet(s, static_cast<std::size_t>(k));
    port.WriteBuffer(packet, static_cast<int>(image_layout::kPacketSize), kWriteTimeout);
    // The echo must be the packet itself: one byte the module did not echo, or one it did
    // not send, would otherwise put an echo byte where the status is read.
    if (!Echoed(port, packet, image_layout::kPacketSize, kEchoTimeout)) {
      ok = false;
      ReportError(kMsgCommunicationFailure);
      break;
    }
    const int status = port.ReadByte(kStatusTimeout);
    if (status != kStatusAcknowledged) {
      ok = false;
      ReportError(status == kStatusVerifyFailure ? kMsgEepromVerifyFailure
                                                 : kMsgCommunicationFailure);
      break;
    }
    form.StepIt(slot);
  }
  port.WriteByte(kEndOfSlot, kWriteTimeout);  // ends the slot, whatever happened
  // The module echoes every byte it hears: without the zero byte's echo the slot may never
  // have been closed (a module reset, a connection lost on that last byte).
  if (ok && !Echoed(port, &kEndOfSlot, 1, kEndEchoTimeout)) {
    ok = false;
    ReportError(kMsgCommunicationFailure);
  }
  return ok;
}

}  // namespace downloader
