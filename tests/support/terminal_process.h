#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace downloader::testing {

/// A program running on a pseudo-terminal of its own, as on an operator's terminal: its
/// controlling terminal, standard input, output and error. The test types on it and
/// changes its size. Killed when the object goes.
class TerminalProcess {
 public:
  /// Starts `program` with `args` on a terminal `columns` wide and `rows` high, with
  /// exactly the environment `env` (TERM as given there).
  TerminalProcess(const std::string& program, const std::vector<std::string>& args,
                  const std::map<std::string, std::string>& env, int columns, int rows = 40);
  ~TerminalProcess();
  TerminalProcess(const TerminalProcess&) = delete;
  TerminalProcess& operator=(const TerminalProcess&) = delete;

  /// A new size; the kernel tells the program with SIGWINCH.
  void Resize(int columns, int rows = 40);
  /// Types `keys` on the terminal ("\x03" is Ctrl-C, when the program lets the terminal
  /// read it so).
  bool Type(std::string_view keys);
  /// True once `text` has come after what an earlier Shows found; false when `timeout`
  /// passes first or the output ends.
  bool Shows(std::string_view text, std::chrono::milliseconds timeout);
  /// Reads the rest of its output and waits for its end (`timeout` at most, then it is
  /// killed): its exit code, or minus the signal that ended it.
  int Wait(std::chrono::milliseconds timeout);
  /// Whether it ends within `timeout`, reading its output meanwhile; it is not killed.
  bool Ends(std::chrono::milliseconds timeout);
  /// Everything it wrote so far.
  const std::string& Output() const { return output_; }

 private:
  bool ReadSome(std::chrono::milliseconds wait);

  pid_t pid_ = -1;
  int master_ = -1;
  bool ended_ = false;
  int status_ = 0;
  std::string output_;
  std::size_t seen_ = 0;
};

}  // namespace downloader::testing
