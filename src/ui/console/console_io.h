#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace downloader {

/// Writes a dialog text to standard error, CR LF pairs as line breaks, with a final line
/// break, its control characters shown escaped (TerminalText). Failures to write are
/// ignored.
void WriteDialogText(std::string_view text);

/// True when standard input is a terminal, so a question can be asked there.
bool StandardInputIsTerminal();

/// Asks on standard error (escaped as WriteDialogText does) and reads one line from standard input
/// (without its line end); nothing at end of input.
std::optional<std::string> AskOnTerminal(std::string_view question);

/// A typed file name with `extension` (".obj") added when the name has none, as an
/// open-file dialog with a default extension does. A full stop in a folder name does not
/// count.
std::string WithDefaultExtension(const std::string& name, const std::string& extension);

}  // namespace downloader
