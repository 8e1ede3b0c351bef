#include "ports.h"

#include <algorithm>
#include <map>
#include <set>
#include <system_error>

namespace downloader::station {

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

// "COM12" (any letter case) or, when `bare` is allowed, "12": the number, or 0.
int PortNumber(std::string_view s, bool bare) {
  if (s.size() >= 3 && (s[0] == 'C' || s[0] == 'c') && (s[1] == 'O' || s[1] == 'o') &&
      (s[2] == 'M' || s[2] == 'm')) {
    s.remove_prefix(3);
  } else if (!bare) {
    return 0;
  }
  if (s.empty() || s.size() > 2) return 0;
  int n = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return 0;
    n = n * 10 + (c - '0');
  }
  return n >= kFirstPort && n <= kLastPort ? n : 0;
}

// The first line of a map entry, trimmed; how the loader reads it.
std::string FirstLine(std::string_view head) {
  return std::string(Trim(head.substr(0, head.find('\n'))));
}

// The entries named exactly as the loader looks for them (upper case, no leading zero), by
// number: whether each is hidden on purpose.
std::map<int, bool> PortMapNames(const std::filesystem::path& directory) {
  std::map<int, bool> names;
  for (const PortMapEntry& entry : ListPortMap(directory)) {
    const int com = PortNumber(entry.name, false);
    if (com == 0 || entry.name != PortName(com)) continue;
    if (entry.link) {
      names[com] = false;
    } else if (entry.file) {
      const std::string line = FirstLine(entry.head);
      names[com] = line.empty() || line == "none";
    }
  }
  return names;
}

}  // namespace

std::string PortName(int com) {
  return "COM" + std::to_string(com);
}

std::optional<std::vector<int>> ParsePortList(std::string_view list, std::string& error) {
  std::vector<int> ports;
  std::set<int> seen;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view item = Trim(list.substr(0, comma));
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    const std::size_t dash = item.find('-');
    const int first = PortNumber(item.substr(0, dash), false);
    const int last =
        dash == std::string_view::npos ? first : PortNumber(item.substr(dash + 1), true);
    if (first == 0 || last == 0) {
      error = "'" + std::string(item) + "' is not a port (COM1 to COM99) or a range of ports";
      return std::nullopt;
    }
    if (last < first) {
      error = "the range '" + std::string(item) + "' runs backwards";
      return std::nullopt;
    }
    for (int com = first; com <= last; ++com) {
      if (!seen.insert(com).second) {
        error = PortName(com) + " is named twice";
        return std::nullopt;
      }
      ports.push_back(com);
    }
  }
  if (ports.empty()) {
    error = "the port list is empty";
    return std::nullopt;
  }
  return ports;
}

std::optional<std::filesystem::path> PortMapDirectory() {
  PortMapPlaces places = SystemPortMapPlaces();
  if (places.named) return places.named;
  for (const auto& folder : places.folders) {
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) return folder;
  }
  return std::nullopt;
}

std::map<int, std::string> PortMapDevices(const std::filesystem::path& directory) {
  std::map<int, std::string> devices;
  for (const PortMapEntry& entry : ListPortMap(directory)) {
    const int com = PortNumber(entry.name, false);
    if (com == 0 || entry.name != PortName(com)) continue;
    if (entry.link && !entry.target.empty()) devices[com] = entry.target;
    if (entry.file) devices[com] = FirstLine(entry.head);
  }
  return devices;
}

std::vector<int> PortMapPorts(const std::filesystem::path& directory) {
  std::vector<int> ports;
  for (const auto& [com, hidden] : PortMapNames(directory)) {
    if (!hidden) ports.push_back(com);
  }
  return ports;
}

MapEntry PortMapEntryOf(const std::filesystem::path& directory, int com) {
  const auto names = PortMapNames(directory);
  const auto it = names.find(com);
  if (it == names.end()) return MapEntry::kMissing;
  return it->second ? MapEntry::kHidden : MapEntry::kPresent;
}

bool PortMapIsComplete() {
  return SystemPortMapPlaces().named.has_value();
}

}  // namespace downloader::station
