#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <timeapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/wide_text.h"
#include "run/standard_handles.h"

namespace downloader {

namespace {

HANDLE Native(Handle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

Handle StandardHandle(DWORD which) {
  const HANDLE handle = ::GetStdHandle(which);
  // A process started without the handle has none (null), or the invalid value.
  return handle == nullptr || handle == INVALID_HANDLE_VALUE ? kInvalidHandle
                                                             : reinterpret_cast<Handle>(handle);
}

// What a person typed on the console, as UTF-8, not yet taken by a read. Console input is
// read as UTF-16 (a console's byte code page is not the loader's UTF-8) and handed out in
// pieces as asked. Main thread only.
std::string consolePending;

long ReadConsoleText(HANDLE console, char* buffer, std::size_t count) {
  while (consolePending.empty()) {
    wchar_t wide[512];
    DWORD n = 0;
    if (!::ReadConsoleW(console, wide, static_cast<DWORD>(std::size(wide)), &n, nullptr)) {
      return -1;
    }
    if (n == 0) return 0;
    consolePending = Utf8FromWide(std::wstring_view(wide, n));
    // Ctrl+Z at the start of a line ends the input, as it does for the C runtime.
    if (consolePending.front() == '\x1A') {
      consolePending.clear();
      return 0;
    }
  }
  const std::size_t n = std::min(count, consolePending.size());
  std::memcpy(buffer, consolePending.data(), n);
  consolePending.erase(0, n);
  return static_cast<long>(n);
}

}  // namespace

StandardDescriptors SecureStandardDescriptors() {
  // A handle that the process was started without stays absent: unlike a POSIX
  // descriptor, no file opened later can take its place.
  StandardDescriptors standard;
  standard.input = StandardInput() != kInvalidHandle;
  standard.output = StandardOutput() != kInvalidHandle;
  standard.error = StandardError() != kInvalidHandle;
  return standard;
}

void PrepareProcess() {
  // Status lines go out through WriteFile and need nothing; whatever still writes through
  // the C runtime must not turn LF into CR LF either.
  ::_setmode(::_fileno(stdin), _O_BINARY);
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
  // Sleeps otherwise last whole timer ticks of up to 15.6 ms: a 2 ms line pulse would
  // take 16. The system restores its rate when the process ends.
  ::timeBeginPeriod(1);
}

Handle StandardInput() {
  return StandardHandle(STD_INPUT_HANDLE);
}

Handle StandardOutput() {
  return StandardHandle(STD_OUTPUT_HANDLE);
}

Handle StandardError() {
  return StandardHandle(STD_ERROR_HANDLE);
}

long WriteToHandle(Handle handle, const char* bytes, std::size_t count) {
  if (handle == kInvalidHandle) return -1;
  DWORD written = 0;
  const DWORD ask = count > 0x10000 ? 0x10000 : static_cast<DWORD>(count);
  if (!::WriteFile(Native(handle), bytes, ask, &written, nullptr)) return -1;
  return static_cast<long>(written);
}

long ReadFromHandle(Handle handle, char* buffer, std::size_t count) {
  if (handle == kInvalidHandle) return -1;
  if (IsTerminal(handle)) return ReadConsoleText(Native(handle), buffer, count);
  const bool pipe = ::GetFileType(Native(handle)) == FILE_TYPE_PIPE;
  const DWORD ask = count > 0x10000 ? 0x10000 : static_cast<DWORD>(count);
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(Native(handle), buffer, ask, &n, nullptr)) {
      // The writer closed its end: the end of the input, as on POSIX.
      return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    }
    // A pipe delivers a zero-byte write as an empty read; only a file ends that way.
    if (n > 0 || !pipe) return static_cast<long>(n);
  }
}

bool IsTerminal(Handle handle) {
  DWORD mode = 0;
  return handle != kInvalidHandle && ::GetConsoleMode(Native(handle), &mode) != 0;
}

}  // namespace downloader
