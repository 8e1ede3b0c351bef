#pragma once

#include <filesystem>
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

/// The port map folder the loader uses: $DOWNLOADER_PORTS when set, else the first that
/// exists of $XDG_CONFIG_HOME/downloader/ports (~/.config/downloader/ports) and
/// /etc/downloader/ports. Nothing when there is none.
std::optional<std::filesystem::path> PortMapDirectory();

/// The ports of a port map in number order: every entry named exactly COM1 to COM99,
/// except those hidden on purpose (a file whose first line is empty or "none"). A symbolic
/// link counts without being followed: the station never opens a device.
std::vector<int> PortMapPorts(const std::filesystem::path& directory);

}  // namespace downloader::station
