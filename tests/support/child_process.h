#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace downloader::testing {

/// A program running beside the test, with its standard input and output on pipes and
/// its standard error shared with the test's. Killed when the object goes.
class ChildProcess {
 public:
  /// Starts `program` with `args`; `env` adds to (or replaces) the test's environment.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::map<std::string, std::string>& env = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }

  /// The next line of its standard output without the newline; nothing at end-of-file or
  /// when no whole line came within `timeout`.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
  /// What it writes on standard output from now until it closes it (the rest of a line
  /// already begun included); what came when `timeout` passes first.
  std::string ReadToEnd(std::chrono::milliseconds timeout);
  /// Writes to its standard input; false when it has closed it.
  bool Write(std::string_view text);
  void CloseStdin();

  /// Sends a signal (nothing when it has ended).
  void Signal(int signal);
  /// Whether it still runs.
  bool Running();
  /// Waits for its end: the exit code, or minus the signal that ended it. Killed with
  /// SIGKILL when it has not ended within `timeout` (then the result is -SIGKILL).
  int Wait(std::chrono::milliseconds timeout);

 private:
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
  std::string pending_;
  bool ended_ = false;
  int status_ = 0;
};

}  // namespace downloader::testing
