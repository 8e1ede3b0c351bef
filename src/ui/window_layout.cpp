#include "ui/window_layout.h"

#include <algorithm>

namespace downloader {

TextSize FixedTextMetrics::Extent(std::string_view text, bool) const {
  TextSize size{0, lineHeight_};
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    std::string_view line = text.substr(start, end == std::string_view::npos ? end : end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size.width = std::max(size.width, static_cast<int>(line.size()) * charWidth_);
    if (end == std::string_view::npos) break;
    size.height += lineHeight_;
    start = end + 1;
  }
  return size;
}

int FixedTextMetrics::WrappedHeight(std::string_view text, int width, bool) const {
  const int perLine = std::max(width / std::max(charWidth_, 1), 1);
  int lines = 1;
  int used = 0;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(" \n", start);
    if (end == std::string_view::npos) end = text.size();
    const int word = static_cast<int>(end - start);
    if (used > 0 && used + 1 + word > perLine) {
      ++lines;
      used = 0;
    }
    used += (used > 0 ? 1 : 0) + word;
    // A word longer than a line takes as many lines as it needs.
    while (used > perLine) {
      ++lines;
      used -= perLine;
    }
    if (end < text.size() && text[end] == '\n') {
      ++lines;
      used = 0;
    }
    start = end + 1;
  }
  return lines * lineHeight_;
}

std::shared_ptr<const TextMetrics> DefaultTextMetrics() {
  static const auto metrics = std::make_shared<const FixedTextMetrics>(6, 13);
  return metrics;
}

std::string WithoutAccessKey(std::string_view caption) {
  std::string shown;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size()) ++i;
    shown += caption[i];
  }
  return shown;
}

std::string ExpandTabs(std::string_view text, int every) {
  std::string expanded;
  int column = 0;
  for (const char c : text) {
    if (c == '\t') {
      do {
        expanded += ' ';
      } while (++column % every != 0);
    } else {
      expanded += c;
      column = c == '\n' || c == '\r' ? 0 : column + 1;
    }
  }
  return expanded;
}

ScreenRect KeepInside(const ScreenRect& window, const ScreenRect& workArea) {
  ScreenRect placed = window;
  placed.left = std::max(std::min(window.left, workArea.Right() - window.width), workArea.left);
  placed.top = std::max(std::min(window.top, workArea.Bottom() - window.height), workArea.top);
  return placed;
}

}  // namespace downloader
