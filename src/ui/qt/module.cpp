// The window module's entry: finds out whether the named display can be reached (Qt ends
// the process when it cannot), starts Qt once, and opens the Qt window system.

#include <xcb/xcb.h>

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>
#include <memory>
#include <string>

#include "ui/forms.h"
#include "ui/qt/qt_window_system.h"
#include "ui/window_module.h"

namespace downloader::qtui {

namespace {

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

// The Qt platform for the named display: empty to leave the choice to Qt, because the
// user named one in QT_QPA_PLATFORM. False with `why` set when no display answers.
bool ChoosePlatform(const XConnection* x, std::string& platform, std::string& why) {
  if (!Environment("QT_QPA_PLATFORM").empty()) return true;
  if (x != nullptr) {
    if (x->Answers()) {
      platform = "xcb";
      return true;
    }
    why = "cannot connect to the X display " + Environment("DISPLAY");
  }
  if (!Environment("WAYLAND_DISPLAY").empty()) {
    if (WaylandPluginInstalled()) {
      platform = "wayland";
      return true;
    }
    if (why.empty()) why = "Qt has no platform plugin for Wayland here (qt6-wayland)";
  }
  if (why.empty()) why = "no display is named";
  return false;
}

}  // namespace

}  // namespace downloader::qtui

extern "C" __attribute__((visibility("default"))) downloader::WindowSystem* DownloaderOpenWindows(
    int interface, std::string* why) {
  using namespace downloader;
  if (interface != kWindowModuleInterface) {
    *why = std::string(kWindowModuleFile) + " belongs to another version of the loader";
    return nullptr;
  }
  if (QApplication::instance() == nullptr) {
    const bool named = !qtui::Environment("DISPLAY").empty();
    const std::unique_ptr<qtui::XConnection> x(named ? new qtui::XConnection : nullptr);
    std::string platform;
    if (!qtui::ChoosePlatform(x.get(), platform, *why)) return nullptr;
    // Qt keeps argc and argv for the life of the application, which is the process's.
    static std::string chosen = platform;
    static int argc = 1;
    static char name[] = "downloader";
    static char option[] = "-platform";
    static char* argv[] = {name, option, chosen.data(), nullptr};
    if (!chosen.empty()) argc = 3;
    QApplication::setApplicationName(kApplicationTitle);
    new QApplication(argc, argv);
  }
  return qtui::MakeQtWindowSystem().release();
}
