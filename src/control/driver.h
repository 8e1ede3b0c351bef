#pragma once

#include <string>

#include "run/exceptions.h"
#include "run/standard_handles.h"

namespace downloader {

/// The text that the driver reports for a command-line exception; empty for EHelp.
std::string CommandLineErrorText(const Exception& error);

/// The whole program: start-up, the command line, one request or the pipe loop. Returns
/// the exit code, 0 on every path the program handles; 1 instead when the environment has
/// DOWNLOADER_EXIT_STATUS=1 and the last status line went out on the error channel. A
/// lone --help or -h writes the help text to standard output, a lone --version the
/// version, and both return 0 at once; --probe is answered by AnswerProbe.
int RunDownloader(int argc, const char* const* argv, const StandardDescriptors& standard);

/// The program's entry behind the platform's own: the standard handles checked, the
/// window door installed, the arguments (from `argv`, or on Windows from the wide command
/// line) handed to RunDownloader. A failure nothing else caught gives exit code 70.
int LoaderMain(int argc, const char* const* argv);

}  // namespace downloader
