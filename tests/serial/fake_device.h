#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/serial_device.h"
#include "ui/window_system.h"

namespace downloader::testing {

/// What a FakeDevice was told, and what it answers. Shared with the test, which keeps it
/// after TSerial has destroyed the device.
struct FakeDeviceState {
  bool readStateOk = true;
  std::vector<std::string> calls;  ///< "read 1 40", "write 18 1000", "drain", "dtr 0" ...
  std::optional<LineSettings> settings;
  std::deque<uint8_t> input;
  uint32_t modemStatus = 0;
  bool destroyed = false;
};

/// A scripted device: reads take from `input`, writes succeed.
class FakeDevice : public SerialDevice {
 public:
  explicit FakeDevice(std::shared_ptr<FakeDeviceState> state) : s_(std::move(state)) {}
  ~FakeDevice() override { s_->destroyed = true; }
  bool ReadState() override { return s_->readStateOk; }
  bool Configure(const LineSettings& settings) override;
  int Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs) override;
  bool Write(const uint8_t* bytes, std::size_t count, uint32_t timeoutMs) override;
  int Drain() override;
  void SetDTR(bool on) override { s_->calls.push_back(on ? "dtr 1" : "dtr 0"); }
  void SetRTS(bool on) override { s_->calls.push_back(on ? "rts 1" : "rts 0"); }
  void SetBreak(bool on) override { s_->calls.push_back(on ? "break 1" : "break 0"); }
  uint32_t ModemStatus() override { return s_->modemStatus; }

 private:
  std::shared_ptr<FakeDeviceState> s_;
};

/// Installs an opener that counts its calls and gives a FakeDevice on `state`, or fails
/// with `error` when it is not 0. Restores the port map when it goes.
class FakeOpener {
 public:
  explicit FakeOpener(std::shared_ptr<FakeDeviceState> state, uint32_t error = 0);
  ~FakeOpener();
  int opens() const { return *opens_; }

 private:
  std::shared_ptr<int> opens_ = std::make_shared<int>(0);
};

}  // namespace downloader::testing
