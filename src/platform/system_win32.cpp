// windows.h first: shellapi.h builds on it.
#include <windows.h>

#include <shellapi.h>

#include <cstdlib>

#include "platform/system.h"
#include "platform/wide_text.h"

namespace downloader {

namespace {

std::intptr_t OpenForReading(const std::wstring& path) {
  // Others may go on reading, writing or renaming the file while it is read here. A folder
  // opens too (as on POSIX) and fails at the first read.
  const HANDLE file = ::CreateFileW(
      path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(file);
}

std::wstring ModuleFileName() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    // A name that filled the buffer may have been cut short.
    if (n < buffer.size()) return buffer.substr(0, n);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

HANDLE Native(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

std::string RunningProgramPath() {
  return Utf8FromWide(ModuleFileName());
}

std::filesystem::path FileInFolder(const std::string& directory, const std::string& name) {
  // The folder's full name first: the \\?\ form takes a name as it is, unresolved.
  const std::wstring folder = WideFromUtf8(directory.empty() ? "." : directory);
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n =
        ::GetFullPathNameW(folder.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return std::filesystem::path(folder) / WideFromUtf8(name);
    if (n < full.size()) {
      full.resize(n);
      break;
    }
    full.resize(n);
  }
  if (!full.empty() && full.back() != L'\\') full += L'\\';
  std::wstring literal;
  if (full.rfind(L"\\\\?\\", 0) == 0) {
    literal = full;
  } else if (full.rfind(L"\\\\", 0) == 0) {
    literal = L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share
  } else {
    literal = L"\\\\?\\" + full;
  }
  return std::filesystem::path(literal + WideFromUtf8(name));
}

std::optional<std::string> EnvironmentValue(const char* name) {
  const wchar_t* value = ::_wgetenv(WideFromUtf8(name).c_str());
  if (value == nullptr) return std::nullopt;
  return Utf8FromWide(value);
}

void SetEnvironmentValue(const char* name, const std::string& value) {
  ::_wputenv_s(WideFromUtf8(name).c_str(), WideFromUtf8(value).c_str());
}

std::vector<std::string> ProgramArguments(int argc, const char* const* argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  ::LocalFree(wide);
  return arguments;
}

ReadOnlyFile::ReadOnlyFile(const std::string& name) : handle_(OpenForReading(WideFromUtf8(name))) {}

ReadOnlyFile ReadOnlyFile::RunningProgram() {
  const std::wstring path = ModuleFileName();
  return ReadOnlyFile(Opened{path.empty() ? kClosed : OpenForReading(path)});
}

ReadOnlyFile::~ReadOnlyFile() {
  if (IsOpen()) ::CloseHandle(Native(handle_));
}

bool ReadOnlyFile::SeekFromEnd(uint64_t distance) {
  LARGE_INTEGER size{};
  if (!IsOpen() || !::GetFileSizeEx(Native(handle_), &size) ||
      static_cast<uint64_t>(size.QuadPart) < distance) {
    return false;
  }
  LARGE_INTEGER move{};
  move.QuadPart = -static_cast<LONGLONG>(distance);
  return ::SetFilePointerEx(Native(handle_), move, nullptr, FILE_END) != 0;
}

long ReadOnlyFile::Read(uint8_t* buffer, std::size_t count) {
  if (!IsOpen()) return -1;
  DWORD n = 0;
  const DWORD ask = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
  if (!::ReadFile(Native(handle_), buffer, ask, &n, nullptr)) return -1;
  return static_cast<long>(n);
}

}  // namespace downloader
