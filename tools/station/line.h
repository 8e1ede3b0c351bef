#pragma once

#include <string>
#include <vector>

#include "host.h"
#include "model.h"
#include "options.h"

namespace downloader::station {

/// What the station has made sure of before a production line starts.
struct LineSetup {
  std::string loader;         ///< the loader to run
  std::string image;          ///< the station's own copy of the image: what the loaders flash
  std::vector<int> ports;     ///< the fixtures
  ImageInfo info;             ///< the loader's /GetInfo answer, and the SHA-256 pinned
  std::string source;         ///< the image file as named: read again before every unit
  std::string loaderVersion;  ///< from the loader's --version; empty when it gave none
};

/// The production line (--continuous): every fixture on a cycle of its own (FixtureCycle),
/// its presence checks run as `downloader --probe COMn` and its units flashed with
/// `downloader /COMn /NoPrompts /Updates IMAGE`, never both at once on one port. Each unit
/// that ends is appended to the unit log and counted; the report is replaced after every
/// unit. Ends once --count units have passed, or the operator enters q, or a stop signal
/// comes (Ctrl-C stops the loaders; their units are logged as stopped); units being
/// flashed are finished first, no new one starts. Before every unit the image file is read
/// again: one that is no longer the image pinned ends the line the same way. Returns the
/// exit status: 0, 1 when a record could not be written, 2 when the image changed, 128 + N
/// after signal N.
int RunLine(const LineSetup& setup, const StationOptions& options, Host& host, Terminal& terminal);

}  // namespace downloader::station
