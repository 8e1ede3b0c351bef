#pragma once

#include <string>

namespace downloader {

/// Full path (UTF-8) of the running program's own file; empty when the system cannot tell.
std::string ProgramFilePath();

/// The directory part of ProgramFilePath(), with its trailing separator.
std::string ProgramDirectory();

/// The file-name part of ProgramFilePath(), extension included.
std::string ProgramFileName();

}  // namespace downloader
