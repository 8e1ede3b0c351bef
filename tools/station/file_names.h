#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace downloader::station {

/// The station keeps every text in UTF-8, file names too. A path made from a plain string
/// would read it in the system's code page on Windows; these read and give UTF-8 on every
/// system.
inline std::filesystem::path PathOf(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string TextOf(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace downloader::station
