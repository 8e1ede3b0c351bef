#include "serial/open_errors.h"

#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

#include "serial/hints.h"
#include "serial/port_lock.h"
#include "serial/serial_device.h"

namespace downloader {

namespace {

std::mutex sinkMutex;
HintSink sink;

std::string Label(const std::string& port, const std::string& comName) {
  return comName.empty() ? port : port + " (" + comName + ")";
}

bool AllDigits(const char* s) {
  if (*s == '\0') return false;
  for (; *s; ++s) {
    if (*s < '0' || *s > '9') return false;
  }
  return true;
}

}  // namespace

void SetHintSink(HintSink newSink) {
  std::lock_guard lock(sinkMutex);
  sink = std::move(newSink);
}

void WriteHint(const std::string& line) {
  std::lock_guard lock(sinkMutex);
  if (sink) {
    sink(line);
    return;
  }
  const std::string text = line + "\n";
  // One write, so lines of several threads never mix.
  [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, text.data(), text.size());
}

uint32_t OpenErrorCode(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
    case ENOTDIR:
    case ECONNREFUSED:
    case ECONNRESET:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT:
      return kErrorNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
      return kErrorAccessDenied;
    default:
      return err == EWOULDBLOCK ? kErrorAccessDenied : static_cast<uint32_t>(err);
  }
}

std::string PermissionHint(const std::string& device, const std::string& comName) {
  std::string line = "downloader: no permission to open " + Label(device, comName);
  struct stat st {};
  if (::stat(device.c_str(), &st) == 0 && st.st_gid != 0) {
    group entry{};
    group* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
      const std::string name = found->gr_name;
      return line + "; join its group " + name + ": sudo usermod -aG " + name +
             " $USER, then log in again";
    }
  }
  return line + "; ask for read and write access to it";
}

pid_t FindDeviceHolder(const std::string& device, const std::string& procRoot) {
  struct stat target {};
  if (::stat(device.c_str(), &target) != 0) return 0;
  DIR* proc = ::opendir(procRoot.c_str());
  if (proc == nullptr) return 0;
  pid_t holder = 0;
  const pid_t self = ::getpid();
  while (holder == 0) {
    const dirent* entry = ::readdir(proc);
    if (entry == nullptr) break;
    if (!AllDigits(entry->d_name)) continue;
    const pid_t pid = static_cast<pid_t>(std::stol(entry->d_name));
    if (pid == self) continue;
    const std::string fdDir = procRoot + "/" + entry->d_name + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (fds == nullptr) continue;
    while (const dirent* fd = ::readdir(fds)) {
      if (!AllDigits(fd->d_name)) continue;
      struct stat opened {};
      if (::stat((fdDir + "/" + fd->d_name).c_str(), &opened) == 0 &&
          opened.st_dev == target.st_dev && opened.st_ino == target.st_ino) {
        holder = pid;
        break;
      }
    }
    ::closedir(fds);
  }
  ::closedir(proc);
  return holder;
}

std::string BusyHint(const std::string& port, const std::string& comName, pid_t holder,
                     const std::string& procRoot) {
  std::string line = "downloader: " + Label(port, comName) + " is in use by ";
  if (holder <= 0) return line + "another program";
  const std::string name = ProcessName(holder, procRoot);
  line += "process " + std::to_string(holder);
  if (!name.empty()) line += " (" + name + ")";
  return line + "; end it or wait until it lets go of the port";
}

}  // namespace downloader
