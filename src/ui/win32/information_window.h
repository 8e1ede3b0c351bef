#pragma once

#include <array>
#include <string>

#include "ui/main_form.h"
#include "ui/win32/windows_api.h"

namespace downloader::win32 {

/// The information window (MainForm) as a dialog of the system's class: outer size
/// 376 x 361 at 362, 142 (at 96 dpi, scaled with the monitor's resolution; laid out by the
/// model for its texts in the font at hand, kept inside the work area), the resizable
/// frame with system menu and minimize, four framed read-only fields, the Notes memo with
/// its vertical scroll bar, and Download and Cancel, Cancel first in the tab order,
/// focused and default when the window opens. Enter presses the focused button, Esc and
/// the close box cancel, Alt+D and Alt+C press their buttons.
class InformationWindow {
 public:
  /// Makes the window, hidden; false with `why` when the system gives no window.
  bool Create(std::string& why);
  /// Shows `view` modally: kModalOk for Download, kModalCancel for every other way out.
  int ShowModal(const InformationView& view);

  HWND Handle() const { return window_; }
  bool Visible() const { return window_ != nullptr && ::IsWindowVisible(window_); }

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Layout();
  void PaintFrames(HDC dc) const;

  HWND window_ = nullptr;
  std::array<HWND, 5> labels_{};
  std::array<HWND, 4> fields_{};
  HWND notes_ = nullptr;
  HWND download_ = nullptr;
  HWND cancel_ = nullptr;
  InformationView view_;
  InformationLayout layout_;
  bool placed_ = false;
  int result_ = 0;
};

}  // namespace downloader::win32
