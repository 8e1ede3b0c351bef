#include "ui/win32/layout.h"

#include <algorithm>
#include <cstdint>

namespace downloader::win32 {

int Scale(int designPixels, int dpi) {
  const int64_t product = static_cast<int64_t>(designPixels) * dpi;
  const int64_t half = kDesignDpi / 2;
  const int64_t rounded =
      product >= 0 ? (product + half) / kDesignDpi : -((-product + half) / kDesignDpi);
  return static_cast<int>(rounded);
}

int Unscale(int devicePixels, int dpi) {
  if (dpi <= 0 || devicePixels < 0) return 0;
  // Scale(v) <= x  <=>  v * dpi + 48 < 96 * (x + 1)  <=>  v * dpi <= 96 * x + 47.
  const int64_t limit = static_cast<int64_t>(kDesignDpi) * devicePixels + kDesignDpi / 2 - 1;
  return static_cast<int>(limit / dpi);
}

PixelRect Scale(const PixelRect& design, int dpi) {
  const int left = Scale(design.left, dpi);
  const int top = Scale(design.top, dpi);
  return PixelRect{left, top, Scale(design.left + design.width, dpi) - left,
                   Scale(design.top + design.height, dpi) - top};
}

std::string OpenFileFilter(std::string_view pipeSeparated) {
  std::string filter(pipeSeparated);
  std::replace(filter.begin(), filter.end(), '|', '\0');
  if (!filter.empty()) filter.push_back('\0');
  filter.push_back('\0');
  if (filter.size() == 1) filter.push_back('\0');
  return filter;
}

std::string DefaultExtension(std::string_view extension) {
  if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
  return std::string(extension);
}

}  // namespace downloader::win32
