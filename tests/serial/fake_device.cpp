#include "fake_device.h"

#include <algorithm>

namespace downloader::testing {

bool FakeDevice::Configure(const LineSettings& settings) {
  s_->settings = settings;
  s_->calls.push_back("configure");
  return true;
}

int FakeDevice::Read(uint8_t* buffer, std::size_t count, uint32_t timeoutMs) {
  s_->calls.push_back("read " + std::to_string(count) + " " + std::to_string(timeoutMs));
  const std::size_t n = std::min(count, s_->input.size());
  for (std::size_t i = 0; i < n; ++i) {
    buffer[i] = s_->input.front();
    s_->input.pop_front();
  }
  return static_cast<int>(n);
}

bool FakeDevice::Write(const uint8_t*, std::size_t count, uint32_t timeoutMs) {
  s_->calls.push_back("write " + std::to_string(count) + " " + std::to_string(timeoutMs));
  return true;
}

int FakeDevice::Drain() {
  s_->calls.push_back("drain");
  const int n = static_cast<int>(s_->input.size());
  s_->input.clear();
  return n;
}

FakeOpener::FakeOpener(std::shared_ptr<FakeDeviceState> state, uint32_t error) {
  SetSerialDeviceOpener([state, error, opens = opens_](const std::string&) {
    ++*opens;
    DeviceOpenResult result;
    if (error != 0) {
      result.error = error;
    } else {
      state->destroyed = false;
      result.device = std::make_unique<FakeDevice>(state);
    }
    return result;
  });
}

FakeOpener::~FakeOpener() {
  SetSerialDeviceOpener(nullptr);
}

}  // namespace downloader::testing
