#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

namespace downloader {

/// Files written where other users may write too (/tmp, a shared report folder, a port
/// map, a trace folder), so that nobody can make these programs write anywhere else:
///
/// - a file is made new, never through a link: POSIX O_CREAT | O_EXCL | O_NOFOLLOW in a
///   folder opened once and checked, a random name when it is to replace another, then a
///   rename over the old name (which replaces a link, never what it points to);
/// - an existing file is written to only when it is a plain file of this user with one
///   name: no link, FIFO, device or hard link (checked on the opened file, which is opened
///   without blocking, so a FIFO cannot hold the program);
/// - never in a folder owned by another user (root's folders are trusted) unless the folder
///   is sticky, as /tmp is, and the file is this user's; a folder named through a link
///   counts only when the link is this user's or root's.
///
/// Windows: no reparse point is followed and only disk files are written; who may write
/// a folder is left to its access control list.
///
/// Each failure comes back as a short text for the caller's message: "it is a link",
/// "the folder /tmp/x belongs to another user", or the system's text.

/// Who may own a folder that files are written into.
enum class FolderRule {
  kShared,   ///< this user, root, or anyone when the folder is sticky (/tmp)
  kOwnOnly,  ///< this user alone (a port map that loaders believe)
};

/// Whether files may be written into the existing folder `folder` under `rule`.
bool CheckFolder(const std::string& folder, FolderRule rule, std::string& error);

/// Writes `bytes` to `path` in one step: a reader sees the old content or the new, never a
/// part. A new file gets `mode` (POSIX permission bits, less the umask; an old file's are
/// not kept). Refuses a folder or another user's file at `path`.
bool ReplaceFileSafely(const std::string& path, std::string_view bytes, unsigned mode,
                       std::string& error, FolderRule rule = FolderRule::kShared);

/// Whether ReplaceFileSafely could write `path`: the same checks, and a file made and removed
/// beside it.
bool CanReplaceFileSafely(const std::string& path, std::string& error);

/// Opens `path` for appending bytes, making it with `mode` when missing; the programs this
/// process starts do not inherit it. nullptr with `error` set when it cannot be opened or
/// is no plain file of this user.
std::FILE* OpenForAppending(const std::string& path, unsigned mode, std::string& error);

/// Reads the plain file `path` whole into `bytes`, refusing a file longer than `limit`
/// bytes, a FIFO, a device or a folder without reading it. `followLinks` false refuses a
/// link too.
bool ReadBoundedFile(const std::string& path, std::size_t limit, std::string& bytes,
                     std::string& error, bool followLinks = true);

/// Who owns the file `path`, for a message: "user alice" ("user 1001" when the system has no
/// name for it); empty when it cannot be told (Windows).
std::string FileOwnerName(const std::string& path);

}  // namespace downloader
