#include "host.h"

#include "platform/safe_files.h"

namespace downloader::station {

bool Host::ReadWholeFile(const std::string& path, std::size_t limit, std::string& bytes,
                         std::string& error) {
  return ReadBoundedFile(path, limit, bytes, error);
}

}  // namespace downloader::station
