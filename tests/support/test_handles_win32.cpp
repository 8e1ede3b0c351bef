#include <windows.h>

#include "platform/wide_text.h"
#include "support/test_handles.h"

namespace downloader::testing {

namespace {

Handle Wrapped(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<Handle>(handle);
}

}  // namespace

TestPipe CreateTestPipe() {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  if (!::CreatePipe(&read, &write, nullptr, 0)) return {};
  return {Wrapped(read), Wrapped(write)};
}

Handle CreateTestFile(const std::string& name) {
  return Wrapped(::CreateFileW(WideFromUtf8(name).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool WriteTestHandle(Handle handle, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD n = 0;
    if (!::WriteFile(reinterpret_cast<HANDLE>(handle), bytes.data(),
                     static_cast<DWORD>(bytes.size()), &n, nullptr) ||
        n == 0) {
      return false;
    }
    bytes.remove_prefix(n);
  }
  return true;
}

void CloseTestHandle(Handle& handle) {
  if (handle != kInvalidHandle) ::CloseHandle(reinterpret_cast<HANDLE>(handle));
  handle = kInvalidHandle;
}

}  // namespace downloader::testing
