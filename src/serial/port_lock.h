#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace downloader {

/// The folder of UUCP lock files: /run/lock when this process can write there, else /tmp.
/// (Windows: the namespace of the lock objects, "Global".)
std::string LockDirectory();

/// The other folders where a process of another user may have put its lock files when it
/// could not write LockDirectory() (/run/lock and /tmp, less LockDirectory()): a lock is
/// also looked for there, so that root and the users keep each other out whichever folder
/// each can write. None on Windows.
std::vector<std::string> OtherLockDirectories();

/// Holds one UUCP-style lock file ("LCK..<target>", the holder's PID as ten right-aligned
/// digits and a newline, mode 0644 so that other programs can read it) plus an flock on
/// it, so that two processes taking the same lock at the same moment never both get it.
/// minicom, picocom and ser2net honour the file. The file is always made new (O_EXCL,
/// never through a link); an existing one is only read: one naming a process that no
/// longer runs is removed and made anew, and one that is no plain file of one name (a
/// link, a hard link, a FIFO, a device) is refused and left as it is. Released on
/// destruction. On Windows the lock is a named mutex "Global\LCK..<target>" that lives as
/// long as its holder keeps it open: the system releases it when the holder ends, however
/// it ends.
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
    /// `holder` is known to hold the lock: the file's flock is held, or `holder` runs this
    /// same program. Otherwise the file names a process that may have nothing to do with
    /// the port (another program's lock, or one somebody wrote by hand).
    bool holderConfirmed = false;
    /// Who owns the lock file ("user alice"), when it names `holder`. Windows: kAnotherUser
    /// when the lock object is another user's, one this user may not even open.
    std::string owner;
    std::string path;     ///< the lock file
    std::string problem;  ///< with EPERM: why the file is no lock file ("it is a link")
  };

  static constexpr const char* kAnotherUser = "another user";

  /// Takes the lock named by `target` ("ttyUSB0", "rfc2217-HOST-PORT") in `directory`
  /// (LockDirectory() when empty), and refuses it when a lock file of `target` in one of
  /// `others` (OtherLockDirectories() when `directory` is empty) names a living process or
  /// is held. Never waits for a holder. A lock file this user may not remove is refused
  /// with EBUSY when it names a living process, else with EACCES.
  static std::optional<PortLock> Acquire(const std::string& target, Refusal& refusal,
                                         const std::string& directory = {},
                                         const std::vector<std::string>& others = {});

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
