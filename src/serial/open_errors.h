#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace downloader {

/// The loader's error code for an errno of a failed open: 2 (kErrorNotFound) for a port
/// that does not exist or cannot be reached, 5 (kErrorAccessDenied) for no permission or
/// in use, the errno itself otherwise.
uint32_t OpenErrorCode(int err);

/// The hint line for a device this user may not open: the group to join when the device
/// belongs to one (e.g. dialout). POSIX only.
std::string PermissionHint(const std::string& device, const std::string& comName);

/// The hint line for a port that another process holds; `holder` 0 when not known.
std::string BusyHint(const std::string& port, const std::string& comName, pid_t holder,
                     const std::string& procRoot = "/proc");

/// The first process other than this one with `device` open, searched under `procRoot`; 0
/// when none is found (or the search is not allowed). POSIX only.
pid_t FindDeviceHolder(const std::string& device, const std::string& procRoot = "/proc");

}  // namespace downloader
