#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "serial/port_lock.h"

namespace downloader {

/// The loader's error code for an errno of a failed open: 2 (kErrorNotFound) for a port
/// that does not exist or cannot be reached, 5 (kErrorAccessDenied) for no permission or
/// in use, the errno itself otherwise.
uint32_t OpenErrorCode(int err);

/// Where this process stands with the group that owns a device.
enum class GroupStanding {
  kNoGroup,      ///< root's group, or one the system cannot name: no group to join
  kNotMember,    ///< the user is not in the group
  kJoinedLater,  ///< the user is in the group, but this login session began before
  kHasGroup,     ///< the process has the group: the device's mode denies it
};

/// The hint line for a device this user may not open: the group to join when the device
/// belongs to one (e.g. dialout) and the command for it, or what else to do. POSIX only.
std::string PermissionHint(const std::string& device, const std::string& comName);

/// PermissionHint's text for `label` ("/dev/ttyUSB0 (COM1)") and the device's `group`.
std::string PermissionHintText(const std::string& label, const std::string& group,
                               GroupStanding standing);

/// The hint line for a lock file of `port` that this user may not take: it belongs to
/// another user and names no running process.
std::string LockFileHint(const std::string& lockFile, const std::string& port,
                         const std::string& comName);

/// The hint line for a port that another process holds; `holder` 0 when not known.
std::string BusyHint(const std::string& port, const std::string& comName, pid_t holder,
                     const std::string& procRoot = "/proc");

/// The hint line for a port whose lock could not be taken (empty when there is nothing to
/// say): BusyHint when the holder is known to hold it; for a lock file that names a living
/// process which may have nothing to do with the port, the file, its owner and that
/// process, never "end it"; for a lock file that is no plain file, what it is; for another
/// user's stale lock file, LockFileHint.
std::string LockRefusalHint(const PortLock::Refusal& refusal, const std::string& port,
                            const std::string& comName, const std::string& procRoot = "/proc");

/// The first process other than this one with `device` open, searched under `procRoot`; 0
/// when none is found (or the search is not allowed). POSIX only.
pid_t FindDeviceHolder(const std::string& device, const std::string& procRoot = "/proc");

}  // namespace downloader
