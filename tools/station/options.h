#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace downloader::station {

/// The station's command line.
struct StationOptions {
  std::string image;
  std::optional<std::vector<int>> ports;  ///< --ports; without it, the port map's ports
  std::string report;                     ///< --report FILE; empty for none
  bool repeat = false;
  bool skipEmpty = false;
  /// --plain: one line per event even on a terminal that could show the live table.
  bool plain = false;
  /// --timeout: a loader silent this long is killed.
  std::chrono::seconds timeout{30};
  std::string loader;  ///< --loader FILE; empty for the one installed beside the station
  /// --expect-checksum N: the display checksum the image must have (0..65,535).
  std::optional<long> expectChecksum;
  /// --expect-sha256 HEX: the SHA-256 the image file must have, lower-case hexadecimal.
  std::string expectSha256;
  /// --follow-image: an image file changed between rounds is checked and flashed, not
  /// refused.
  bool followImage = false;
  /// --continuous: a production line, each port on a cycle of its own (no rounds).
  bool continuous = false;
  std::string log;     ///< --log FILE: the unit log (continuous mode); empty for none
  int count = 0;       ///< --count N: stop once N units have passed; 0 for no limit
  int retries = 0;     ///< --retries N: attempts after a communication failure, per unit
  bool quiet = false;  ///< --quiet: no bell on a failure
  bool help = false;
  bool version = false;
};

/// The help text, ending with a newline.
extern const char kStationUsage[];

/// Reads the arguments (without the program's name). Nothing, with `error` set to one line
/// for the user, on a usage error.
std::optional<StationOptions> ParseStationOptions(const std::vector<std::string>& args,
                                                  std::string& error);

}  // namespace downloader::station
