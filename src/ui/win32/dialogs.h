#pragma once

#include <optional>
#include <string>

#include "ui/win32/windows_api.h"

namespace downloader {
struct OpenFileRequest;
}

namespace downloader::win32 {

/// The system's message box with one OK button, owned by `owner` (the loader's visible
/// window, so that it opens above the stay-on-top progress window) or by nobody: modal
/// for the whole program then. With `error`, the error icon.
void ShowMessageBox(HWND owner, const std::string& title, const std::string& text, bool error);

/// A modal dialog with `text` in a fixed-pitch font (its columns kept, tabs every eight
/// characters) and one OK button; Enter, Esc and the close box close it.
void ShowTextDialog(HWND owner, const std::string& title, const std::string& text);

/// The system's open-file dialog: `request`'s title, initial directory, filter (its first
/// entry selected) and default extension; the read-only box hidden, resizable. A typed
/// name need not exist, and browsing may change the current directory. The full name of
/// the chosen file, or nothing when cancelled.
std::optional<std::string> ShowOpenFileDialog(HWND owner, const OpenFileRequest& request);

}  // namespace downloader::win32
