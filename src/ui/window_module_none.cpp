// Platforms without a window module: every window keeps its console form.

#include "ui/window_module.h"

namespace downloader {

WindowSystem* LoadWindowModule(std::vector<std::string>& lines) {
  lines.clear();
  return nullptr;
}

}  // namespace downloader
