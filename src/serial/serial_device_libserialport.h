#pragma once

#include <string>

#include "serial/serial_device.h"

namespace downloader {

/// Opens a local serial device exclusively: resolves symbolic links, takes the UUCP lock
/// of the device's name, opens it with libserialport, then flock and TIOCEXCL on it.
/// Failures give the error codes of OpenErrorCode; no permission and in use also write a
/// hint line. `comName` only labels hint lines.
DeviceOpenResult OpenLocalDevice(const std::string& device, const std::string& comName);

}  // namespace downloader
