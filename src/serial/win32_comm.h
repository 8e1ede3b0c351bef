#pragma once

#include <cstdint>
#include <string>

namespace downloader::win32 {

/// The arithmetic of the Windows serial backend, apart from the system so that it can be
/// tested anywhere: error codes, device names and per-transfer timeouts.

/// The loader's code for the Win32 error of a failed CreateFile on a port: kErrorNotFound
/// (2) for a port that does not exist or cannot be reached, kErrorAccessDenied (5) for one
/// in use or refused, the Win32 code itself otherwise.
uint32_t OpenErrorCode(uint32_t win32Error);

/// The name to open for a port device: "COM<n>" (any case) becomes "\\.\COM<n>", the form
/// that reaches COM10 and above too; any other name is used as it is.
std::string DevicePath(const std::string& device);

/// The name that a device's lock carries: the last part of its path ("COM7").
std::string LockName(const std::string& devicePath);

/// A COMMTIMEOUTS record, in its order.
struct CommTimeouts {
  uint32_t readInterval = 0;
  uint32_t readMultiplier = 0;
  uint32_t readConstant = 0;
  uint32_t writeMultiplier = 0;
  uint32_t writeConstant = 0;
  bool operator==(const CommTimeouts&) const = default;
};

/// For a read that waits at most `timeoutMs` in total for all it asks. 0 returns at once
/// with what is queued: an interval of MAXDWORD and no totals, since all-zero read
/// timeouts would wait without end.
CommTimeouts ReadTimeouts(uint32_t timeoutMs);

/// For a write that may take at most `timeoutMs`. A zero write total means no limit to the
/// system, so 0 becomes the shortest limit there is, 1 ms.
CommTimeouts WriteTimeouts(uint32_t timeoutMs);

}  // namespace downloader::win32
