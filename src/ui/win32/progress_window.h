#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "ui/win32/windows_api.h"

namespace downloader {
class TProgressForm;
}

namespace downloader::win32 {

/// The download progress window (ProgressForm) drawn from TProgressForm: a dialog border
/// with the close box only, always on top, every component at the model's place, size and
/// visibility (scaled with the monitor's resolution). The port grid is drawn as a string
/// grid: a sunken frame, the fixed header row and port column raised in the face colour,
/// rows 18 pixels high plus a 1-pixel line, the selected row highlighted, greyed rows in
/// the grey-text colour, a vertical scroll bar when the rows do not fit; clicks and keys go
/// to the model's grid handlers. Shown non-modally in progress mode and modally in
/// selection mode; the close box closes it (through the model) or ends the selection with
/// kModalCancel; Esc does nothing.
class ProgressWindow {
 public:
  /// Makes the window, hidden; false with `why` when the system gives no window.
  bool Create(std::string& why);

  void ShowModeless(TProgressForm& form);
  /// Runs the selection dialog until Download (kModalDownload) or the close box
  /// (kModalCancel). The window stays shown: closing it is the model's.
  int ShowModal(TProgressForm& form);
  void Close();
  /// Draws the model's state now, also while the main thread is busy elsewhere.
  void RepaintNow(TProgressForm& form);
  /// Takes what the grid handlers changed (selection, Download enabled) onto the screen.
  void ModelChanged();

  HWND Handle() const { return window_; }
  bool Visible() const { return window_ != nullptr && ::IsWindowVisible(window_); }

  /// The model a grid, gauge or indicator of this window draws (null before the first show).
  TProgressForm* Form() const { return form_; }

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Bind(TProgressForm& form);
  void Sync();
  void Show();

  HWND window_ = nullptr;
  TProgressForm* form_ = nullptr;
  bool placed_ = false;
  bool modal_ = false;
  int modalResult_ = 0;
  int fontDpi_ = 0;

  HWND grid_ = nullptr;
  HWND scrollBar_ = nullptr;
  HWND portStatusText_ = nullptr;
  HWND scanningText_ = nullptr;
  HWND downloadStatusText_ = nullptr;
  std::array<HWND, 8> progNames_{};
  std::array<HWND, 8> gauges_{};
  HWND txStatus_ = nullptr;
  HWND message_ = nullptr;
  HWND warningImage_ = nullptr;
  HWND downloadButton_ = nullptr;

  // What was last drawn, so that a repaint redraws only what changed.
  std::wstring gridPicture_;
  std::array<std::pair<int, int>, 8> drawnGauges_{};
  uint32_t drawnIndicator_ = 0xFFFFFFFF;
};

}  // namespace downloader::win32
