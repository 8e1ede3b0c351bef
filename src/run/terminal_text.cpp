#include "run/terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace downloader {

namespace {

// The length of the valid UTF-8 sequence at `at` (2 to 4), or 0.
std::size_t SequenceLength(std::string_view text, std::size_t at, uint32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  std::size_t length = 0;
  uint32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code = lead & 0x1F;
    least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code = lead & 0x0F;
    least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code = lead & 0x07;
    least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  // Overlong forms, UTF-16 surrogates and values beyond Unicode are no characters.
  if (code < least || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return 0;
  return length;
}

void AppendHex(std::string& out, const char* format, unsigned value) {
  char text[12];
  std::snprintf(text, sizeof text, format, value);
  out += text;
}

}  // namespace

std::string TerminalText(std::string_view text, bool lineBreaks) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<uint8_t>(text[i]);
    if (c == '\n') {
      out += lineBreaks ? "\n" : "\\n";
    } else if (c == '\r') {
      const bool crlf = lineBreaks && i + 1 < text.size() && text[i + 1] == '\n';
      out += crlf ? "\r" : "\\r";
    } else if (c == '\t' || (c >= 0x20 && c < 0x7F)) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x80) {
      AppendHex(out, "\\x%02X", c);
    } else {
      uint32_t code = 0;
      const std::size_t length = SequenceLength(text, i, code);
      if (length == 0) {
        AppendHex(out, "\\x%02X", c);
      } else {
        if (code >= 0x80 && code <= 0x9F) {
          AppendHex(out, "\\u%04X", code);
        } else {
          out.append(text.substr(i, length));
        }
        i += length;
        continue;
      }
    }
    ++i;
  }
  return out;
}

}  // namespace downloader
