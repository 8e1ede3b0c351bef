// The port map's folders and entries on POSIX systems.

#include <cstdlib>
#include <fstream>
#include <system_error>

#include "ports.h"

namespace downloader::station {

namespace {

constexpr std::size_t kHeadBytes = 4096;

}  // namespace

PortMapPlaces SystemPortMapPlaces() {
  PortMapPlaces places;
  if (const char* ports = std::getenv("DOWNLOADER_PORTS")) {
    places.named = std::filesystem::path(ports);
    return places;
  }
  std::filesystem::path config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg != '\0') {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    config = std::filesystem::path(home) / ".config";
  }
  if (!config.empty()) places.folders.push_back(config / "downloader" / "ports");
  places.folders.push_back("/etc/downloader/ports");
  return places;
}

std::vector<PortMapEntry> ListPortMap(const std::filesystem::path& directory) {
  std::vector<PortMapEntry> entries;
  std::error_code ec;
  for (const auto& item : std::filesystem::directory_iterator(directory, ec)) {
    PortMapEntry entry;
    entry.name = item.path().filename().string();
    entry.link = item.is_symlink(ec);
    entry.file = !entry.link && item.is_regular_file(ec);
    if (entry.link) entry.target = std::filesystem::read_symlink(item.path(), ec).string();
    if (entry.file) {
      std::ifstream in(item.path(), std::ios::binary);
      entry.head.resize(kHeadBytes);
      in.read(entry.head.data(), static_cast<std::streamsize>(entry.head.size()));
      entry.head.resize(static_cast<std::size_t>(in.gcount()));
    }
    entries.push_back(std::move(entry));
  }
  return entries;
}

}  // namespace downloader::station
