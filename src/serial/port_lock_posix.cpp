#include "serial/port_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "platform/safe_files.h"

namespace downloader {

namespace {

// Whether `text` is a PID written as text: digits, with spaces and a newline around them.
bool IsDecimalText(const char* text, ssize_t n) {
  bool digits = false;
  for (ssize_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = true;
    } else if (c != ' ' && c != '\n') {
      return false;
    }
  }
  return digits;
}

// Reads the PID of a lock file: ASCII digits (the usual form) or a 4-byte binary value
// (old Kermit-style locks; "123\n" is four bytes too, and text). 0 when it holds neither.
pid_t ReadLockPid(int fd) {
  char text[64];
  const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
  if (n <= 0) return 0;
  if (n == 4 && !IsDecimalText(text, n)) {
    int32_t binary = 0;
    static_assert(sizeof binary == 4);
    std::memcpy(&binary, text, 4);
    if (binary > 0) return binary;
  }
  text[n] = '\0';
  long pid = 0;
  bool digits = false;
  for (ssize_t i = 0; i < n; ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digits = true;
      pid = pid * 10 + (c - '0');
      if (pid > 0x3FFFFFFF) return 0;
    } else if (digits || (c != ' ' && c != '\t')) {
      break;
    }
  }
  return static_cast<pid_t>(pid);
}

// The lock files held, for RemoveEveryLockFile. The mutex is held while a file is made
// and written, so that file is either listed or not there. Never destroyed: a port still
// open while the process ends releases its lock after the statics of other files are gone.
struct HeldLocks {
  std::mutex mutex;
  std::vector<std::string> paths;
  bool ending = false;
};

HeldLocks& Held() {
  static HeldLocks* held = new HeldLocks;
  return *held;
}

bool ProcessRuns(pid_t pid) {
  if (pid <= 0) return false;
  // EPERM: it runs under another user.
  return ::kill(pid, 0) == 0 || errno == EPERM;
}

// Fills `refusal` for a lock file whose PID names a living process, when it does.
bool NamesALivingProcess(int fd, const std::string& path, PortLock::Refusal& refusal) {
  const pid_t pid = ReadLockPid(fd);
  // One that names this process is stale: a lock of this process would hold the flock.
  if (pid <= 0 || pid == ::getpid() || !ProcessRuns(pid)) return false;
  refusal.error = EBUSY;
  refusal.holder = pid;
  refusal.holderConfirmed = ProcessName(pid) == ProcessName(::getpid());
  refusal.owner = FileOwnerName(path);
  refusal.path = path;
  return true;
}

// What stands at `path` when it is no plain file of one name: refused, never opened (a
// device acts on an open), never written.
bool IsNoLockFile(const struct stat& st, PortLock::Refusal& refusal) {
  if (S_ISLNK(st.st_mode)) {
    refusal.problem = "it is a link";
  } else if (!S_ISREG(st.st_mode)) {
    refusal.problem = "it is not a plain file";
  } else if (st.st_nlink != 1) {
    refusal.problem = "it has other names (a hard link)";
  } else {
    return false;
  }
  refusal.error = EPERM;
  return true;
}

// The lock file of another folder, only looked at: held, or naming a living process.
bool HeldElsewhere(const std::string& path, PortLock::Refusal& refusal) {
  struct stat st {};
  PortLock::Refusal ignored;
  if (::lstat(path.c_str(), &st) != 0 || IsNoLockFile(st, ignored)) return false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  bool held = false;
  if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    refusal.error = EBUSY;
    refusal.holder = ReadLockPid(fd);
    refusal.holderConfirmed = true;
    refusal.path = path;
    held = true;
  } else {
    held = NamesALivingProcess(fd, path, refusal);
  }
  ::close(fd);
  return held;
}

