#pragma once

// What the emulator asks of its process, one backend per platform.

namespace emulator {

/// A request from outside the program.
enum class Request {
  kStop,  ///< POSIX: SIGTERM or SIGINT; Windows: Ctrl-C, Ctrl-Break, the console closing
  kDump,  ///< POSIX: SIGUSR1 (Windows has no such request)
};

/// Makes the requests reach WaitForRequest alone, and a write to a connection that has gone
/// a failed write, never the end of the program. Called first, before any thread starts
/// (POSIX: the signals are blocked in every thread and taken by sigwait).
void TakeRequests();

/// Waits for the next request.
Request WaitForRequest();

/// From now on, the end of standard input is a stop request: a test that dies takes its
/// emulator with it.
void StopAtEndOfInput();

/// This process's id, for names of temporary files.
long ProcessId();

}  // namespace emulator
