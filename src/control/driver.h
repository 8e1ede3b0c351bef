#pragma once

#include <string>

#include "control/exceptions.h"

namespace downloader {

/// Which of the standard descriptors were open when the process started.
struct StandardDescriptors {
  bool input = true;
  bool output = true;
  bool error = true;
};

/// Checks descriptors 0, 1 and 2 before anything opens a file, and puts /dev/null in the
/// place of a closed one, so that no later open turns a file into the status channel.
StandardDescriptors SecureStandardDescriptors();

/// The text that the driver reports for a command-line exception; empty for EHelp.
std::string CommandLineErrorText(const Exception& error);

/// The whole program: start-up, the command line, one request or the pipe loop. Returns
/// the exit code, 0 on every path the program handles.
int RunDownloader(int argc, const char* const* argv, const StandardDescriptors& standard);

}  // namespace downloader
