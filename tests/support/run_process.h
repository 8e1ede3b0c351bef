#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/status_text.h"

namespace downloader::testing {

/// Full path of one of the project's executables (downloader, module-emulator, objtool).
std::string BinaryPath(std::string_view name);

/// How to run a program for a test.
struct RunOptions {
  std::vector<std::string> args;             ///< without the program name
  std::map<std::string, std::string> env;    ///< added to (or replacing) the environment
  std::vector<std::string> unsetEnv;         ///< removed from the environment
  std::optional<std::string> stdinData;      ///< fed on a pipe; else /dev/null
  bool closeStdout = false;                  ///< start with descriptor 1 closed
  std::string workingDirectory;              ///< where it starts; empty: the test's own
  std::chrono::milliseconds timeout{60000};  ///< killed after this
};

/// What a finished program left: exit code (-signal when killed) and both outputs.
struct RunResult {
  int exitCode = -1;
  bool timedOut = false;
  std::string out;  ///< standard output, redirected to a file
  std::string err;  ///< standard error
};

/// Runs `program` with standard output and error redirected to files, and waits for it.
/// DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are removed unless `env` sets them, so a
/// run never reaches a real display.
RunResult RunProgram(const std::string& program, const RunOptions& options);

}  // namespace downloader::testing
