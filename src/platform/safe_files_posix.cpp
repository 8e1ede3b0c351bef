#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <system_error>
#include <vector>

#include "platform/safe_files.h"
#include "platform/safe_files_read.h"

namespace downloader {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  bool Close() {
    const int fd = release();
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

std::string SystemText(int err) {
  return std::generic_category().message(err);
}

std::string UserName(uid_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  std::vector<char> buffer(16384);
  if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return std::string("user ") + found->pw_name;
  }
  return "user " + std::to_string(uid);
}

// What a file that is not a plain one is, for a refusal.
std::string WhatItIs(const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "it is a link";
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  if (S_ISFIFO(st.st_mode)) return "it is a FIFO";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "it is a device";
  if (S_ISSOCK(st.st_mode)) return "it is a socket";
  return "it is not a plain file";
}

struct Place {
  std::string folder;
  std::string name;
};

Place Split(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return {".", path};
  return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool NamesAFile(const std::string& name) {
  return !name.empty() && name != "." && name != "..";
}

// The folder of a file to write, opened once so that it cannot be swapped between the
// checks and the writes. `foreign`: it is another user's sticky folder, so every file
// written there must be this user's.
struct Folder {
  Descriptor fd;
  bool foreign = false;
};

bool OpenFolder(const std::string& folder, FolderRule rule, Folder& out, std::string& error) {
  const uid_t me = ::geteuid();
  struct stat link {};
  if (::lstat(folder.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && link.st_uid != me &&
      link.st_uid != 0) {
    error = "its folder " + folder + " is a link of " + UserName(link.st_uid);
    return false;
  }
  Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
    error = SystemText(errno);
    return false;
  }
  const bool sticky = (st.st_mode & S_ISVTX) != 0;
  if (st.st_uid != me && (rule == FolderRule::kOwnOnly || (st.st_uid != 0 && !sticky))) {
    error = "its folder " + folder + " belongs to " + UserName(st.st_uid) +
            (rule == FolderRule::kOwnOnly ? "" : " and is not sticky");
    return false;
  }
  out.fd.reset(fd.release());
  out.foreign = st.st_uid != me;
  return true;
}

// An existing file at `name` that may be replaced: none, or no folder, and this user's in
// another user's sticky folder.
bool MayReplace(const Folder& folder, const std::string& name, std::string& error) {
  struct stat st {};
  if (::fstatat(folder.fd.get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return true;
  if (S_ISDIR(st.st_mode)) {
    error = "it is a folder";
    return false;
  }
  if (folder.foreign && st.st_uid != ::geteuid()) {
    error = "it belongs to " + UserName(st.st_uid);
    return false;
  }
  return true;
}

// The folder of `path` opened and checked, with the name of the file in it; `replacing`:
// a file already there must be one that may be replaced.
bool OpenPlace(const std::string& path, FolderRule rule, bool replacing, Place& place,
               Folder& folder, std::string& error) {
  place = Split(path);
  if (!NamesAFile(place.name)) {
    error = "it is a folder";
    return false;
  }
  return OpenFolder(place.folder, rule, folder, error) &&
         (!replacing || MayReplace(folder, place.name, error));
}

// Makes a new file of a random name beside `name`: its descriptor, and its name.
Descriptor MakeTemporary(const Folder& folder, const std::string& name, unsigned mode,
                         std::string& temporary, std::string& error) {
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".tmp.%08x", static_cast<unsigned>(random()));
    temporary = name + suffix;
    const int fd = ::openat(folder.fd.get(), temporary.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) return Descriptor(fd);
    if (errno != EEXIST) break;
  }
  error = SystemText(errno);
  return Descriptor();
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Refuses what is at `name` unless it is a plain file (or nothing), before anything opens
// it: opening a device can already act on it (a serial port raises DTR).
bool PlainOrAbsent(int folder, const char* name, int followFlag, std::string& error) {
  struct stat st {};
  if (::fstatat(folder, name, &st, followFlag) != 0 || S_ISREG(st.st_mode)) return true;
  error = WhatItIs(st);
  return false;
}

}  // namespace

bool CheckFolder(const std::string& folder, FolderRule rule, std::string& error) {
  Folder opened;
  return OpenFolder(folder, rule, opened, error);
}

bool ReplaceFileSafely(const std::string& path, std::string_view bytes, unsigned mode,
                       std::string& error, FolderRule rule) {
  const Place place = Split(path);
  if (!NamesAFile(place.name)) {
    error = "it is a folder";
    return false;
  }
  Folder folder;
  if (!OpenFolder(place.folder, rule, folder, error) || !MayReplace(folder, place.name, error)) {
    return false;
  }
  std::string temporary;
  Descriptor file = MakeTemporary(folder, place.name, mode, temporary, error);
  if (file.get() < 0) return false;
  bool ok = WriteAll(file.get(), bytes) && ::fsync(file.get()) == 0;
  int saved = errno;
  ok = file.Close() && ok;
  if (ok &&
      ::renameat(folder.fd.get(), temporary.c_str(), folder.fd.get(), place.name.c_str()) != 0) {
    saved = errno;
    ok = false;
  }
  if (!ok) {
    error = SystemText(saved);
    ::unlinkat(folder.fd.get(), temporary.c_str(), 0);
    return false;
  }
  // The rename itself reaches the disk with its folder.
  ::fsync(folder.fd.get());
  return true;
}

bool CanReplaceFileSafely(const std::string& path, std::string& error) {
  Place place;
  Folder folder;
  if (!OpenPlace(path, FolderRule::kShared, true, place, folder, error)) return false;
  std::string temporary;
  if (MakeTemporary(folder, place.name, 0600, temporary, error).get() < 0) return false;
  ::unlinkat(folder.fd.get(), temporary.c_str(), 0);
  return true;
}

std::FILE* OpenForAppending(const std::string& path, unsigned mode, std::string& error) {
  Place place;
  Folder folder;
  if (!OpenPlace(path, FolderRule::kShared, false, place, folder, error) ||
      !PlainOrAbsent(folder.fd.get(), place.name.c_str(), AT_SYMLINK_NOFOLLOW, error)) {
    return nullptr;
  }
  Descriptor fd(::openat(
      folder.fd.get(), place.name.c_str(),
      O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode));
  if (fd.get() < 0) {
    error = errno == ELOOP ? "it is a link" : SystemText(errno);
    return nullptr;
  }
  // What was opened, whatever stood at the name a moment before.
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    error = SystemText(errno);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    error = WhatItIs(st);
    return nullptr;
  }
  if (st.st_nlink != 1) {
    error = "it has other names (a hard link)";
    return nullptr;
  }
  if (st.st_uid != ::geteuid()) {
    error = "it belongs to " + UserName(st.st_uid);
    return nullptr;
  }
  ::fcntl(fd.get(), F_SETFL, O_APPEND);  // blocking writes from now on
  std::FILE* file = ::fdopen(fd.get(), "a");
  if (file == nullptr) {
    error = SystemText(errno);
    return nullptr;
  }
  fd.release();
  return file;
}

std::string FileOwnerName(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? UserName(st.st_uid) : std::string();
}

bool ReadBoundedFile(const std::string& path, std::size_t limit, std::string& bytes,
                     std::string& error, bool followLinks) {
  bytes.clear();
  if (!PlainOrAbsent(AT_FDCWD, path.c_str(), followLinks ? 0 : AT_SYMLINK_NOFOLLOW, error)) {
    return false;
  }
  Descriptor fd(::open(
      path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW)));
  struct stat st {};
  if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
    error = errno == ELOOP && !followLinks ? "it is a link" : SystemText(errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error = WhatItIs(st);
    return false;
  }
  return ReadUpTo(
      limit, static_cast<unsigned long long>(st.st_size),
      [&fd](char* buffer, std::size_t count) -> long {
        ssize_t n;
        do {
          n = ::read(fd.get(), buffer, count);
        } while (n < 0 && errno == EINTR);
        if (n < 0) return -1;
        return static_cast<long>(n);
      },
      bytes, error, [] { return SystemText(errno); });
}

}  // namespace downloader
