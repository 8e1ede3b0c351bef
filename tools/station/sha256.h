#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace downloader::station {

/// SHA-256 (FIPS 180-4), fed in pieces of any size.
class Sha256 {
 public:
  Sha256();
  void Update(std::string_view bytes);
  /// The digest in lower-case hexadecimal (64 digits). Ends the hash: feed nothing after.
  std::string HexDigest();

 private:
  void Block(const uint8_t* block);

  std::array<uint32_t, 8> state_;
  std::array<uint8_t, 64> buffer_{};
  std::size_t buffered_ = 0;
  uint64_t length_ = 0;  // bytes fed so far
};

/// The SHA-256 of `bytes` in lower-case hexadecimal.
std::string Sha256Hex(std::string_view bytes);

}  // namespace downloader::station
