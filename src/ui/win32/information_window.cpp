#include "ui/win32/information_window.h"

#include <algorithm>

#include "ui/main_form.h"
#include "ui/win32/support.h"

namespace downloader::win32 {

namespace {

// The designed window: outer size and screen position.
constexpr int kOuterWidth = 376;
constexpr int kOuterHeight = 361;
constexpr int kLeft = 362;
constexpr int kTop = 142;

// Labels size themselves to their text: at least as designed, wider where a font needs it.
struct Label {
  const char* caption;
  PixelRect place;
};
constexpr std::array<Label, 5> kLabels = {{
    {"Product:", {16, 16, 44, 17}},
    {"Firmware:", {16, 40, 49, 17}},
    {"Checksum:", {16, 64, 57, 17}},
    {"Compile Date:", {16, 88, 70, 17}},
    {"Notes:", {16, 112, 35, 17}},
}};
// Each field is framed by its panel: panels at left 90, the field 4, 2 inside.
constexpr std::array<int, 4> kPanelTops = {14, 38, 62, 86};
constexpr int kPanelLeft = 90;
constexpr int kPanelWidth = 263;
constexpr int kPanelHeight = 19;
constexpr PixelRect kFieldInPanel{4, 2, 257, 16};
constexpr PixelRect kNotes{16, 129, 338, 151};
constexpr PixelRect kDownloadButton{191, 295, 75, 25};
constexpr PixelRect kCancelButton{279, 295, 75, 25};

constexpr DWORD kStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_THICKFRAME | WS_CLIPCHILDREN;

PixelRect Panel(std::size_t index) {
  return PixelRect{kPanelLeft, kPanelTops[index], kPanelWidth, kPanelHeight};
}

}  // namespace

bool InformationWindow::Create(std::string& why) {
  window_ = CreateDialogWindow(kStyle, WS_EX_APPWINDOW, nullptr, &Procedure, this);
  if (window_ == nullptr) {
    why = "cannot open a window: " + SystemMessage(::GetLastError());
    return false;
  }
  for (std::size_t i = 0; i < kLabels.size(); ++i) {
    labels_[i] = CreateControl(window_, L"STATIC", Wide(kLabels[i].caption).c_str(),
                               WS_VISIBLE | SS_LEFTNOWORDWRAP | SS_NOPREFIX);
  }
  for (HWND& field : fields_) {
    field = CreateControl(window_, L"EDIT", L"", WS_VISIBLE | ES_READONLY | ES_AUTOHSCROLL);
  }
  notes_ = CreateControl(window_, L"EDIT", L"",
                         WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0,
                         WS_EX_CLIENTEDGE);
  // Cancel first: it is first in the tab order and has the focus when the window opens.
  cancel_ = CreateControl(window_, L"BUTTON", L"&Cancel",
                          WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDCANCEL);
  download_ = CreateControl(window_, L"BUTTON", L"&Download",
                            WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, IDOK);
  SetApplicationIcon(window_);
  Layout();
  return true;
}

void InformationWindow::Layout() {
  const int dpi = DpiOf(window_);
  const HFONT font = WindowFont(dpi);
  for (HWND control : {notes_, cancel_, download_}) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  for (std::size_t i = 0; i < labels_.size(); ++i) {
    ::SendMessageW(labels_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    PixelRect place = kLabels[i].place;
    place.width = std::max(place.width, TextWidth(kLabels[i].caption, font, dpi) + 1);
    Place(labels_[i], place, dpi, true);
  }
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const PixelRect panel = Panel(i);
    ::SendMessageW(fields_[i], WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    Place(fields_[i],
          PixelRect{panel.left + kFieldInPanel.left, panel.top + kFieldInPanel.top,
                    kFieldInPanel.width, kFieldInPanel.height},
          dpi, true);
  }
  Place(notes_, kNotes, dpi, true);
  Place(download_, kDownloadButton, dpi, true);
  Place(cancel_, kCancelButton, dpi, true);
  SetClientSize(window_, kOuterWidth - kSizeableFrame.width, kOuterHeight - kSizeableFrame.height);
  ::InvalidateRect(window_, nullptr, TRUE);
}

void InformationWindow::PaintFrames(HDC dc) const {
  const int dpi = DpiOf(window_);
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const PixelRect panel = Scale(Panel(i), dpi);
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
  if (!placed_) MoveTo(window_, kLeft, kTop);
  placed_ = true;

  result_ = 0;
  ::ShowWindow(window_, SW_SHOW);
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
