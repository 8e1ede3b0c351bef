#pragma once

#include <string>
#include <string_view>

namespace downloader::station {

/// The SHA-256 digest of `bytes` in lower-case hexadecimal (64 characters), as
/// `sha256sum` prints it.
std::string Sha256Hex(std::string_view bytes);

}  // namespace downloader::station
