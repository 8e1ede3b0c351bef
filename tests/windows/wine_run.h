#pragma once

// Running Windows programs under Wine from a Linux test, beside the Linux loader: where
// the Windows programs are (DOWNLOADER_WINDOWS_BIN, set by the Windows build's CTest), how
// to run them (WINE_RUN, WINE_RUN_PREFIX), Linux file names as they see them, and the
// comparison of two loaders' status lines.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/run_process.h"

namespace downloader::e2e {

/// An environment variable, or empty.
std::string Setting(const char* name);

/// The name of a Linux file as a Windows program under Wine sees it.
std::string WindowsPath(const std::filesystem::path& path);

/// A program of the Windows build; a full Linux name stays as it is.
std::string WindowsProgram(std::string_view name);

/// wine-run's arguments for a Windows program.
std::vector<std::string> WineArguments(std::string_view program, std::vector<std::string> args);

/// The status lines of one run: the scan's lines sorted (ports report as their probes
/// end), the rest as they came.
std::vector<std::string> Lines(const std::string& out);

/// Both loaders ended by themselves with exit code 0 and wrote the same status lines, the
/// last of which holds `last`.
void ExpectSameRun(const testing::RunResult& windows, const testing::RunResult& linux,
                   std::string_view last);

}  // namespace downloader::e2e
