#pragma once

// A desk of its own for a test: a virtual X server (Xvfb) of 1024 x 768 on the first free
// display, at a resolution set as a desktop sets it (Xft.dpi, which Qt scales by), with or
// without a window manager (jwm: frames, stacking, EWMH).

#include <map>
#include <memory>
#include <string>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace downloader::testing {

inline constexpr char kXvfb[] = "/usr/bin/Xvfb";
inline constexpr char kJwm[] = "/usr/bin/jwm";

class VirtualDesk {
 public:
  /// Starts the server, announcing `dpi` dots per inch; with `windowManager`, jwm with
  /// frames of a 4-pixel border and a 23-pixel caption, and waits until it manages the
  /// screen. Throws std::runtime_error when either does not start.
  VirtualDesk(int dpi, bool windowManager);
  ~VirtualDesk();
  VirtualDesk(const VirtualDesk&) = delete;
  VirtualDesk& operator=(const VirtualDesk&) = delete;

  /// What a program needs to reach this display, and only this one.
  std::map<std::string, std::string> Environment() const;
  const std::string& Display() const { return name_; }

 private:
  ChildProcess server_;
  TempDir runtime_;
  std::string name_;
  std::unique_ptr<ChildProcess> manager_;
};

}  // namespace downloader::testing
