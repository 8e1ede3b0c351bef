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

}  // namespace

std::string LockDirectory() {
  return ::access("/run/lock", W_OK | X_OK) == 0 ? "/run/lock" : "/tmp";
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
                                          const std::string& directory) {
  refusal = {};
  const std::string path = (directory.empty() ? LockDirectory() : directory) + "/LCK.." + target;
  refusal.path = path;
  HeldLocks& registry = Held();
  std::lock_guard registered(registry.mutex);
  if (registry.ending) {
    refusal.error = EINTR;
    return std::nullopt;
  }
  // A few rounds at most: a round is repeated only when the file was replaced or removed
  // between our open and our flock.
  for (int round = 0; round < 8; ++round) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      refusal.error = errno;
      if (errno == EACCES || errno == EPERM) {
        // Another user's lock file: in use while the process it names runs.
        const int reader = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (reader >= 0) {
          const pid_t pid = ReadLockPid(reader);
          ::close(reader);
          if (ProcessRuns(pid)) {
            refusal.error = EBUSY;
            refusal.holder = pid;
          }
        }
      }
      return std::nullopt;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      refusal.holder = ReadLockPid(fd);
      ::close(fd);
      refusal.error = err == EWOULDBLOCK ? EBUSY : err;
      return std::nullopt;
    }
    struct stat held {};
    struct stat named {};
    if (::fstat(fd, &held) != 0 || ::stat(path.c_str(), &named) != 0 ||
        held.st_ino != named.st_ino || held.st_dev != named.st_dev) {
      ::close(fd);
      continue;
    }
    // The file may come from a program that does not flock: its PID decides. One that
    // names this process is stale (a lock of this process would hold the flock).
    const pid_t pid = ReadLockPid(fd);
    if (pid > 0 && pid != ::getpid() && ProcessRuns(pid)) {
      ::close(fd);
      refusal.error = EBUSY;
      refusal.holder = pid;
      return std::nullopt;
    }
    char text[16];
    const int len = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text, static_cast<size_t>(len), 0) != len) {
      refusal.error = errno;
      ::close(fd);
      return std::nullopt;
    }
    registry.paths.push_back(path);
    PortLock lock;
    lock.path_ = path;
    lock.held_ = fd;
    return lock;
  }
  refusal.error = EBUSY;
  return std::nullopt;
}

}  // namespace downloader
