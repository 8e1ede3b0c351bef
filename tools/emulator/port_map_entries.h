#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace emulator {

/// The port map entries one emulator writes into a folder of this user's own: a text file
/// COM<n> whose first line is the module's rfc2217://127.0.0.1:PORT (all the loader reads)
/// and whose second, the owner line, names the emulator ("module-emulator PID"). Entries
/// are written safely (never through a link, readable to all) and go when the object does,
/// unless something else has replaced them since.
class PortMapEntries {
 public:
  /// `running(pid)` tells whether a process runs: an entry of a running emulator is never
  /// replaced. The folder is created when missing.
  PortMapEntries(std::string folder, long ownPid, std::function<bool(long pid)> running);
  ~PortMapEntries();
  PortMapEntries(const PortMapEntries&) = delete;
  PortMapEntries& operator=(const PortMapEntries&) = delete;

  /// Writes COM<com> in one step, replacing only an entry that an emulator which no longer
  /// runs left behind (its owner line names that emulator). False with `error` set, the
  /// entry left as it was, when it belongs to a running emulator or to nobody that can be
  /// seen (an entry written by hand, a link, a device), when the folder is another user's,
  /// or when it cannot be written.
  bool Write(int com, const std::string& url, std::string& error);

  /// Removes every entry written that still holds what was written.
  void RemoveAll();

 private:
  struct Written {
    std::filesystem::path path;
    std::string text;
  };
  std::string folder_;
  long ownPid_;
  std::function<bool(long)> running_;
  std::vector<Written> written_;
};

}  // namespace emulator
