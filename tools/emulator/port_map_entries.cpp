#include "port_map_entries.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>

#include "platform/file_names.h"
#include "platform/system.h"

namespace emulator {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kOwnUrl = "rfc2217://127.0.0.1:";
constexpr std::string_view kOwner = "module-emulator ";

std::string ReadSmall(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string text(4096, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
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
  const std::string name = "COM" + std::to_string(com);
  // A file, never the device that Windows reserves the name COM1..COM9 for.
  const fs::path path = downloader::FileInFolder(folder_, name);
  std::error_code status;
  const fs::file_type type = fs::symlink_status(path, status).type();
  if (type != fs::file_type::not_found && type != fs::file_type::none) {
    // Only an emulator's own entry may be replaced, and only when that emulator has gone.
    std::istringstream old(type == fs::file_type::regular ? ReadSmall(path) : std::string());
    std::string first;
    std::string second;
    std::getline(old, first);
    std::getline(old, second);
    if (!first.starts_with(kOwnUrl)) {
      error = name + " in " + folder_ +
              " is not an entry of module-emulator; remove it or use another --port-map folder";
      return false;
    }
    if (second.starts_with(kOwner)) {
      const long pid = std::strtol(second.c_str() + kOwner.size(), nullptr, 10);
      if (pid > 0 && pid != ownPid_ && running_(pid)) {
        error = name + " in " + folder_ + " belongs to module-emulator " + std::to_string(pid) +
                ", which still runs; stop it (kill " + std::to_string(pid) +
                ") or give this module another com=N";
        return false;
      }
    }
  }
  const std::string text = url + "\n" + std::string(kOwner) + std::to_string(ownPid_) + "\n";
  // Written whole under another name first, so a reader never sees half an entry.
  fs::path temporary = path;
  temporary += ".tmp" + std::to_string(ownPid_);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
      error = "cannot write the port map entry " + downloader::NameOf(path);
      return false;
    }
  }
  std::error_code renamed;
  fs::rename(temporary, path, renamed);
  if (renamed) {
    fs::remove(temporary, status);
    error =
        "cannot write the port map entry " + downloader::NameOf(path) + ": " + renamed.message();
    return false;
  }
  written_.push_back({path, text});
  return true;
}

void PortMapEntries::RemoveAll() {
  for (const Written& entry : written_) {
    std::error_code status;
    if (fs::symlink_status(entry.path, status).type() == fs::file_type::regular &&
        ReadSmall(entry.path) == entry.text) {
      fs::remove(entry.path, status);
    }
  }
  written_.clear();
}

}  // namespace emulator
