#pragma once

#include <string>

#include "run/exceptions.h"
#include "run/standard_handles.h"

namespace downloader {

/// The text that the driver reports for a command-line exception; empty for EHelp.
std::string CommandLineErrorText(const Exception& error);

/// The whole program: start-up, the command line, one request or the pipe loop. Returns
/// the exit code, 0 on every path the program handles.
int RunDownloader(int argc, const char* const* argv, const StandardDescriptors& standard);

}  // namespace downloader
