// Loading the window module on POSIX systems: looked up beside the loader, then in the
// private library folder relative to it (build tree and install tree alike), then in the
// folder the package installs it into; never through the current directory or the
// library search path. Only a module stamped with this loader's build identity is used.

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "run/program_file.h"
#include "ui/window_module.h"

namespace downloader {

namespace {

// Stamped by the build into the loader and its module alike.
constexpr char kBuildIdentity[] = DOWNLOADER_BUILD_IDENTITY;

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

WindowSystem* LoadWindowModule(std::vector<std::string>& lines) {
  lines.clear();
  if (!DisplayNamed()) return nullptr;

  for (const std::string& path : Candidates()) {
    if (::access(path.c_str(), F_OK) != 0) continue;
    // Kept loaded to the end of the process, also when refused: its window system lives
    // that long, and a toolkit that a module brought in cannot safely be unloaded.
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      const char* error = ::dlerror();
      lines.push_back("cannot load the window module " +
                      (error ? std::string(error) : path + ": unknown error"));
      continue;
    }
    const auto open = reinterpret_cast<WindowModuleEntry>(::dlsym(module, kWindowModuleEntry));
    if (open == nullptr) {
      lines.push_back(path + " is not a window module of this loader");
      continue;
    }
    WindowSystem* windows = nullptr;
    std::string why;
    switch (open(kBuildIdentity, &windows, &why)) {
      case WindowModuleAnswer::kOpened:
        if (windows != nullptr) return windows;
        lines.push_back(path + " opened no windows");
        return nullptr;
      case WindowModuleAnswer::kOtherBuild:
        lines.push_back(path + " " + why);
        continue;
      case WindowModuleAnswer::kNoDisplay:
      default:
        lines.push_back(why);
        return nullptr;
    }
  }
  if (lines.empty()) {
    lines.push_back("no window module: " + std::string(kWindowModuleFile) +
                    " is not beside the loader, in ../" DOWNLOADER_PRIVATE_LIBDIR
                    " or in " DOWNLOADER_INSTALLED_LIBDIR "/downloader");
  }
  return nullptr;
}

}  // namespace downloader
