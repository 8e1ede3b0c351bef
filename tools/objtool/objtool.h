#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace downloader::objtool {

/// Exit codes of objtool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitInvalid = 1;  ///< an invalid image, description or file
inline constexpr int kExitUsage = 2;    ///< the command line itself is wrong

/// The whole tool: `args` without the program name. Results go to `out`, problems and
/// notes to `err`; returns the exit code.
///   make DESC.json -o OUT.obj      builds a sealed image from a description
///   info FILE [--json]             shows an object file or a self-contained loader's image
///   embed LOADER IMAGE -o OUT      appends the image to a copy of the loader
///   extract LOADER -o IMAGE        writes a self-contained loader's image to a file
int RunObjtool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace downloader::objtool
