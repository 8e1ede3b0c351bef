#include "serial/serial_device.h"

#include <mutex>

#include "serial/port_map.h"
#include "serial/serial_device_local.h"
#include "serial/serial_device_rfc2217.h"
#include "serial/serial_trace.h"

namespace downloader {

namespace {

std::mutex openerMutex;
SerialDeviceOpener installedOpener;

DeviceOpenResult OpenThroughPortMap(const std::string& comName) {
  const PortTarget target = ResolvePort(comName, SystemPortMapEnvironment());
  switch (target.kind) {
    case PortTarget::Kind::kLocal:
      return OpenLocalDevice(target.device, comName);
    case PortTarget::Kind::kNetwork:
      return OpenRfc2217Device(target.host, target.port, comName);
    case PortTarget::Kind::kNone:
    case PortTarget::Kind::kHidden:
      break;
  }
  DeviceOpenResult missing;
  missing.error = kErrorNotFound;
  return missing;
}

}  // namespace

DeviceOpenResult OpenSerialDevice(const std::string& comName) {
  SerialDeviceOpener opener;
  {
    std::lock_guard lock(openerMutex);
    opener = installedOpener;
  }
  const auto open = [&] { return opener ? opener(comName) : OpenThroughPortMap(comName); };
  std::shared_ptr<TraceLog> trace = TraceLogFor(comName);
  return trace ? TracedOpen(std::move(trace), comName, open) : open();
}

void SetSerialDeviceOpener(SerialDeviceOpener opener) {
  std::lock_guard lock(openerMutex);
  installedOpener = std::move(opener);
}

}  // namespace downloader
