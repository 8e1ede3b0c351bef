#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "run/main_thread.h"

namespace downloader {

class TProgressForm;
struct InformationView;

/// What the open-file dialog is asked for.
struct OpenFileRequest {
  std::string title;             ///< "Open Object File"
  std::string initialDirectory;  ///< the current directory at the time of the call
  std::string defaultExtension;  ///< ".obj"
  std::string filter;            ///< "Object Files (*.obj)|*.obj|All Files (*.*)|*.*"
};

/// Modal results shared by every window.
inline constexpr int kModalOk = 1;
inline constexpr int kModalCancel = 2;
inline constexpr int kModalDownload = 4;

/// The windowing services the loader needs. The core talks only to this interface; one
/// implementation draws with Qt when a display exists, one with the Win32 API on Windows,
/// the console one serves runs without a display (dialog texts on standard error, questions on the
/// terminal when standard input is one, otherwise answered as Cancel). All operations run on the
/// main thread.
class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  /// Modal error dialog titled "Error" with one OK button; returns when it is closed.
  /// `reasons` (one a line, possibly none) are what the loader wrote to standard error for
  /// this error: shown under `text`, except by the console forms, whose dialog text goes
  /// to standard error after them.
  virtual void ErrorDialog(const std::string& text, const std::string& reasons) = 0;
  /// Modal message dialog with one OK button (the help text).
  virtual void MessageDialog(const std::string& text) = 0;
  /// Plain message box: a text and an OK button.
  virtual void MessageBox(const std::string& text) = 0;
  /// Open-file dialog; the full name of the chosen file, or nothing when cancelled.
  virtual std::optional<std::string> OpenFileDialog(const OpenFileRequest& request) = 0;
  /// The information window shown modally; kModalOk for Download, kModalCancel otherwise.
  virtual int ShowInformationWindow(const InformationView& view) = 0;

  /// The progress window: shown non-modally (progress mode), shown modally (selection mode,
  /// returns its modal result), closed (hidden), or repainted at once.
  virtual void ShowProgressWindow(TProgressForm& form) = 0;
  virtual int ShowProgressWindowModal(TProgressForm& form) = 0;
  virtual void CloseProgressWindow(TProgressForm& form) = 0;
  virtual void RepaintProgressWindow(TProgressForm& form) = 0;

  /// The default system beep.
  virtual void Beep() = 0;
  /// The application-wide busy (hourglass) cursor on or off.
  virtual void SetBusyCursor(bool busy) = 0;
  /// Brings the application's main window to the foreground.
  virtual void BringToForeground() = 0;
  /// One step of the toolkit's own event loop (nothing for the console).
  virtual void PumpEvents() = 0;
  /// Waits up to `limit` for something to do on the main thread: a posted handler or, for
  /// a toolkit that can wait on both, an event of its own. Never spins.
  virtual void WaitForEvents(std::chrono::milliseconds limit) { WaitForPostedHandler(limit); }
};

/// What the error dialogs of Qt and Win32 show: `text`, then, after an empty line, the
/// `reasons` ErrorDialog was given.
inline std::string WithReasons(const std::string& text, const std::string& reasons) {
  return reasons.empty() ? text : text + "\r\n\r\n" + reasons;
}

/// The implementation in use: the console one unless another was installed.
WindowSystem& Windows();

/// Installs an implementation (the Qt one, or a scripted fake in tests); nullptr restores
/// the console one. From then on ReportError shows its dialogs through ShowErrorDialog.
void SetWindowSystem(std::unique_ptr<WindowSystem> windows);

/// ReportError's dialog in the installed window system: the application to the foreground,
/// a beep, then the modal error dialog with `text` and its `reasons`.
void ShowErrorDialog(const std::string& text, const std::string& reasons);

/// The console implementation, for runs without a display.
std::unique_ptr<WindowSystem> MakeConsoleWindowSystem();

}  // namespace downloader
