#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace downloader {

/// Where a COM name leads.
struct PortTarget {
  enum class Kind {
    kNone,     ///< no such port: an open fails with error 2
    kHidden,   ///< hidden on purpose by an empty or "none" entry: also error 2
    kLocal,    ///< a local device; `device` is its path (symbolic links resolved when possible)
    kNetwork,  ///< an RFC 2217 port at `host`:`port`
  };
  Kind kind = Kind::kNone;
  std::string device;
  std::string host;
  uint16_t port = 0;

  // What the reason line of a port that cannot be used names (PortReason).
  std::string entry;  ///< the map entry that gave the target; empty when none did
  std::string named;  ///< what the entry names: its link's target or its first line
  bool link = false;  ///< the entry is a symbolic link
  /// Why a map named by $DOWNLOADER_PORTS cannot be read ("does not exist"); else empty.
  std::string mapProblem;
};

/// The environment variable that names the port map folder.
inline constexpr const char* kPortsVariable = "DOWNLOADER_PORTS";

/// Everything the resolution reads from the system, so tests can give their own.
struct PortMapEnvironment {
  std::optional<std::string> downloaderPorts;  ///< $DOWNLOADER_PORTS
  /// $XDG_CONFIG_HOME; on Windows %APPDATA%, which holds downloader\ports the same way.
  std::optional<std::string> xdgConfigHome;
  std::optional<std::string> home;  ///< $HOME (not on Windows)
  std::string systemDirectory = "/etc/downloader/ports";
  /// The serial ports the system reports (device paths, in any order).
  std::function<std::vector<std::string>()> enumeratePorts;
  /// The kernel's console devices, as /sys/class/tty/console/active names them ("ttyS0").
  std::vector<std::string> consoleNames;
  /// Windows: a name without an entry is the system's port of that name (\\.\COM<n>),
  /// instead of the n-th enumerated port.
  bool namedSystemPorts = false;
  /// Whether the folder or entry `path` of the machine-wide map (systemDirectory) may be
  /// believed, with `why` when not. Windows: only what the administrators or the system
  /// own, since any user can make %ProgramData%\downloader and files in it. Unset: all.
  std::function<bool(const std::string& path, std::string& why)> machineWideTrusted;
};

/// The environment of this process. POSIX: the variables above, libserialport's
/// enumeration and /sys/class/tty/console/active. Windows: DOWNLOADER_PORTS, %APPDATA% and
/// %ProgramData%\downloader\ports (what the administrators own of it), with the system's
/// own port names.
PortMapEnvironment SystemPortMapEnvironment();

/// The port map folder: $DOWNLOADER_PORTS when set (whether or not it exists), else the
/// first existing one of $XDG_CONFIG_HOME/downloader/ports (~/.config/downloader/ports)
/// and the system folder (when it may be believed). Nothing when none exists.
std::optional<std::string> PortMapDirectory(const PortMapEnvironment& env);

/// Resolves "COM<n>": the map entry named exactly so (a symbolic link to a device, or a
/// text file whose first line is a device path or rfc2217://HOST:PORT; empty or "none"
/// hides the port); without an entry the n-th enumerated port sorted by path, never
/// counting the console (Windows: the port of that name); nothing when $DOWNLOADER_PORTS
/// is set, since that map is complete.
PortTarget ResolvePort(const std::string& comName, const PortMapEnvironment& env);

/// What an entry file names, from its head (the map reads at most its first 4 KiB): its
/// first line without leading blanks and trailing blanks and CR is a device path or
/// rfc2217://HOST:PORT (kNone when that is malformed); an empty line or "none" hides the port.
PortTarget EntryTarget(std::string_view head);

/// The standard-error line for `comName` when its map entry cannot be used, else empty:
/// the map folder named by $DOWNLOADER_PORTS is missing or a file, the entry names neither
/// a device nor rfc2217://HOST:PORT, or the open found `openReason` ("which does not
/// exist", "which refuses the connection"). Nothing for a name without an entry or one
/// hidden on purpose.
std::string PortReason(const std::string& comName, const PortTarget& target,
                       const std::string& openReason);

/// The COM numbers that the port map's entries name and do not hide, in order; none
/// without a map. For the hint that a scan covers only some of them.
std::vector<int> MappedComNumbers(const PortMapEnvironment& env);

/// Parses "rfc2217://HOST:PORT" (HOST may be [v6-address]); false when it is not that.
bool ParseRfc2217Url(const std::string& text, std::string& host, uint16_t& port);

/// The ports that a given enumeration counts, in COM order (console left out).
std::vector<std::string> CountedPorts(std::vector<std::string> ports,
                                      const std::vector<std::string>& consoleNames);

}  // namespace downloader
