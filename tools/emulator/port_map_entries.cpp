#include "port_map_entries.h"

#include <filesystem>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>

#include "platform/file_names.h"
#include "platform/safe_files.h"
#include "platform/system.h"

namespace emulator {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kOwnUrl = "rfc2217://127.0.0.1:";
constexpr std::string_view kOwner = "module-emulator ";
// An entry of ours is two short lines; anything longer is somebody else's.
constexpr std::size_t kMaxEntry = 256;
// The map is read by the loaders of every user of the machine; it names only ports.
constexpr unsigned kEntryMode = 0644;

// The PID on an entry's owner line when the entry is an emulator's own: its first line
// the URL of a module on this machine, its second "module-emulator PID", nothing more.
std::optional<long> OwnerOf(const std::string& text) {
  std::istringstream lines(text);
  std::string first;
  std::string second;
  std::string rest;
  std::getline(lines, first);
  std::getline(lines, second);
  if (std::getline(lines, rest) || !first.starts_with(kOwnUrl) || !second.starts_with(kOwner)) {
    return std::nullopt;
  }
  const std::string digits = second.substr(kOwner.size());
  if (digits.empty() || digits.size() > 10 ||
      digits.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  return std::stol(digits);
}

// What the entry at `path` holds, when it is a plain file small enough to be an entry.
std::optional<std::string> ReadEntry(const fs::path& path) {
  std::string text;
  std::string ignored;
  if (!downloader::ReadBoundedFile(downloader::NameOf(path), kMaxEntry, text, ignored, false)) {
    return std::nullopt;
  }
  return text;
}

}  // namespace

PortMapEntries::PortMapEntries(std::string folder, long ownPid,
                               std::function<bool(long pid)> running)
    : folder_(std::move(folder)), ownPid_(ownPid), running_(std::move(running)) {
  std::error_code ignored;
  fs::create_directories(downloader::PathOf(folder_), ignored);
}

PortMapEntries::~PortMapEntries() {
  RemoveAll();
}

bool PortMapEntries::Write(int com, const std::string& url, std::string& error) {
  std::string problem;
  // Loaders believe the map: nobody else may be able to change what this one writes.
  if (!downloader::CheckFolder(folder_, downloader::FolderRule::kOwnOnly, problem)) {
    error = "cannot use the port map " + folder_ + ": " + problem +
            "; give a folder of your own (mktemp -d)";
    return false;
  }
  const std::string name = "COM" + std::to_string(com);
  // A file, never the device that Windows reserves the name COM1..COM9 for.
  const fs::path path = downloader::FileInFolder(folder_, name);
  const std::string file = downloader::NameOf(path);
  std::error_code status;
  const fs::file_type type = fs::symlink_status(path, status).type();
  if (type != fs::file_type::not_found && type != fs::file_type::none) {
    // Only an emulator's own entry may be replaced, and only when that emulator has gone.
    const auto text = ReadEntry(path);
    const auto owner = text ? OwnerOf(*text) : std::nullopt;
    if (!owner) {
      error = file +
              " is not an entry of module-emulator: left as it is; remove it or use another "
              "--port-map folder";
      return false;
    }
    if (*owner != ownPid_ && running_(*owner)) {
      error = file + " belongs to module-emulator " + std::to_string(*owner) +
              ", which still runs; stop it (kill " + std::to_string(*owner) +
              ") or give this module another com=N";
      return false;
    }
  }
  const std::string text = url + "\n" + std::string(kOwner) + std::to_string(ownPid_) + "\n";
  if (!downloader::ReplaceFileSafely(file, text, kEntryMode, problem,
                                     downloader::FolderRule::kOwnOnly)) {
    error = "cannot write the port map entry " + file + ": " + problem;
    return false;
  }
  written_.push_back({path, text});
  return true;
}

void PortMapEntries::RemoveAll() {
  for (const Written& entry : written_) {
    std::error_code status;
    if (ReadEntry(entry.path) == entry.text) fs::remove(entry.path, status);
  }
  written_.clear();
}

}  // namespace emulator
