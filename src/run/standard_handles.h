#pragma once

#include <cstddef>

#include "run/report.h"

namespace downloader {

/// The standard handles of the process and transfers on any Handle, per platform.

/// Which of the standard descriptors were open when the process started.
struct StandardDescriptors {
  bool input = true;
  bool output = true;
  bool error = true;
};

/// Checks the standard descriptors (handles) before anything opens a file. On POSIX a
/// closed one gets /dev/null in its place, so that no later open turns a file into the
/// status channel; on Windows a missing handle simply stays missing.
StandardDescriptors SecureStandardDescriptors();

/// Prepares the process at start-up. POSIX: a write to a pipe whose reader has gone fails
/// instead of ending the process (SIGPIPE ignored). Windows: the C runtime's standard
/// streams are switched to binary, so that no line end is translated, and the system's
/// timer runs at 1 ms, so that short waits (Delay) end on time.
void PrepareProcess();

/// The process's standard input, output and error; kInvalidHandle when it has none.
Handle StandardInput();
Handle StandardOutput();
Handle StandardError();

/// Writes up to `count` bytes: the number written, or -1 when the write failed.
long WriteToHandle(Handle handle, const char* bytes, std::size_t count);

/// Reads up to `count` bytes, waiting until some come: the number read, 0 at the end of
/// the input (the writer has closed a pipe), or -1 when the read failed.
long ReadFromHandle(Handle handle, char* buffer, std::size_t count);

/// Whether the handle is a terminal (a console on Windows) that a person types into.
bool IsTerminal(Handle handle);

}  // namespace downloader
