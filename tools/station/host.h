#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace downloader::station {

/// Something the station waits for.
struct HostEvent {
  enum class Kind {
    kOutput,        ///< `bytes` from loader `id`'s standard output
    kDiagnostic,    ///< `bytes` from loader `id`'s standard error
    kEnded,         ///< loader `id` has ended (`how`: "exit status 3", "signal 9")
    kInterrupt,     ///< the station was asked to stop (Ctrl-C): `signal`
    kOperatorLine,  ///< a line on standard input (`bytes`, without the newline)
    kOperatorEnd,   ///< standard input has ended
    kResized,       ///< the terminal's size has changed
  };
  Kind kind = Kind::kOutput;
  int id = -1;
  std::string bytes;
  std::string how;
  int signal = 0;
};

/// The processes, signals and files the station uses. The system's implementation is the
/// one backend file per platform; tests give a scripted one.
class Host {
 public:
  using Clock = std::chrono::steady_clock;
  virtual ~Host() = default;

  /// Starts `program` with `args`, standard input empty, standard output and error each on
  /// a pipe the host reads, unattended: where variables name a display (DISPLAY,
  /// WAYLAND_DISPLAY, QT_QPA_PLATFORM), they are left out. An id from 0, or -1 with `error`
  /// set when it cannot be started.
  virtual int Start(const std::string& program, const std::vector<std::string>& args,
                    std::string& error) = 0;
  /// Asks a loader to end (SIGTERM); Kill ends it at once. Nothing once it has ended.
  virtual void Stop(int id) = 0;
  virtual void Kill(int id) = 0;
  /// Waits until at least one event or until `deadline`; returns the events (none at the
  /// deadline). A loader's output always comes before its kEnded. Standard input is read
  /// only while `watchOperator`.
  virtual std::vector<HostEvent> Wait(Clock::time_point deadline, bool watchOperator) = 0;
  virtual Clock::time_point Now() = 0;
  /// Replaces `path` so that a reader sees the old content or the new, never a part.
  virtual bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                                   std::string& error) = 0;
  /// False, with `error` set, when no file can be created where `path` would be.
  virtual bool CanCreate(const std::string& path, std::string& error) = 0;
  /// The loader to run when none is named: the one beside this program, else the name
  /// "downloader" looked up on the PATH.
  virtual std::string DefaultLoader() = 0;
  /// Appends `line` and a line end to `path` (created when missing) in one write, and
  /// returns once both are on the disk: a crash loses at most a line being written, left
  /// cut short at the file's end.
  virtual bool AppendLine(const std::string& path, std::string_view line, std::string& error) = 0;
  /// Cuts off what follows the last line end of `path`: a line a crash left cut short, so
  /// that the next one starts a line of its own. Its bytes in `dropped`; a file that does
  /// not exist is left so.
  virtual bool DropHalfLine(const std::string& path, std::size_t& dropped, std::string& error) = 0;
  /// This computer's name, as the network knows it.
  virtual std::string HostName() = 0;
  /// Reads the whole of the plain file `path` into `bytes`. False, with `error` set, when
  /// it cannot be read, is no plain file, or holds more than `limit` bytes. The system's
  /// hosts read it so on every platform (host.cpp).
  virtual bool ReadWholeFile(const std::string& path, std::size_t limit, std::string& bytes,
                             std::string& error);
  /// Writes `bytes` to a new file `name` in a folder of the station's own that no one else
  /// can write to, and gives its path. The folder and its files are removed when the host
  /// ends. False, with `error` set, when it cannot be written.
  virtual bool PrivateCopy(std::string_view bytes, const std::string& name, std::string& path,
                           std::string& error) = 0;
};

/// The station's output: the table or the plain lines, and its messages.
class Terminal {
 public:
  virtual ~Terminal() = default;
  /// Standard output is a terminal that can redraw lines in place.
  virtual bool Live() = 0;
  /// Standard input is a terminal (or console): a person answers the station's questions.
  virtual bool InputIsTerminal() = 0;
  virtual bool Colours() = 0;
  /// Its size in columns and lines (80 x 24 when unknown).
  virtual int Width() = 0;
  virtual int Height() = 0;
  /// Writes to standard output, or to standard error, at once.
  virtual void Out(std::string_view text) = 0;
  virtual void Err(std::string_view text) = 0;
  /// While a round runs on a live terminal, keys typed are not echoed (they would break
  /// the table); `false` restores the terminal. FlushInput drops what was typed so far.
  virtual void Quiet(bool quiet) = 0;
  virtual void FlushInput() = 0;
};

std::unique_ptr<Host> MakeSystemHost();
std::unique_ptr<Terminal> MakeSystemTerminal();
/// The station's arguments as UTF-8, without the program's name. POSIX: `argv` as given;
/// Windows: the wide command line (`argv` holds it in the ANSI code page).
std::vector<std::string> StationArguments(int argc, char** argv);

}  // namespace downloader::station
