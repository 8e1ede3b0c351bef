#include <cstdio>

#include "support/status_text.h"

namespace downloader::testing {

std::string Visible(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    switch (c) {
      case 0x01:
        out += "<SOH>";
        break;
      case 0x04:
        out += "<EOT>";
        break;
      case '\r':
        out += "<CR>";
        break;
      case '\n':
        out += "<LF>\n";
        break;
      case '\t':
        out += "<TAB>";
        break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out;
}

std::string StatusLine(std::string_view prefix, std::string_view text, bool final) {
  std::string line = "\x01";
  line += prefix;
  line += text;
  line += "\r\n";
  if (final) line += "\x04";
  return line;
}

}  // namespace downloader::testing
