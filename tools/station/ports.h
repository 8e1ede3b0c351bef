#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace downloader::station {

/// The loader's port numbers: COM1 to COM99.
inline constexpr int kFirstPort = 1;
inline constexpr int kLastPort = 99;

/// "COM7".
std::string PortName(int com);

/// Reads a list such as "COM1,COM3-COM16" (letter case free, "COM3-16" also accepted) into
/// port numbers in the order given. Nothing, with `error` set, when an item is not a port
/// or a range of ports, a number is outside 1..99, a range runs backwards, a port is named
/// twice, or the list is empty.
std::optional<std::vector<int>> ParsePortList(std::string_view list, std::string& error);

/// The port map folder the loader uses: the folder named by DOWNLOADER_PORTS when it is
/// set, else the first of the system's folders that exists (PortMapPlaces). Nothing when
/// there is none.
std::optional<std::filesystem::path> PortMapDirectory();

/// The ports of a port map in number order: every entry named exactly COM1 to COM99,
/// except those hidden on purpose (a file whose first line is empty or "none"). A symbolic
/// link counts without being followed: the station never opens a device.
std::vector<int> PortMapPorts(const std::filesystem::path& directory);

/// How a port map names one port.
enum class MapEntry {
  kPresent,
  kHidden,   ///< its entry's first line is empty or "none": the loader must not touch it
  kMissing,  ///< no entry
};
MapEntry PortMapEntryOf(const std::filesystem::path& directory, int com);

/// The port map is complete: it is named by DOWNLOADER_PORTS, so the loader reaches no port
/// it has no entry for. Otherwise a port without an entry is the system's own.
bool PortMapIsComplete();

/// The device a port map names for each of its ports: a link's target, or a file entry's
/// first line (a device path or an rfc2217:// URL). Read, never opened.
std::map<int, std::string> PortMapDevices(const std::filesystem::path& directory);

// The system's side of the port map, one backend per platform.

/// Where the loader looks for its port map. POSIX: $DOWNLOADER_PORTS, else
/// $XDG_CONFIG_HOME/downloader/ports (~/.config/downloader/ports), then
/// /etc/downloader/ports. Windows: %DOWNLOADER_PORTS%, else %APPDATA%\downloader\ports,
/// then %ProgramData%\downloader\ports.
struct PortMapPlaces {
  std::optional<std::filesystem::path> named;  ///< DOWNLOADER_PORTS: used even when missing
  std::vector<std::filesystem::path> folders;  ///< otherwise the first of these that exists
};
PortMapPlaces SystemPortMapPlaces();

/// One entry of a port map folder, as listed, never opened as a device.
struct PortMapEntry {
  std::string name;  ///< UTF-8
  bool link = false;
  bool file = false;
  std::string head;    ///< a file's first bytes (up to 4 KiB)
  std::string target;  ///< a link's target as written (POSIX; not followed)
};
/// The entries of `directory`; none when it cannot be read. Windows: entries named after
/// devices (COM1 ...) are read as the files they are, through the \\?\ form of the name.
std::vector<PortMapEntry> ListPortMap(const std::filesystem::path& directory);

}  // namespace downloader::station
