#pragma once

#include <string>
#include <string_view>

namespace downloader {

/// UTF-8 to UTF-16 and back, for the Windows backends' wide system calls. Invalid input
/// becomes U+FFFD; nothing throws.
std::wstring WideFromUtf8(std::string_view text);
std::string Utf8FromWide(std::wstring_view text);

/// The system's text for a Windows (or Winsock) error code, without its line end and final
/// full stop; "error N" when the system has none.
std::string SystemErrorText(unsigned long code);

}  // namespace downloader
