#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/system.h"

namespace downloader {

namespace {

std::intptr_t OpenForReading(const char* path) {
  int fd;
  do {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

std::string RunningProgramPath() {
  std::string buffer(4096, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return buffer.substr(0, n);
    buffer.resize(buffer.size() * 2);
  }
}

std::filesystem::path FileInFolder(const std::string& directory, const std::string& name) {
  return std::filesystem::path(directory) / name;
}

std::optional<std::string> EnvironmentValue(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

void SetEnvironmentValue(const char* name, const std::string& value) {
  ::setenv(name, value.c_str(), 1);
}

std::vector<std::string> ProgramArguments(int argc, const char* const* argv) {
  return std::vector<std::string>(argv, argv + argc);
}

ReadOnlyFile::ReadOnlyFile(const std::string& name) : handle_(OpenForReading(name.c_str())) {}

ReadOnlyFile ReadOnlyFile::RunningProgram() {
  // /proc/self/exe names the running file even after it was renamed or replaced.
  return ReadOnlyFile(Opened{OpenForReading("/proc/self/exe")});
}

ReadOnlyFile::~ReadOnlyFile() {
  if (IsOpen()) ::close(static_cast<int>(handle_));
}

bool ReadOnlyFile::SeekFromEnd(uint64_t distance) {
  return IsOpen() &&
         ::lseek(static_cast<int>(handle_), -static_cast<off_t>(distance), SEEK_END) >= 0;
}

long ReadOnlyFile::Read(uint8_t* buffer, std::size_t count) {
  if (!IsOpen()) return -1;
  ssize_t n;
  do {
    n = ::read(static_cast<int>(handle_), buffer, count);
  } while (n < 0 && errno == EINTR);
  return n;
}

}  // namespace downloader
