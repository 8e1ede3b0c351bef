#pragma once

#include <filesystem>
#include <string>

namespace downloader::testing {

/// Another user than the one the tests run as, who plants files where the programs write
/// (nobody, 65534). Only root can give files away.
inline constexpr unsigned kOtherUserId = 65534;

/// Whether this process can give files to the other user (it runs as root).
bool CanGiveFilesAway();

/// Gives `path` itself (a link, not what it points to) to the other user.
void GiveToOtherUser(const std::filesystem::path& path);

/// A new folder `name` in `parent` that belongs to the other user, with `mode` (0755, or
/// 01777 for a sticky folder like /tmp).
std::filesystem::path OtherUsersFolder(const std::filesystem::path& parent, const std::string& name,
                                       unsigned mode);

}  // namespace downloader::testing
