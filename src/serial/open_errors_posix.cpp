#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "serial/open_errors.h"

namespace downloader {

namespace {

std::string Label(const std::string& port, const std::string& comName) {
  return comName.empty() ? port : port + " (" + comName + ")";
}

bool IsMember(const group& entry, const char* user) {
  for (char** member = entry.gr_mem; member != nullptr && *member != nullptr; ++member) {
    if (std::strcmp(*member, user) == 0) return true;
  }
  return false;
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
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) {
    return "downloader: no permission to reach " + Label(device, comName) +
           "; a folder on its path is closed to this user";
  }
  std::string name;
  GroupStanding standing = GroupStanding::kNoGroup;
  group entry{};
  group* found = nullptr;
  std::vector<char> buffer(16384);
  if (st.st_gid != 0 &&
      ::getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found) {
    name = found->gr_name;
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(static_cast<std::size_t>(
        std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    passwd user{};
    passwd* me = nullptr;
    std::vector<char> userBuffer(16384);
    ::getpwuid_r(::getuid(), &user, userBuffer.data(), userBuffer.size(), &me);
    if (::getegid() == st.st_gid ||
        std::find(groups.begin(), groups.end(), st.st_gid) != groups.end()) {
      standing = GroupStanding::kHasGroup;
    } else if (me != nullptr && (me->pw_gid == st.st_gid || IsMember(*found, me->pw_name))) {
      standing = GroupStanding::kJoinedLater;
    } else {
      standing = GroupStanding::kNotMember;
    }
  }
  return PermissionHintText(Label(device, comName), name, standing);
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
