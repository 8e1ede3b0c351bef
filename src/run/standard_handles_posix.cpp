#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "run/standard_handles.h"

namespace downloader {

StandardDescriptors SecureStandardDescriptors() {
  StandardDescriptors standard;
  bool* open[3] = {&standard.input, &standard.output, &standard.error};
  for (int fd = 0; fd < 3; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    *open[fd] = false;
    // open() returns the lowest free descriptor, which is this one.
    ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
  }
  return standard;
}

void PrepareProcess() {
  ::signal(SIGPIPE, SIG_IGN);
}

Handle StandardInput() {
  return STDIN_FILENO;
}

Handle StandardOutput() {
  return STDOUT_FILENO;
}

Handle StandardError() {
  return STDERR_FILENO;
}

long WriteToHandle(Handle handle, const char* bytes, std::size_t count) {
  ssize_t n;
  do {
    n = ::write(static_cast<int>(handle), bytes, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

long ReadFromHandle(Handle handle, char* buffer, std::size_t count) {
  ssize_t n;
  do {
    n = ::read(static_cast<int>(handle), buffer, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

bool IsTerminal(Handle handle) {
  return ::isatty(static_cast<int>(handle)) == 1;
}

}  // namespace downloader
