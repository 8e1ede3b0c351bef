#include "platform/file_names.h"

#include <system_error>

namespace downloader {

// char8_t text converts to a path without any locale: a plain copy on POSIX, UTF-8 to
// UTF-16 on Windows.
std::filesystem::path PathOf(std::string_view name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::string NameOf(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

bool HasExtension(std::string_view name) {
  return NameOf(PathOf(name).filename()).find('.') != std::string::npos;
}

bool FileExists(const std::string& name) {
  if (name.empty()) return false;
  std::error_code error;
  const auto status = std::filesystem::status(PathOf(name), error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

}  // namespace downloader
