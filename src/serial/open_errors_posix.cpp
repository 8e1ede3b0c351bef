#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "serial/open_errors.h"

namespace downloader {

namespace {

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

}  // namespace downloader
