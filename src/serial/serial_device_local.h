#pragma once

#include <string>

#include "serial/serial_device.h"

namespace downloader {

/// Opens a local serial device exclusively and takes the lock of its name. POSIX
/// (libserialport): resolves symbolic links, takes the UUCP lock, opens it, then flock and
/// TIOCEXCL on it. Windows: "COM<n>" is \\.\COM<n>, opened with no sharing. Failures give
/// kErrorNotFound or kErrorAccessDenied (else the system's code); no permission and in use
/// also write a hint line. `comName` only labels hint lines.
DeviceOpenResult OpenLocalDevice(const std::string& device, const std::string& comName);

/// Ends BREAK and the exclusive mode on every open local device, for a process about to
/// end at once (its descriptors then close, which drops DTR and RTS). Any thread, while the
/// devices' own threads may still use them. Windows: nothing, the system closes the ports.
void EndEveryLocalLine();

}  // namespace downloader
