#include "ui/console/console_io.h"

#include "platform/file_names.h"
#include "run/standard_handles.h"
#include "run/terminal_text.h"

namespace downloader {

namespace {

void WriteAll(Handle handle, std::string_view bytes) {
  while (!bytes.empty()) {
    const long n = WriteToHandle(handle, bytes.data(), bytes.size());
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

}  // namespace

void WriteDialogText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  // Dialogs show an image's texts and names from the system.
  out = TerminalText(out, true);
  out.push_back('\n');
  WriteAll(StandardError(), out);
}

bool StandardInputIsTerminal() {
  return IsTerminal(StandardInput());
}

std::optional<std::string> AskOnTerminal(std::string_view question) {
  WriteAll(StandardError(), TerminalText(question, true));
  std::string line;
  for (;;) {
    char c;
    const long n = ReadFromHandle(StandardInput(), &c, 1);
    if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
    if (c == '\n') break;
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string WithDefaultExtension(const std::string& name, const std::string& extension) {
  // A name that ends in a separator (or is empty) names no file to add an extension to.
  const bool noFile = PathOf(name).filename().empty();
  return HasExtension(name) || noFile ? name : name + extension;
}

}  // namespace downloader
