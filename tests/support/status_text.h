#pragma once

#include <string>
#include <string_view>

namespace downloader::testing {

/// Control bytes made visible (<SOH>, <CR>, <LF>, <EOT>, \xNN), for failure messages.
std::string Visible(std::string_view bytes);

/// The bytes of one status line, as the loader frames it.
std::string StatusLine(std::string_view prefix, std::string_view text, bool final);

}  // namespace downloader::testing
