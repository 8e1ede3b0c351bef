#pragma once

// What both backends of safe_files.h share.

#include <cstddef>
#include <functional>
#include <string>

namespace downloader {

/// Reads an opened file of `size` bytes (as the system tells it) whole into `bytes`
/// through `read` (the count read, 0 at the end, -1 on failure), refusing more than
/// `limit` bytes: before reading when `size` says so, after when the file grew meanwhile.
/// `failure` gives the text of a failed read.
bool ReadUpTo(std::size_t limit, unsigned long long size,
              const std::function<long(char* buffer, std::size_t count)>& read, std::string& bytes,
              std::string& error, const std::function<std::string()>& failure);

}  // namespace downloader
