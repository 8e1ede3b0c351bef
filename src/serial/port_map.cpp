#include "serial/port_map.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>

#include "platform/file_names.h"
#include "platform/system.h"
#include "serial/hints.h"

namespace downloader {

namespace {

namespace fs = std::filesystem;

bool IsDirectory(const std::string& path) {
  std::error_code error;
  return fs::is_directory(PathOf(path), error);
}

// What the entry itself is, a symbolic link not followed; not_found when there is none.
fs::file_type EntryType(const fs::path& path) {
  std::error_code error;
  return fs::symlink_status(path, error).type();
}

std::string BaseName(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPathOr(const std::string& path) {
  std::error_code error;
  const fs::path real = fs::canonical(PathOf(path), error);
  return error ? path : NameOf(real);
}

// "COM<n>" with n a decimal number from 1; 0 otherwise.
int ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 12 || name.compare(0, 3, "COM") != 0) return 0;
  long n = 0;
  for (std::size_t i = 3; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n > 0 && n < 1000000 ? static_cast<int>(n) : 0;
}

// The head of an entry file: at most its first 4 KiB.
std::string ReadHead(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::string buffer(4096, '\0');
  in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
  buffer.resize(static_cast<std::size_t>(in.gcount()));
  return buffer;
}

PortTarget FromEntry(const fs::path& entry) {
  PortTarget target;
  const fs::file_type type = EntryType(entry);
  if (type == fs::file_type::symlink) {
    target.kind = PortTarget::Kind::kLocal;
    // A dangling link keeps its own name, so the open fails as a missing port.
    target.device = RealPathOr(NameOf(entry));
    std::error_code error;
    target.named = NameOf(fs::read_symlink(entry, error));
    target.link = true;
    target.entry = NameOf(entry);
    return target;
  }
  if (type != fs::file_type::regular) return target;
  errno = 0;
  if (!std::ifstream(entry, std::ios::binary) && errno == EACCES) {
    // Read as empty, it would hide the port without a word.
    const std::string name = NameOf(entry);
    WriteHint("downloader: no permission to read the port map entry " + name +
              "; make it readable: chmod a+r " + name);
    return target;
  }
  target = EntryTarget(ReadHead(entry));
  target.entry = NameOf(entry);
  return target;
}

// Whether `path` of the machine-wide map may be believed; one line on standard error, once
// a run for each path, when not.
bool Believed(const PortMapEnvironment& env, const std::string& path) {
  std::string why;
  if (!env.machineWideTrusted || env.machineWideTrusted(path, why)) return true;
  static std::mutex mutex;
  static std::set<std::string> told;
  std::lock_guard lock(mutex);
  if (told.insert(path).second) {
    WriteHint("downloader: the port map " + path + " is not used: " + why);
  }
  return false;
}

}  // namespace

PortTarget EntryTarget(std::string_view head) {
  std::string_view line = head.substr(0, head.find('\n'));
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
    line.remove_suffix(1);
  }
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  PortTarget target;
  if (line.empty() || line == "none") {
    target.kind = PortTarget::Kind::kHidden;
    return target;
  }
  target.named = line;
  if (line.starts_with("rfc2217://")) {
    if (ParseRfc2217Url(std::string(line), target.host, target.port)) {
      target.kind = PortTarget::Kind::kNetwork;
    }
    return target;
  }
  target.kind = PortTarget::Kind::kLocal;
  target.device = line;
  return target;
}

bool ParseRfc2217Url(const std::string& text, std::string& host, uint16_t& port) {
  const std::string scheme = "rfc2217://";
  if (text.compare(0, scheme.size(), scheme) != 0) return false;
  std::string rest = text.substr(scheme.size());
  // Options after the address (pyserial writes "?logging=..."), and a trailing slash.
  rest = rest.substr(0, rest.find_first_of("?/"));
  std::string hostPart;
  std::string portPart;
  if (!rest.empty() && rest[0] == '[') {
    const auto close = rest.find(']');
    if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
      return false;
    }
    hostPart = rest.substr(1, close - 1);
    portPart = rest.substr(close + 2);
  } else {
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos) return false;
    hostPart = rest.substr(0, colon);
    portPart = rest.substr(colon + 1);
  }
  if (hostPart.empty() || portPart.empty() || portPart.size() > 5) return false;
  long value = 0;
  for (char c : portPart) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return false;
  host = hostPart;
  port = static_cast<uint16_t>(value);
  return true;
}

