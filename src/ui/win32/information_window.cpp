#include "ui/win32/information_window.h"

#include "ui/main_form.h"
#include "ui/win32/support.h"

namespace downloader::win32 {

namespace {

constexpr DWORD kStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME | WS_CLIPCHILDREN;

PixelRect Rect(const TControl& control) {
  return PixelRect{control.Left, control.Top, control.Width, control.Height};
}

}  // namespace

bool InformationWindow::Create(std::string& why) {
  window_ = CreateDialogWindow(kStyle, WS_EX_APPWINDOW, nullptr, &Procedure, this);
  if (window_ == nullptr) {
    why = "cannot open a window: " + SystemMessage(::GetLastError());
    return false;
  }
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    labels_[i] = CreateControl(window_, L"STATIC", Wide(kInformationLabels[i]).c_str(),
                               WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX);
  }
  for (HWND& field : fields_) {
    field = CreateControl(window_, L"EDIT", L"", WS_VISIBLE | ES_READONLY | ES_AUTOHSCROLL);
  }
  notes_ = CreateControl(window_, L"EDIT", L"",
                         WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0,
                         WS_EX_CLIENTEDGE);
  // Cancel first: it is first in the tab order and has the focus when the window opens.
  cancel_ = CreateControl(window_, L"BUTTON", Wide(kCancelCaption).c_str(),
                          WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDCANCEL);
  download_ = CreateControl(window_, L"BUTTON", Wide(kDownloadCaption).c_str(),
                            WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, IDOK);
  SetApplicationIcon(window_);
  Layout();
  return true;
}

void InformationWindow::Layout() {
  const int dpi = DpiOf(window_);
  const HFONT font = WindowFont(dpi);
  const ScreenRect area =
      WorkAreaAt(kInformationWindowPlace.left, kInformationWindowPlace.top, dpi);
  const int widthLimit = DesignedPixels(area.width, dpi) - kSizeableFrame.width;
  layout_ = LayOutInformationWindow(view_, Win32TextMetrics(dpi), widthLimit);
  for (HWND control : {notes_, cancel_, download_}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    ::SendMessageW(labels_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    Place(labels_[i], Rect(layout_.labels[i]), dpi, true);
  }
  // The panels are frames drawn on the window (PaintFrames), each field inside its own.
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const TControl& panel = layout_.panels[i];
    ::SendMessageW(fields_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    Place(fields_[i],
          PixelRect{panel.Left + layout_.field.Left, panel.Top + layout_.field.Top,
                    layout_.field.Width, layout_.field.Height},
          dpi, true);
  }
  Place(notes_, Rect(layout_.notes), dpi, true);
  Place(download_, Rect(layout_.download), dpi, true);
  Place(cancel_, Rect(layout_.cancel), dpi, true);
  SetClientSize(window_, layout_.clientWidth, layout_.clientHeight);
  ::InvalidateRect(window_, nullptr, TRUE);
}

void InformationWindow::PaintFrames(HDC dc) const {
  const int dpi = DpiOf(window_);
  for (const TControl& design : layout_.panels) {
    const PixelRect panel = Scale(Rect(design), dpi);
    RECT frame{panel.left, panel.top, panel.left + panel.width, panel.top + panel.height};
    ::DrawEdge(dc, &frame, BDR_SUNKENOUTER, BF_RECT);
  }
}

int InformationWindow::ShowModal(const InformationView& view) {
  ::SetWindowTextW(window_, Wide(view.caption).c_str());
  const std::string* texts[] = {&view.product, &view.firmware, &view.checksum, &view.compileDate};
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    ::SetWindowTextW(fields_[i], Wide(*texts[i]).c_str());
  }
  ::SetWindowTextW(notes_, WideLines(view.notes).c_str());
  view_ = view;
  Layout();
  // At the designed place the first time, where the user left it later; whole on the screen.
  PlaceInWorkArea(window_, kInformationWindowPlace.left, kInformationWindowPlace.top, placed_);

  result_ = 0;
  ::ShowWindow(window_, SW_SHOW);
  RecheckPlacementSoon(window_);
  ::SetForegroundWindow(window_);
  // Every display starts as the first: Cancel focused and default.
  ::SendMessageW(window_, DM_SETDEFID, IDCANCEL, 0);
  ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(cancel_), TRUE);
  RunModal(window_, nullptr, [this] { return result_ != 0; });
  ::ShowWindow(window_, SW_HIDE);
  return result_ == kModalOk ? kModalOk : kModalCancel;
}

INT_PTR CALLBACK InformationWindow::Procedure(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    Keep(window, reinterpret_cast<void*>(lParam));
    return FALSE;
  }
  InformationWindow* self = Self<InformationWindow>(window);
  return self != nullptr ? self->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR InformationWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) {
        if (LOWORD(wParam) == IDOK) result_ = kModalOk;
        if (LOWORD(wParam) == IDCANCEL) result_ = kModalCancel;
      }
      return TRUE;
    case WM_CLOSE:
      result_ = kModalCancel;
      return TRUE;
    case WM_CTLCOLORSTATIC:
      // The read-only memo keeps the window colour; the fields take the face colour.
      if (reinterpret_cast<HWND>(lParam) == notes_) {
        const HDC dc = reinterpret_cast<HDC>(wParam);
        ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
        ::SetBkColor(dc, ::GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<INT_PTR>(::GetSysColorBrush(COLOR_WINDOW));
      }
      return FALSE;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = ::BeginPaint(window_, &paint);
      PaintFrames(dc);
      ::EndPaint(window_, &paint);
      return TRUE;
    }
    case WM_SETCURSOR:
      if (ShowBusyCursor(lParam)) {
        ::SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_TIMER:
      return RecheckPlacement(window_, wParam) ? TRUE : FALSE;
    case WM_DPICHANGED: {
      const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
      ::SetWindowPos(window_, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
      Layout();
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace downloader::win32
