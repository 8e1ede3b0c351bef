#include "ui/console/console_io.h"

#include <unistd.h>

#include <cerrno>

namespace downloader {

namespace {

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
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
  out.push_back('\n');
  WriteAll(STDERR_FILENO, out);
}

bool StandardInputIsTerminal() {
  return ::isatty(STDIN_FILENO) == 1;
}

std::optional<std::string> AskOnTerminal(std::string_view question) {
  WriteAll(STDERR_FILENO, question);
  std::string line;
  for (;;) {
    char c;
    const ssize_t n = ::read(STDIN_FILENO, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
    if (c == '\n') break;
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string WithDefaultExtension(const std::string& name, const std::string& extension) {
  const auto slash = name.rfind('/');
  const auto dot = name.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return hasExtension || name.empty() || name.back() == '/' ? name : name + extension;
}

}  // namespace downloader
