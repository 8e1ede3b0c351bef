#pragma once

#include <string>

namespace downloader::setup {

/// The user's PATH as Windows keeps it (HKCU\Environment\Path): folders separated by
/// semicolons. Folders compare as Windows compares them: letter case and a trailing
/// backslash do not count.

/// `path` with `folder` appended, or unchanged when it holds the folder already.
std::wstring WithFolder(const std::wstring& path, const std::wstring& folder);

/// `path` without any entry that is `folder`; every other entry, empty ones included, stays
/// as it was.
std::wstring WithoutFolder(const std::wstring& path, const std::wstring& folder);

}  // namespace downloader::setup
