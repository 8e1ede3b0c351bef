#pragma once

#include <string_view>

namespace downloader::tools {

/// A command-line program started with no arguments on a console of its own, as a
/// double-click in Explorer starts it (Windows only), would flash its usage and close its
/// window at once. Then this says that it is a command-line program and how to run it,
/// waits for Enter (or the end of standard input), and returns true: the program ends with
/// its usage status. False at once on a console shared with a command prompt, with
/// arguments, and on POSIX systems, where a terminal outlives its programs.
bool ExplainedToADoubleClick(std::string_view program, int argumentCount);

}  // namespace downloader::tools
