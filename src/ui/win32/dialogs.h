#pragma once

#include <optional>
#include <string>

#include "ui/win32/windows_api.h"

namespace downloader {
struct OpenFileRequest;
}

namespace downloader::win32 {

/// The system's error message box (error icon, its sound, one OK button) titled "Error",
/// owned by `owner` (the loader's visible window, so that it opens above the stay-on-top
/// progress window) or by nobody: modal for the whole program then.
void ShowErrorBox(HWND owner, const std::string& text);

/// How a text dialog shows its text.
enum class TextLook {
  kPlain,    ///< the window font, as a message box
  kColumns,  ///< a fixed-pitch font, its columns kept (tabs every eight characters)
};

/// A modal dialog with `text` and one OK button, wide enough for its whole caption under
/// a window manager's title bar; Enter, Esc and the close box close it. Owned as the
/// error box.
void ShowTextDialog(HWND owner, const std::string& title, const std::string& text, TextLook look);

/// The system's open-file dialog: `request`'s title, initial directory, filter (its first
/// entry selected) and default extension; the read-only box hidden, resizable. A typed
/// name need not exist, and browsing may change the current directory. The full name of
/// the chosen file, or nothing when cancelled.
std::optional<std::string> ShowOpenFileDialog(HWND owner, const OpenFileRequest& request);

}  // namespace downloader::win32
