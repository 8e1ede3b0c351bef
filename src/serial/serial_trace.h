#pragma once

#include <functional>
#include <memory>
#include <string>

#include "serial/serial_device.h"

namespace downloader {

/// The environment variable that asks for a serial trace: a file that every port's lines
/// are appended to, or an existing folder that gets one file per port (TraceFileName).
inline constexpr const char* kTraceVariable = "DOWNLOADER_TRACE";

/// The name of one port's file in a trace folder: "port-COM1.trace". No part of it is a
/// device name, as "COM1.trace" would be on Windows (the port COM1 itself).
std::string TraceFileName(const std::string& comName);

/// Where one port's trace lines go. Lines are appended whole, one write each, from any
/// thread: "<microseconds since start> <thread> <port> <operation> ...".
class TraceLog;

/// The log for `comName` as DOWNLOADER_TRACE asks, or nullptr when it is unset or empty
/// (then nothing is traced and nothing is written). A file that cannot be opened gives
/// one hint line on standard error and no trace.
std::shared_ptr<TraceLog> TraceLogFor(const std::string& comName);

/// Runs `open` and writes its "open" line to `log`; a device it gave is wrapped so that
/// each of its operations writes a line (configure, DTR, RTS, BREAK, purge, write, read,
/// DSR, close), with the bytes in hexadecimal and the result.
DeviceOpenResult TracedOpen(std::shared_ptr<TraceLog> log, const std::string& comName,
                            const std::function<DeviceOpenResult()>& open);

}  // namespace downloader
