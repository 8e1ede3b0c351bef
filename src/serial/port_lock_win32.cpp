#include <windows.h>

#include <cerrno>
#include <iterator>

#include "platform/wide_text.h"
#include "serial/port_lock.h"

namespace downloader {

namespace {

// The mutex name for `target` in `space`: "Global" or "Local" as they are; any other
// space (a test's own) becomes a part of a local name, as a name may hold no backslash
// after its namespace.
std::string MutexName(const std::string& space, const std::string& target) {
  if (space == "Global" || space == "Local") return space + "\\LCK.." + target;
  std::string local = "Local\\" + space + "/LCK.." + target;
  for (std::size_t i = 6; i < local.size(); ++i) {
    if (local[i] == '\\') local[i] = '/';
  }
  return local;
}

}  // namespace

std::string LockDirectory() {
  return "Global";
}

std::vector<std::string> OtherLockDirectories() {
  return {};
}

std::string ProcessName(pid_t pid, const std::string& /*procRoot*/) {
  const HANDLE process =
      ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return {};
  wchar_t path[MAX_PATH * 2];
  DWORD size = static_cast<DWORD>(std::size(path));
  const bool named = ::QueryFullProcessImageNameW(process, 0, path, &size) != 0;
  ::CloseHandle(process);
  if (!named) return {};
  const std::string full = Utf8FromWide(std::wstring_view(path, size));
  return full.substr(full.find_last_of("\\/") + 1);
}

void RemoveEveryLockFile() {
  // A named mutex goes with its process, however the process ends.
}

void PortLock::Release() {
  if (held_ == -1) return;
  ::CloseHandle(reinterpret_cast<HANDLE>(held_));
  held_ = -1;
  path_.clear();
}

std::optional<PortLock> PortLock::Acquire(const std::string& target, Refusal& refusal,
                                          const std::string& directory,
                                          const std::vector<std::string>& /*others*/) {
  refusal = {};
  const std::string name = MutexName(directory.empty() ? LockDirectory() : directory, target);
  refusal.path = name;
  // Creating the named object is atomic: of two processes at the same moment, one creates
  // it and the other finds it. Either way somebody holds the lock (whose PID the object
  // does not tell). Another user's object may not even be opened by us: that may be any
  // session's, a loader's or not (see Refusal::owner).
  const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, WideFromUtf8(name).c_str());
  const DWORD error = ::GetLastError();
  if (mutex == nullptr || error == ERROR_ALREADY_EXISTS) {
    if (mutex != nullptr) ::CloseHandle(mutex);
    refusal.error = EBUSY;
    if (mutex == nullptr && error == ERROR_ACCESS_DENIED) refusal.owner = kAnotherUser;
    return std::nullopt;
  }
  PortLock lock;
  lock.path_ = name;
  lock.held_ = reinterpret_cast<std::intptr_t>(mutex);
  return lock;
}

}  // namespace downloader
