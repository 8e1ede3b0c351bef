// The window module's entry: finds out whether the named display can be reached (Qt ends
// the process when it cannot), starts Qt once, and opens the Qt window system.

#include <xcb/xcb.h>

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <cstdlib>
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

bool XDisplayAnswers() {
  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  const bool answers = xcb_connection_has_error(connection) == 0;
  xcb_disconnect(connection);
  return answers;
}

bool WaylandPluginInstalled() {
  const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + "/platforms");
  return !platforms.entryList({"libqwayland*.so"}, QDir::Files).isEmpty();
}

// The Qt platform for the named display: empty to leave the choice to Qt, because the
// user named one in QT_QPA_PLATFORM. False with `why` set when no display answers.
bool ChoosePlatform(std::string& platform, std::string& why) {
  if (!Environment("QT_QPA_PLATFORM").empty()) return true;
  const std::string x = Environment("DISPLAY");
  if (!x.empty()) {
    if (XDisplayAnswers()) {
      platform = "xcb";
      return true;
    }
    why = "cannot connect to the X display " + x;
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
    std::string platform;
    if (!qtui::ChoosePlatform(platform, *why)) return nullptr;
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
