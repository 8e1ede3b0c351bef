#include "serial/serial_device.h"

#include <mutex>
#include <set>

#include "serial/hints.h"
#include "serial/port_map.h"
#include "serial/serial_device_local.h"
#include "serial/serial_device_rfc2217.h"
#include "serial/serial_trace.h"

namespace downloader {

namespace {

std::mutex openerMutex;
SerialDeviceOpener installedOpener;

// A scan probes a port once and a download opens it again; pipe mode scans once per
// command line. The reason is said the first time only.
void WriteReasonOnce(const std::string& comName, const std::string& line) {
  static std::mutex mutex;
  static std::set<std::string> said;
  {
    std::lock_guard lock(mutex);
    if (!said.insert(comName).second) return;
  }
  WriteHint(line);
}

DeviceOpenResult OpenTarget(const PortTarget& target, const std::string& comName) {
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

DeviceOpenResult OpenThroughPortMap(const std::string& comName) {
  const PortTarget target = ResolvePort(comName, SystemPortMapEnvironment());
  DeviceOpenResult result = OpenTarget(target, comName);
  if (!result.device && result.error == kErrorNotFound) {
    const std::string line = PortReason(comName, target, result.reason);
    if (!line.empty()) WriteReasonOnce(comName, line);
  }
  return result;
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
