#pragma once

#include <string>
#include <string_view>

namespace downloader {

/// `text` as it may be shown on a terminal: every control character (C0 but TAB, DEL, and
/// Unicode's C1 controls) and every byte that is not part of valid UTF-8 is shown escaped
/// (\x1B, \u009B), so that a text from an image, a file or the system cannot retitle,
/// clear or write to the terminal (escape sequences, OSC 52). Printable UTF-8 passes as it
/// is. With `lineBreaks`, LF and the CR of a CR LF stay line breaks; without, they are
/// escaped too (\n, \r), for texts that must stay on one line.
std::string TerminalText(std::string_view text, bool lineBreaks);

}  // namespace downloader
