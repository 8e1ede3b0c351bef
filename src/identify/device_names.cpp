#include "identify/identify.h"

namespace downloader {

std::array<std::string, kDeviceTypeCount> DeviceNames = {
    std::string(kStandardDeviceNames[0]), std::string(kStandardDeviceNames[1]),
    std::string(kStandardDeviceNames[2]), std::string(kStandardDeviceNames[3]),
    std::string(kStandardDeviceNames[4]), std::string(kStandardDeviceNames[5]),
    std::string(kStandardDeviceNames[6]),
};

void ResetDeviceNames() {
  for (std::size_t type = 0; type < DeviceNames.size(); ++type) {
    DeviceNames[type] = std::string(kStandardDeviceNames[type]);
  }
}

std::string DeviceNameOf(int type) {
  if (type < 0 || type >= kDeviceTypeCount) return std::string();
  return DeviceNames[static_cast<std::size_t>(type)];
}

}  // namespace downloader
