#include "serial/serial.h"

#include <atomic>

#include "run/helpers.h"
#include "run/report.h"

namespace downloader {

namespace {

constexpr int kBlockSize = 4096;
constexpr uint32_t kMaxDword = 0xFFFFFFFF;

// Handles are numbers private to this process, positive and distinct while ports are open.
std::atomic<int32_t> nextHandle{1};

uint32_t Total(uint32_t multiplier, uint32_t constant, std::size_t count) {
  const uint64_t total = uint64_t{multiplier} * count + constant;
  return total > kMaxDword ? kMaxDword : static_cast<uint32_t>(total);
}

}  // namespace

bool TSerial::OpenPort(const std::string& name, const std::string& baud, const std::string& parity,
                       const std::string& dataBits, const std::string& flow, bool showErrors,
                       uint32_t* error) {
  LastError = 0;
  if (error) *error = 0;
  if (IsOpen) return false;
  if (name.size() > 6) return false;

  DeviceOpenResult opened = OpenSerialDevice(name);
  if (!opened.device) {
    Handle = -1;
    LastError = opened.error;
    if (showErrors) {
      std::string reason = "Reason is unknown.";
      if (LastError == kErrorNotFound) {
        reason = "This port does not exist or is not configured properly.";
      } else if (LastError == kErrorAccessDenied) {
        reason = "Access Denied.\r\nThis port may already be in use by another device.";
      }
      ReportError("Could not open port: " + name + ".  " + reason);
    }
    if (error) *error = LastError;
    Reserved = false;
    return false;
  }
  if (!opened.device->ReadState()) {
    if (showErrors) ReportError("Unable to build data control block for serial port.");
    opened.device.reset();
    Handle = -1;
    Reserved = false;
    return false;
  }
  device_ = std::move(opened.device);
  Handle = nextHandle.fetch_add(1);
  if (Handle <= 0) Handle = 1;
  // Reserved is cleared only after IsOpen is set, so the slot never looks free meanwhile.
  IsOpen = true;
  Reserved = false;
  Configure(baud, parity, dataBits, flow);
  Buffer = std::make_unique<std::array<uint8_t, 4097>>();
  PortName = name;
  SetTimeouts(0, 0, 0, 0, 0);
  return true;
}

void TSerial::Configure(const std::string& baud, const std::string& parity,
                        const std::string& dataBits, const std::string& /*flow*/) {
  if (!IsOpen) return;
  if (!device_->ReadState()) {
    ReportError("Unable to set configuration on serial port.");
    return;
  }
  LineSettings settings;
  settings.baudRate = static_cast<uint32_t>(ParseNumber(baud));
  settings.dataBits = static_cast<uint8_t>(ParseNumber(dataBits));
  settings.evenParity = parity != "None";
  device_->Configure(settings);
  SetDTR(false);
  SetRTS(false);
}

void TSerial::Close() {
  if (!IsOpen) return;
  device_.reset();
  PortName.clear();
  Handle = -1;
  Buffer.reset();
  // Last: from here on the pool may hand the object to another thread.
  IsOpen = false;
}

bool TSerial::SetTimeouts(uint32_t readInterval, uint32_t readMultiplier, uint32_t readConstant,
                          uint32_t writeMultiplier, uint32_t writeConstant) {
  Timeouts = {readInterval, readMultiplier, readConstant, writeMultiplier, writeConstant};
  // The devices take a total timeout per transfer, computed from these in ReadTimeout and
  // WriteTimeout; nothing is programmed ahead.
  return IsOpen;
}

uint32_t TSerial::ReadTimeout(std::size_t count) const {
  // An interval of MAXDWORD with no totals returns at once; and so does an all-zero set,
  // which would wait forever on some systems: no transfer here may hang.
  if (Timeouts[0] == kMaxDword && Timeouts[1] == 0 && Timeouts[2] == 0) return 0;
  return Total(Timeouts[1], Timeouts[2], count);
}

uint32_t TSerial::WriteTimeout(std::size_t count) const {
  return Total(Timeouts[3], Timeouts[4], count);
}

int TSerial::ReadByte(uint32_t timeoutMs) {
  if (!IsOpen) return 1000;
  SetTimeouts(0, 0, timeoutMs, 0, 0);
  uint8_t byte = 0;
  return device_->Read(&byte, 1, ReadTimeout(1)) == 1 ? byte : -1;
}

bool TSerial::WriteByte(uint8_t value, uint32_t timeoutMs) {
  if (!IsOpen) return false;
  SetTimeouts(0, 0, 0, 0, timeoutMs);
  return device_->Write(&value, 1, WriteTimeout(1));
}

bool TSerial::WriteBuffer(const uint8_t* bytes, int count, uint32_t timeoutMs) {
  if (!IsOpen || count < 0 || (bytes == nullptr && count > 0)) return false;
  SetTimeouts(0, 0, 0, 0, timeoutMs);
  const auto n = static_cast<std::size_t>(count);
  return device_->Write(bytes, n, WriteTimeout(n));
}

int TSerial::ReadBlock(int count, uint32_t timeoutMs) {
  if (!IsOpen) return -1;
  if (count >= 1 && count <= kBlockSize) {
    SetTimeouts(0, 0, timeoutMs, 0, 0);
    const auto n = static_cast<std::size_t>(count);
    const int got = device_->Read(Buffer->data(), n, ReadTimeout(n));
    return got < 0 ? 0 : got;
  }
  // The drain: everything queued is thrown away. The device bounds it in time and bytes,
  // so a peer that never stops sending cannot hold the caller.
  SetTimeouts(kMaxDword, 0, 0, 0, 0);
  LastError = 0;  // no line errors are reported by the devices
  return device_->Drain();
}

void TSerial::SetBreak(bool on) {
  if (IsOpen) device_->SetBreak(on);
}

void TSerial::SetDTR(bool on) {
  if (IsOpen) device_->SetDTR(on);
}

void TSerial::SetRTS(bool on) {
  if (IsOpen) device_->SetRTS(on);
}

uint32_t TSerial::ModemStatus() {
  if (!IsOpen) return 0;
  return device_->ModemStatus();
}

}  // namespace downloader
