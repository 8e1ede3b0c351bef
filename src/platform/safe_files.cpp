#include "platform/safe_files_read.h"

namespace downloader {

bool ReadUpTo(std::size_t limit, unsigned long long size,
              const std::function<long(char* buffer, std::size_t count)>& read, std::string& bytes,
              std::string& error, const std::function<std::string()>& failure) {
  bytes.clear();
  const auto tooLong = [&](unsigned long long length) {
    error = "it has " + std::to_string(length) + " bytes, more than " + std::to_string(limit);
    bytes.clear();
    return false;
  };
  if (size > limit) return tooLong(size);
  // One byte more than allowed tells a file that grew since.
  bytes.resize(limit + 1);
  std::size_t got = 0;
  while (got < bytes.size()) {
    const long n = read(bytes.data() + got, bytes.size() - got);
    if (n < 0) {
      error = failure();
      bytes.clear();
      return false;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got > limit) return tooLong(got);
  bytes.resize(got);
  return true;
}

}  // namespace downloader
