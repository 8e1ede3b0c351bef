#pragma once

// What the emulator asks of its process, one backend per platform.

#include <optional>
#include <string>

namespace emulator {

/// A request from outside the program.
enum class Request {
  kStop,  ///< POSIX: SIGTERM, SIGINT or SIGHUP; Windows: Ctrl-C, Ctrl-Break, the console closing
  kDump,  ///< POSIX: SIGUSR1 (Windows has no such request)
};

/// Makes the requests reach WaitForRequest alone, and a write to a connection that has gone
/// a failed write, never the end of the program. Called first, before any thread starts
/// (POSIX: the signals are blocked in every thread and taken by sigwait).
void TakeRequests();

/// Makes the program's timed waits end at their time rather than up to 50 us later (Linux:
/// a timer slack of 1 ns), so that a paced module sends its bytes at a UART's byte times.
void PreciseTimers();

/// Waits for the next request.
Request WaitForRequest();

/// Waits for the next bytes on standard input. False at its end, and when it cannot be read
/// (POSIX: a terminal the program runs in the background of), never a stopped program.
bool ReadInput(std::string& chunk);

/// Makes WaitForRequest return kStop, as a stop signal would.
void RequestStop();

/// This process's id, for names of temporary files and the port map entries.
long ProcessId();

/// Whether process `pid` runs: a port map entry of a running emulator is kept.
bool ProcessRuns(long pid);

/// --detach, after TakeRequests and before any thread starts: the program goes on in a
/// served process of its own session, while the caller's process waits for its start-up
/// lines (Announce), passes them on with "pid N" last, and ends. Returns the caller's exit
/// code in the caller's process (0 once the served one is ready), nothing in the served one.
/// Windows: refused, with a message and exit code 2.
std::optional<int> Detach();

/// The usage's choice of how the program runs on: "[--until-stdin-closes | --detach]", or
/// "[--until-stdin-closes]" where Detach is refused.
extern const char kRunOnUsage[];

/// Writes the start-up lines: to standard output, or after Detach to the waiting caller,
/// after which the served process keeps nothing of the caller's terminal and pipes.
void Announce(const std::string& lines);

}  // namespace emulator
