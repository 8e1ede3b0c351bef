// Loading the window module on POSIX systems: looked up beside the loader, then in the
// private library folder relative to it (build tree and install tree alike), then in the
// folder the package installs it into; never through the current directory or the
// library search path.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "run/program_file.h"
#include "ui/window_module.h"

namespace downloader {

namespace {

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// A display exists when an X or Wayland display is named, or when the user chose Qt's
// platform. Whether it can be reached is the module's to find out.
bool DisplayNamed() {
  return Set("DISPLAY") || Set("WAYLAND_DISPLAY") || Set("QT_QPA_PLATFORM");
}

std::vector<std::string> Candidates() {
  std::vector<std::string> paths;
  const std::string directory = ProgramDirectory();
  if (!directory.empty()) {
    paths.push_back(directory + kWindowModuleFile);
    paths.push_back(directory + "../" DOWNLOADER_PRIVATE_LIBDIR "/" + kWindowModuleFile);
  }
  paths.push_back(DOWNLOADER_INSTALLED_LIBDIR "/downloader/" + std::string(kWindowModuleFile));
  return paths;
}

}  // namespace

WindowSystem* LoadWindowModule(std::string& why) {
  why.clear();
  if (!DisplayNamed()) return nullptr;

  const std::vector<std::string> paths = Candidates();
  for (const std::string& path : paths) {
    if (::access(path.c_str(), F_OK) != 0) continue;
    // Kept loaded to the end of the process: its window system lives that long.
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      const char* error = ::dlerror();
      why = "cannot load the window module: " + std::string(error ? error : path);
      return nullptr;
    }
    const auto open = reinterpret_cast<WindowModuleEntry>(::dlsym(module, kWindowModuleEntry));
    if (open == nullptr) {
      why = path + " is not a window module of this loader";
      return nullptr;
    }
    return open(kWindowModuleInterface, &why);
  }
  why = "no window module: " + std::string(kWindowModuleFile) +
        " is not beside the loader, in ../" DOWNLOADER_PRIVATE_LIBDIR
        " or in " DOWNLOADER_INSTALLED_LIBDIR "/downloader";
  return nullptr;
}

}  // namespace downloader
