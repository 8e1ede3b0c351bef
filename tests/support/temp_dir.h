#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace downloader::testing {

/// A fresh directory under the system's temporary folder, removed with everything in it
/// when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  /// path() / name, as a string.
  std::string File(std::string_view name) const;
  /// Writes `bytes` to path() / name and returns the full name.
  std::string Write(std::string_view name, std::string_view bytes) const;

 private:
  std::filesystem::path path_;
};

/// A name in the system's temporary folder, `prefix` and ten random characters; nothing
/// of that name is made.
std::filesystem::path UniqueTempName(std::string_view prefix);

/// The whole content of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::string& name);

}  // namespace downloader::testing
