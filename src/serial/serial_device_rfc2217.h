#pragma once

#include <cstdint>
#include <string>

#include "serial/serial_device.h"

namespace downloader {

/// How long the RFC 2217 client waits for the network, in milliseconds.
struct Rfc2217Timing {
  uint32_t connectMs = 2000;      ///< TCP connect and the COM-PORT-OPTION agreement
  uint32_t controlAckMs = 1000;   ///< a SET-CONTROL's reply (given up for good once missed)
  uint32_t settingsAckMs = 1000;  ///< the replies to the line settings, all together
  uint32_t drainMs = 500;         ///< the PURGE-DATA reply during a drain
};

/// Opens the network serial port at `host`:`port` exclusively: takes the lock
/// "rfc2217-HOST-PORT" (error 5 while another holder lives), connects (error 2 when the
/// server cannot be reached) and negotiates BINARY and COM-PORT-OPTION. `comName` only
/// labels hint lines.
DeviceOpenResult OpenRfc2217Device(const std::string& host, uint16_t port,
                                   const std::string& comName,
                                   const Rfc2217Timing& timing = Rfc2217Timing{});

}  // namespace downloader
