// The window module's entry: refuses a loader of another build, finds out whether the
// display Qt is to use can be reached (Qt ends the process when it cannot), starts Qt
// once, and opens the Qt window system.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/forms.h"
#include "ui/qt/qt_window_system.h"
#include "ui/window_module.h"

namespace downloader::qtui {

namespace {

// Stamped by the build into the loader and this module alike.
constexpr char kBuildIdentity[] = DOWNLOADER_BUILD_IDENTITY;

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// A connection to the X display named by DISPLAY, kept while Qt makes its own: an X
// server whose last client leaves resets itself and refuses connections for a moment.
class XConnection {
 public:
  XConnection() : connection_(xcb_connect(nullptr, nullptr)) {}
  ~XConnection() { xcb_disconnect(connection_); }
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;
  bool Answers() const { return xcb_connection_has_error(connection_) == 0; }

 private:
  xcb_connection_t* connection_;
};

bool WaylandPluginInstalled() {
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
  return !platforms.entryList({"libqwayland*.so"}, QDir::Files).isEmpty();
}

// The Wayland compositor's socket, as a Wayland client finds it: WAYLAND_DISPLAY (default
// "wayland-0"), an absolute path or a name in XDG_RUNTIME_DIR.
bool WaylandAnswers() {
  std::string socketPath = Environment("WAYLAND_DISPLAY");
  if (socketPath.empty()) socketPath = "wayland-0";
  if (socketPath.front() != '/') {
    const std::string runtime = Environment("XDG_RUNTIME_DIR");
    if (runtime.empty()) return false;
    socketPath = runtime + "/" + socketPath;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
  ::close(fd);
  return connected;
}

// The platform Qt is to start with, found reachable; the X connection that proved an X
// display answers is held until Qt has its own.
struct Platform {
  std::string name;  ///< with its options, as `-platform` takes it
  std::unique_ptr<XConnection> x;
};

// Whether `entry` (a platform name with options, "xcb" or "wayland-egl:option") can be
// reached; `why` says why not.
bool Reachable(const std::string& entry, Platform& platform, std::string& why) {
  const std::string name = entry.substr(0, entry.find(':'));
  if (name == "xcb") {
    auto x = std::make_unique<XConnection>();
    if (!x->Answers()) {
      const std::string display = Environment("DISPLAY");
      why = display.empty() ? "no X display is named (DISPLAY)"
                            : "cannot connect to the X display " + display;
      return false;
    }
    platform.x = std::move(x);
  } else if (name.starts_with("wayland")) {
    if (!WaylandPluginInstalled()) {
      why = "Qt has no platform plugin for Wayland here (qt6-wayland)";
      return false;
    }
    if (!WaylandAnswers()) {
      why = "cannot connect to the Wayland display " + Environment("WAYLAND_DISPLAY");
      return false;
    }
  }
  // The other platforms (offscreen, minimal, frame buffers) need no display server; Qt
  // itself finds out whether it has their plugins.
  platform.name = entry;
  return true;
}

// The first reachable platform: of QT_QPA_PLATFORM's list ("wayland;xcb") when the user
// named one, else X when DISPLAY is named, then Wayland when WAYLAND_DISPLAY is. False
// with `why` (the first reason) when none can be reached.
bool ChoosePlatform(Platform& platform, std::string& why) {
  std::vector<std::string> entries;
  const std::string named = Environment("QT_QPA_PLATFORM");
  for (std::size_t start = 0; start < named.size();) {
    std::size_t end = named.find(';', start);
    if (end == std::string::npos) end = named.size();
    if (end > start) entries.push_back(named.substr(start, end - start));
    start = end + 1;
  }
  if (entries.empty()) {
    if (!Environment("DISPLAY").empty()) entries.push_back("xcb");
    if (!Environment("WAYLAND_DISPLAY").empty()) entries.push_back("wayland");
  }
  for (const std::string& entry : entries) {
    std::string reason;
    if (Reachable(entry, platform, reason)) return true;
    if (why.empty()) why = reason;
  }
  if (why.empty()) why = "no display is named";
  return false;
}

}  // namespace

}  // namespace downloader::qtui

extern "C" __attribute__((visibility("default"))) downloader::WindowModuleAnswer
DownloaderOpenWindowModule(const char* identity, downloader::WindowSystem** windows,
                           std::string* why) {
  using namespace downloader;
  *windows = nullptr;
  if (identity == nullptr || std::strcmp(identity, qtui::kBuildIdentity) != 0) {
    *why = "is the window module of another build (" + std::string(qtui::kBuildIdentity) +
           "; this loader is " + (identity ? identity : "unknown") + ")";
    return WindowModuleAnswer::kOtherBuild;
  }
  if (QApplication::instance() == nullptr) {
    qtui::Platform platform;
    if (!qtui::ChoosePlatform(platform, *why)) return WindowModuleAnswer::kNoDisplay;
    // Qt keeps argc and argv for the life of the application, which is the process's.
    static std::string chosen = platform.name;
    static int argc = 3;
    static char name[] = "downloader";
    static char option[] = "-platform";
    static char* argv[] = {name, option, chosen.data(), nullptr};
    QApplication::setApplicationName(kApplicationTitle);
    new QApplication(argc, argv);
  }
  *windows = qtui::MakeQtWindowSystem().release();
  return WindowModuleAnswer::kOpened;
}
