#include "support/virtual_desk.h"

#include <sys/stat.h>
#include <xcb/xcb.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>

namespace downloader::testing {

namespace {

constexpr auto kLimit = std::chrono::seconds(30);

struct Connection {
  explicit Connection(const std::string& display) : x(xcb_connect(display.c_str(), nullptr)) {}
  ~Connection() { xcb_disconnect(x); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  xcb_window_t Root() const { return xcb_setup_roots_iterator(xcb_get_setup(x)).data->root; }
  xcb_atom_t Atom(const std::string& name) const {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        x, xcb_intern_atom(x, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(reply);
    return atom;
  }
  // A window manager that follows EWMH names its check window on the root window.
  bool Managed() const {
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        x, xcb_get_property(x, 0, Root(), Atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    const bool set = property != nullptr && xcb_get_property_value_length(property) > 0;
    std::free(property);
    return set;
  }

  xcb_connection_t* x;
};

}  // namespace

// Without -noreset the server starts afresh whenever its last client leaves, and turns away
// whoever connects meanwhile.
VirtualDesk::VirtualDesk(int dpi, bool windowManager)
    : server_(kXvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-dpi", std::to_string(dpi),
                      "-nolisten", "tcp", "-noreset"}) {
  const auto number = server_.ReadLine(kLimit);
  if (!number) throw std::runtime_error("Xvfb did not start");
  name_ = ":" + *number;
  ::chmod(runtime_.path().c_str(), 0700);
  {
    // The resolution as a desktop announces it to its programs: the X resource Xft.dpi.
    const Connection x(name_);
    if (xcb_connection_has_error(x.x) != 0) throw std::runtime_error("no X connection");
    const std::string resources = "Xft.dpi:\t" + std::to_string(dpi) + "\n";
    xcb_change_property(x.x, XCB_PROP_MODE_REPLACE, x.Root(), XCB_ATOM_RESOURCE_MANAGER,
                        XCB_ATOM_STRING, 8, static_cast<uint32_t>(resources.size()),
                        resources.data());
    // A round trip: the property is set before any program of the desk starts.
    std::free(xcb_get_input_focus_reply(x.x, xcb_get_input_focus(x.x), nullptr));
  }
  if (!windowManager) return;
  const std::string rc = runtime_.Write("jwmrc", R"(<?xml version="1.0"?>
<JWM>
  <WindowStyle><Font>DejaVu Sans:bold:pixelsize=11</Font><Width>4</Width><Height>23</Height></WindowStyle>
  <FocusModel>click</FocusModel>
</JWM>
)");
  manager_ =
      std::make_unique<ChildProcess>(kJwm, std::vector<std::string>{"-f", rc}, Environment());
  const auto deadline = std::chrono::steady_clock::now() + kLimit;
  while (!Connection(name_).Managed()) {
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("jwm did not start");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

VirtualDesk::~VirtualDesk() {
  manager_.reset();
  server_.Signal(SIGTERM);  // lets it remove its socket and lock file
  server_.Wait(kLimit);
}

std::map<std::string, std::string> VirtualDesk::Environment() const {
  return {{"DISPLAY", name_},
          {"WAYLAND_DISPLAY", ""},
          {"QT_QPA_PLATFORM", ""},
          {"XDG_RUNTIME_DIR", runtime_.path().string()}};
}

}  // namespace downloader::testing
