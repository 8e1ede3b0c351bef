#pragma once

#include <string>

namespace downloader {

/// Full path of the running program's own file (/proc/self/exe resolved); empty when the
/// system cannot tell.
std::string ProgramFilePath();

/// The directory part of ProgramFilePath(), with its trailing separator.
std::string ProgramDirectory();

/// The file-name part of ProgramFilePath(), extension included.
std::string ProgramFileName();

}  // namespace downloader