std::vector<std::string> CountedPorts(std::vector<std::string> ports,
                                      const std::vector<std::string>& consoleNames) {
  std::sort(ports.begin(), ports.end());
  ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
  std::erase_if(ports, [&](const std::string& port) {
    const std::string name = BaseName(port);
    const std::string realName = BaseName(RealPathOr(port));
    return std::any_of(consoleNames.begin(), consoleNames.end(),
                       [&](const std::string& c) { return c == name || c == realName; });
  });
  return ports;
}

std::optional<std::string> PortMapDirectory(const PortMapEnvironment& env) {
  if (env.downloaderPorts) return *env.downloaderPorts;
  std::string user;
  if (env.xdgConfigHome && !env.xdgConfigHome->empty()) {
    user = *env.xdgConfigHome + "/downloader/ports";
  } else if (env.home && !env.home->empty()) {
    user = *env.home + "/.config/downloader/ports";
  }
  if (!user.empty() && IsDirectory(user)) return user;
  if (IsDirectory(env.systemDirectory) && Believed(env, env.systemDirectory)) {
    return env.systemDirectory;
  }
  return std::nullopt;
}

PortTarget ResolvePort(const std::string& comName, const PortMapEnvironment& env) {
  const int number = ComNumber(comName);
  if (number == 0) return {};
  if (const auto dir = PortMapDirectory(env); dir && !dir->empty()) {
    // A file, never the device that Windows reserves the name COM1..COM9 for.
    const fs::path entry = FileInFolder(*dir, comName);
    const fs::file_type type = EntryType(entry);
    if (type != fs::file_type::not_found && type != fs::file_type::none &&
        (*dir != env.systemDirectory || Believed(env, NameOf(entry)))) {
      return FromEntry(entry);
    }
  }
  // A map named by $DOWNLOADER_PORTS is complete: nothing outside it is ever touched.
  if (env.downloaderPorts) {
    PortTarget target;
    const std::string& dir = *env.downloaderPorts;
    if (dir.empty()) {
      target.mapProblem = "DOWNLOADER_PORTS is set but names no port map folder";
    } else if (!IsDirectory(dir)) {
      std::error_code error;
      const bool exists = fs::exists(PathOf(dir), error);
      target.mapProblem = "the port map " + dir + " named by DOWNLOADER_PORTS " +
                          (exists ? "is a file, not a folder" : "does not exist");
    }
    return target;
  }
  if (env.namedSystemPorts) {
    // The system names its ports itself; its device namespace reaches COM10 and above too.
    PortTarget target;
    target.kind = PortTarget::Kind::kLocal;
    target.device = "\\\\.\\" + comName;
    return target;
  }
  if (!env.enumeratePorts) return {};
  const auto ports = CountedPorts(env.enumeratePorts(), env.consoleNames);
  if (static_cast<std::size_t>(number) > ports.size()) return {};
  PortTarget target;
  target.kind = PortTarget::Kind::kLocal;
  target.device = ports[static_cast<std::size_t>(number) - 1];
  return target;
}

std::string PortReason(const std::string& comName, const PortTarget& target,
                       const std::string& openReason) {
  const std::string head = "downloader: cannot reach " + comName + ": ";
  if (!target.mapProblem.empty()) return head + target.mapProblem;
  if (target.entry.empty() || target.kind == PortTarget::Kind::kHidden) return {};
  std::string line = head + "its port map entry " + target.entry +
                     (target.link ? " links to " : " names ") + target.named + ", ";
  if (target.kind == PortTarget::Kind::kNone) {
    return line + "which is neither a device nor rfc2217://HOST:PORT";
  }
  return openReason.empty() ? std::string() : line + openReason;
}

std::vector<int> MappedComNumbers(const PortMapEnvironment& env) {
  std::vector<int> numbers;
  const auto dir = PortMapDirectory(env);
  if (!dir || dir->empty()) return numbers;
  std::error_code error;
  for (const auto& item : fs::directory_iterator(PathOf(*dir), error)) {
    const int number = ComNumber(NameOf(item.path().filename()));
    if (number == 0 || (*dir == env.systemDirectory && !Believed(env, NameOf(item.path())))) {
      continue;
    }
    const fs::file_type type = EntryType(item.path());
    // Read quietly: an entry that cannot be read is reported when its port is opened.
    if (type == fs::file_type::regular &&
        EntryTarget(ReadHead(item.path())).kind == PortTarget::Kind::kHidden) {
      std::ifstream readable(item.path());
      if (readable) continue;
    }
    if (type == fs::file_type::regular || type == fs::file_type::symlink) {
      numbers.push_back(number);
    }
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

}  // namespace downloader