// Takes the lock file `path`: its descriptor, flocked and holding this process's PID, or
// -1 with `refusal` filled.
int TakeLockFile(const std::string& path, PortLock::Refusal& refusal) {
  // A few rounds at most: a round is repeated only when the file was replaced or removed
  // between our open and our flock, or when a stale file was removed.
  for (int round = 0; round < 8; ++round) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const bool created = fd >= 0;
    if (!created) {
      if (errno != EEXIST) {
        refusal.error = errno;
        return -1;
      }
      // Somebody's file: looked at, never written.
      struct stat named {};
      if (::lstat(path.c_str(), &named) != 0) continue;
      if (IsNoLockFile(named, refusal)) return -1;
      fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
      if (fd < 0) {
        if (errno == ENOENT) continue;
        refusal.error = errno;
        return -1;
      }
    }
    struct stat held {};
    if (::fstat(fd, &held) != 0 || IsNoLockFile(held, refusal)) {
      if (refusal.error == 0) refusal.error = errno;
      ::close(fd);
      return -1;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      const pid_t pid = ReadLockPid(fd);
      ::close(fd);
      refusal.error = err == EWOULDBLOCK ? EBUSY : err;
      refusal.holder = ProcessRuns(pid) ? pid : 0;
      refusal.holderConfirmed = true;
      return -1;
    }
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || held.st_ino != named.st_ino ||
        held.st_dev != named.st_dev) {
      ::close(fd);
      continue;
    }
    if (!created) {
      // The file may come from a program that does not flock: its PID decides.
      if (NamesALivingProcess(fd, path, refusal)) {
        ::close(fd);
        return -1;
      }
      // Left by a process that has gone: removed while its flock is held, so nobody takes
      // the old file after us, and made anew.
      const bool removed = ::unlink(path.c_str()) == 0;
      refusal.error = removed ? 0 : errno;
      ::close(fd);
      if (!removed) return -1;
      continue;
    }
    char text[16];
    const int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    if (::pwrite(fd, text, static_cast<size_t>(len), 0) != len) {
      refusal.error = errno;
      ::unlink(path.c_str());
      ::close(fd);
      return -1;
    }
    return fd;
  }
  refusal.error = EBUSY;
  return -1;
}

}  // namespace

std::string LockDirectory() {
  return ::access("/run/lock", W_OK | X_OK) == 0 ? "/run/lock" : "/tmp";
}

std::vector<std::string> OtherLockDirectories() {
  std::vector<std::string> others;
  for (const char* folder : {"/run/lock", "/tmp"}) {
    if (folder != LockDirectory()) others.emplace_back(folder);
  }
  return others;
}

std::string ProcessName(pid_t pid, const std::string& procRoot) {
  std::ifstream in(procRoot + "/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

void RemoveEveryLockFile() {
  HeldLocks& held = Held();
  std::lock_guard lock(held.mutex);
  held.ending = true;
  for (const std::string& path : held.paths) ::unlink(path.c_str());
  held.paths.clear();
}

void PortLock::Release() {
  if (held_ < 0) return;
  {
    HeldLocks& held = Held();
    std::lock_guard lock(held.mutex);
    // Unlink while the flock is still held, so nobody can lock the old file after us.
    if (!held.ending) ::unlink(path_.c_str());
    std::erase(held.paths, path_);
  }
  ::close(static_cast<int>(held_));
  held_ = -1;
  path_.clear();
}

std::optional<PortLock> PortLock::Acquire(const std::string& target, Refusal& refusal,
                                          const std::string& directory,
                                          const std::vector<std::string>& others) {
  refusal = {};
  const std::string path = (directory.empty() ? LockDirectory() : directory) + "/LCK.." + target;
  refusal.path = path;
  HeldLocks& registry = Held();
  std::lock_guard registered(registry.mutex);
  if (registry.ending) {
    refusal.error = EINTR;
    return std::nullopt;
  }
  const int fd = TakeLockFile(path, refusal);
  if (fd < 0) {
    if ((refusal.error == EACCES || refusal.error == EPERM) && refusal.problem.empty()) {
      // Another user's lock file: in use while the process it names runs.
      const int reader = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (reader >= 0) {
        NamesALivingProcess(reader, path, refusal);
        ::close(reader);
      }
    }
    return std::nullopt;
  }
  // Taken here first, then looked for in the other folders: of two processes that lock in
  // different folders at the same moment, at least one sees the other's file.
  for (const std::string& other : directory.empty() ? OtherLockDirectories() : others) {
    if (HeldElsewhere(other + "/LCK.." + target, refusal)) {
      ::unlink(path.c_str());
      ::close(fd);
      return std::nullopt;
    }
  }
  registry.paths.push_back(path);
  PortLock lock;
  lock.path_ = path;
  lock.held_ = fd;
  return lock;
}

}  // namespace downloader
