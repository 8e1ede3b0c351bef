#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <random>

#include "platform/safe_files.h"
#include "platform/safe_files_read.h"
#include "platform/wide_text.h"

namespace downloader {

namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
  ~Handle() {
    if (valid()) ::CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  bool Close() {
    const HANDLE handle = release();
    return handle == INVALID_HANDLE_VALUE || ::CloseHandle(handle);
  }

 private:
  HANDLE handle_;
};

std::string SystemText(DWORD error) {
  return SystemErrorText(error);
}

// Refuses what an opened handle is unless it is a plain disk file with one name.
bool PlainFile(HANDLE file, std::string& error) {
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    error = "it is not a plain file (a pipe or a device)";
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) {
    error = SystemText(::GetLastError());
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = "it is a folder";
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error = "it is a link";
    return false;
  }
  if (info.nNumberOfLinks != 1) {
    error = "it has other names (a hard link)";
    return false;
  }
  return true;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD ask = bytes.size() > (1u << 20) ? (1u << 20) : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), ask, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A new file of a random name beside `target`, never through a link.
Handle MakeTemporary(const std::wstring& target, std::wstring& temporary, std::string& error) {
  std::random_device random;
  DWORD failure = ERROR_FILE_EXISTS;
  for (int attempt = 0; attempt < 100 && failure == ERROR_FILE_EXISTS; ++attempt) {
    wchar_t suffix[16];
    std::swprintf(suffix, 16, L".tmp.%08x", static_cast<unsigned>(random()));
    temporary = target + suffix;
    Handle file(::CreateFileW(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (file.valid()) return Handle(file.release());
    failure = ::GetLastError();
  }
  error = SystemText(failure);
  return Handle();
}

// A new file beside `target`, after the checks of a file to be replaced.
Handle PrepareReplace(const std::wstring& target, std::wstring& temporary, std::string& error) {
  if (IsFolder(target)) {
    error = "it is a folder";
    return Handle();
  }
  return MakeTemporary(target, temporary, error);
}

}  // namespace

bool CheckFolder(const std::string& folder, FolderRule, std::string& error) {
  // Who may write a folder is its access control list's business.
  if (IsFolder(WideFromUtf8(folder.empty() ? "." : folder))) return true;
  error = SystemText(ERROR_PATH_NOT_FOUND);
  return false;
}

bool ReplaceFileSafely(const std::string& path, std::string_view bytes, unsigned,
                       std::string& error, FolderRule) {
  const std::wstring target = WideFromUtf8(path);
  std::wstring temporary;
  Handle file = PrepareReplace(target, temporary, error);
  if (!file.valid()) return false;
  bool ok = WriteAll(file.get(), bytes) && ::FlushFileBuffers(file.get());
  DWORD saved = ::GetLastError();
  ok = file.Close() && ok;
  if (ok && !::MoveFileExW(temporary.c_str(), target.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    saved = ::GetLastError();
    ok = false;
  }
  if (!ok) {
    error = SystemText(saved);
    ::DeleteFileW(temporary.c_str());
  }
  return ok;
}

bool CanReplaceFileSafely(const std::string& path, std::string& error) {
  std::wstring temporary;
  Handle file = PrepareReplace(WideFromUtf8(path), temporary, error);
  if (!file.valid()) return false;
  file.Close();
  ::DeleteFileW(temporary.c_str());
  return true;
}

std::FILE* OpenForAppending(const std::string& path, unsigned, std::string& error) {
  // Not inherited: no security attributes ask for it.
  Handle file(::CreateFileW(WideFromUtf8(path).c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                            nullptr));
  if (!file.valid()) {
    error = SystemText(::GetLastError());
    return nullptr;
  }
  if (!PlainFile(file.get(), error)) return nullptr;
  const int fd =
      ::_open_osfhandle(reinterpret_cast<intptr_t>(file.get()), _O_WRONLY | _O_APPEND | _O_BINARY);
  if (fd < 0) {
    error = "cannot open it";
    return nullptr;
  }
  file.release();
  std::FILE* stream = ::_fdopen(fd, "ab");
  if (stream == nullptr) {
    ::_close(fd);
    error = "cannot open it";
  }
  return stream;
}

std::string FileOwnerName(const std::string&) {
  return {};
}

bool ReadBoundedFile(const std::string& path, std::size_t limit, std::string& bytes,
                     std::string& error, bool followLinks) {
  bytes.clear();
  Handle file(::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS |
                                (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                            nullptr));
  if (!file.valid()) {
    error = SystemText(::GetLastError());
    return false;
  }
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
    error = "it is not a plain file (a pipe or a device)";
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file.get(), &info)) {
    error = SystemText(::GetLastError());
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    error = "it is a folder";
    return false;
  }
  if (!followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    error = "it is a link";
    return false;
  }
  const unsigned long long size =
      (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return ReadUpTo(
      limit, size,
      [&file](char* buffer, std::size_t count) -> long {
        DWORD n = 0;
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 20));
        return ::ReadFile(file.get(), buffer, ask, &n, nullptr) ? static_cast<long>(n) : -1;
      },
      bytes, error, [] { return SystemText(::GetLastError()); });
}

}  // namespace downloader
