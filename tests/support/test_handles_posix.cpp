#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "support/test_handles.h"

namespace downloader::testing {

TestPipe CreateTestPipe() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return {};
  return {fds[0], fds[1]};
}

Handle CreateTestFile(const std::string& name) {
  return ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

bool WriteTestHandle(Handle handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(static_cast<int>(handle), bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void CloseTestHandle(Handle& handle) {
  if (handle != kInvalidHandle) ::close(static_cast<int>(handle));
  handle = kInvalidHandle;
}

}  // namespace downloader::testing
