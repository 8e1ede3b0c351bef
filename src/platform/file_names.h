#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace downloader {

/// File names travel through the loader as UTF-8 text on every platform (on Windows the
/// command line and every file call are converted at the system's edge). These two turn
/// such a name into a path of the system and back; on POSIX both are plain copies.
std::filesystem::path PathOf(std::string_view name);
std::string NameOf(const std::filesystem::path& path);

/// Whether the last part of `name` (after the last separator of the platform: "/" on
/// POSIX; "/", "\" and a drive's ":" on Windows) holds a full stop, as a default
/// extension rule needs it. A name that ends in a separator has no extension.
bool HasExtension(std::string_view name);

/// A file exists under `name` and is not a directory.
bool FileExists(const std::string& name);

}  // namespace downloader
