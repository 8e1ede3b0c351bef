#include "support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace downloader::testing {

std::filesystem::path UniqueTempName(std::string_view prefix) {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  const char* const digits = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string name(prefix);
  for (int i = 0; i < 10; ++i) name += digits[random() % 36];
  return std::filesystem::temp_directory_path() / name;
}

TempDir::TempDir() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    path_ = UniqueTempName("downloader-test-");
    // Only the one who creates the folder gets it; a name taken already is tried anew.
    if (std::filesystem::create_directory(path_)) {
      std::filesystem::permissions(path_, std::filesystem::perms::owner_all);
      return;
    }
  }
  throw std::runtime_error("no temporary folder could be made");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::File(std::string_view name) const {
  return (path_ / name).string();
}

std::string TempDir::Write(std::string_view name, std::string_view bytes) const {
  const std::string full = File(name);
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return full;
}

std::string ReadFileBytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace downloader::testing
