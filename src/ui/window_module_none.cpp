// Platforms without a window module: every window keeps its console form.

#include "ui/window_module.h"

namespace downloader {

WindowSystem* LoadWindowModule(std::string& why) {
  why.clear();
  return nullptr;
}

}  // namespace downloader
