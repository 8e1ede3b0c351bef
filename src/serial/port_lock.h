#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace downloader {

/// The folder of UUCP lock files: /run/lock when this process can write there, else /tmp.
/// (Windows: the namespace of the lock objects, "Global".)
std::string LockDirectory();

/// Holds one UUCP-style lock file ("LCK..<target>", the holder's PID as ten right-aligned
/// digits and a newline) plus an flock on it, so that two processes taking the same lock
/// at the same moment never both get it. minicom, picocom and ser2net honour the file;
/// a file naming a process that no longer runs is taken over. Released on destruction.
/// On Windows the lock is a named mutex "Global\LCK..<target>" that lives as long as its
/// holder keeps it open: the system releases it when the holder ends, however it ends.
class PortLock {
 public:
  PortLock() = default;
  ~PortLock();
  PortLock(PortLock&& other) noexcept;
  PortLock& operator=(PortLock&& other) noexcept;
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;

  /// What a failed Acquire found.
  struct Refusal {
    int error = 0;     ///< errno of the failure; EBUSY when another process holds it
    pid_t holder = 0;  ///< the holder's PID when the lock file names a living process
    std::string path;  ///< the lock file
  };

  /// Takes the lock named by `target` ("ttyUSB0", "rfc2217-HOST-PORT") in `directory`
  /// (LockDirectory() when empty). Never waits for a holder. A lock file this user may not
  /// write is refused with EBUSY when it names a living process, else with EACCES.
  static std::optional<PortLock> Acquire(const std::string& target, Refusal& refusal,
                                         const std::string& directory = {});

  /// The full name of the lock file held; empty for a released or empty lock.
  const std::string& path() const { return path_; }

 private:
  void Release();

  std::string path_;
  std::intptr_t held_ = -1;  ///< POSIX: the lock file's descriptor; Windows: a named mutex
};

/// Removes every lock file this process holds, for a process about to end at once (a stop
/// signal); from then on no lock is taken and no file removed. Any thread, while others may
/// still hold or take locks. Windows: nothing to do, the system drops a process's mutexes.
void RemoveEveryLockFile();

/// The name of the program of a running process (/proc/PID/comm), or empty.
std::string ProcessName(pid_t pid, const std::string& procRoot = "/proc");

}  // namespace downloader
