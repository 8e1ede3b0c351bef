#include "ui/win32/dialogs.h"

#include <algorithm>
#include <vector>

#include "platform/wide_text.h"
#include "ui/win32/support.h"
#include "ui/window_system.h"

namespace downloader::win32 {

namespace {

constexpr int kMargin = 12;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonGap = 12;
// A file name as long as the system allows (the \\?\ form of a long path).
constexpr std::size_t kFileNameCapacity = 32768;

// A title bar's caption font, larger than the windows' own on most desktops, and beside
// the caption the frame's icon, up to three buttons and margins.
constexpr int kTitleFontHeight = -16;
constexpr int kTitleBarExtras = 120;

// The room a caption needs in a title bar, in pixels at `dpi`.
int CaptionRoom(const std::wstring& caption, int dpi) {
  const HFONT font = ::CreateFontW(Scale(kTitleFontHeight, dpi), 0, 0, 0, FW_BOLD, FALSE, FALSE,
                                   FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                   DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
  const HDC dc = ::CreateCompatibleDC(nullptr);
  const HGDIOBJ previous = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
  ::SelectObject(dc, previous);
  ::DeleteDC(dc);
  ::DeleteObject(font);
  return size.cx + Scale(kTitleBarExtras, dpi);
}

// A static text and OK, laid out around the text; where the work area is too small for the
// whole text, the text scrolls in a box as large as the work area allows.
class TextDialog {
 public:
  TextDialog(HWND owner, const std::string& title, const std::string& text, TextLook look)
      : owner_(owner),
        title_(Wide(title)),
        text_(WideLines(look == TextLook::kColumns ? ExpandTabs(text) : text)),
        look_(look) {}

  void Run() {
    window_ = CreateDialogWindow(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
                                 WS_EX_DLGMODALFRAME | (owner_ == nullptr ? WS_EX_APPWINDOW : 0),
                                 owner_, &Procedure, this);
    if (window_ == nullptr) return;
    ::SetWindowTextW(window_, title_.c_str());
    SetApplicationIcon(window_);
    const int dpi = DpiOf(window_);
    const HFONT font = look_ == TextLook::kColumns ? FixedFont(dpi) : WindowFont(dpi);

    // The text's own size.
    const HDC dc = ::GetDC(window_);
    const HGDIOBJ previous = ::SelectObject(dc, font);
    RECT extent{0, 0, 0, 0};
    ::DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &extent,
                DT_CALCRECT | DT_EXPANDTABS | DT_NOPREFIX | DT_LEFT);
    ::SelectObject(dc, previous);
    ::ReleaseDC(window_, dc);

    // The room the work area leaves inside the frame.
    const DWORD style = static_cast<DWORD>(::GetWindowLongW(window_, GWL_STYLE));
    const DWORD exStyle = static_cast<DWORD>(::GetWindowLongW(window_, GWL_EXSTYLE));
    RECT frame{0, 0, 0, 0};
    ::AdjustWindowRectExForDpi(&frame, style, FALSE, exStyle, static_cast<UINT>(dpi));
    const HWND nearest = owner_ != nullptr ? owner_ : window_;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(nearest, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT work = monitor.rcWork;
    const int margin = Scale(kMargin, dpi);
    const int buttonWidth = Scale(kButtonWidth, dpi);
    const int buttonHeight = Scale(kButtonHeight, dpi);
    const int gap = Scale(kButtonGap, dpi);
    // A margin of the work area stays free around the dialog, whatever frame a window
    // manager draws for it.
    const int roomWidth = (work.right - work.left) - (frame.right - frame.left) - 4 * margin;
    const int roomHeight =
        (work.bottom - work.top) - (frame.bottom - frame.top) - 4 * margin - gap - buttonHeight;

    int textWidth = extent.right;
    int textHeight = extent.bottom;
    HWND text = nullptr;
    if (textWidth <= roomWidth && textHeight <= roomHeight) {
      text = CreateControl(window_, L"STATIC", text_.c_str(), WS_VISIBLE | SS_LEFT | SS_NOPREFIX);
    } else {
      // A read-only box with scroll bars, each as large as the text or the work area allows.
      const int bar = ::GetSystemMetricsForDpi(SM_CXVSCROLL, static_cast<UINT>(dpi));
      const int inset = 2 * ::GetSystemMetricsForDpi(SM_CXEDGE, static_cast<UINT>(dpi)) + 4;
      textWidth = std::min(textWidth + bar + inset, roomWidth);
      textHeight = std::min(textHeight + bar + inset, roomHeight);
      text = CreateControl(window_, L"EDIT", text_.c_str(),
                           WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE | ES_READONLY |
                               ES_AUTOHSCROLL | ES_AUTOVSCROLL,
                           0, WS_EX_CLIENTEDGE);
    }
    ::SendMessageW(text, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    const HWND ok =
        CreateControl(window_, L"BUTTON", L"OK", WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, IDOK);

    const int width = std::max({textWidth + 2 * margin, buttonWidth + 2 * margin,
                                std::min(CaptionRoom(title_, dpi), roomWidth + 2 * margin)});
    const int height = textHeight + gap + buttonHeight + 2 * margin;
    ::SetWindowPos(text, nullptr, (width - textWidth) / 2, margin, textWidth, textHeight,
                   SWP_NOZORDER);
    ::SetWindowPos(ok, nullptr, (width - buttonWidth) / 2, height - margin - buttonHeight,
                   buttonWidth, buttonHeight, SWP_NOZORDER);
    RECT outer{0, 0, width, height};
    ::AdjustWindowRectExForDpi(&outer, style, FALSE, exStyle, static_cast<UINT>(dpi));
    // Centred on the owner, or on the work area; whole inside the work area.
    RECT around = work;
    if (owner_ != nullptr) ::GetWindowRect(owner_, &around);
    const int outerWidth = outer.right - outer.left;
    const int outerHeight = outer.bottom - outer.top;
    const ScreenRect placed =
        KeepInside(ScreenRect{around.left + (around.right - around.left - outerWidth) / 2,
                              around.top + (around.bottom - around.top - outerHeight) / 2,
                              outerWidth, outerHeight},
                   ScreenRect{work.left, work.top, work.right - work.left, work.bottom - work.top});
    ::SetWindowPos(window_, HWND_TOP, placed.left, placed.top, outerWidth, outerHeight,
                   SWP_SHOWWINDOW);
    ::SetForegroundWindow(window_);
    ::SendMessageW(window_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(ok), TRUE);

    RunModal(window_, owner_, [this] { return done_; });
    ::DestroyWindow(window_);
  }

 private:
  static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      Keep(window, reinterpret_cast<void*>(lParam));
      return FALSE;
    }
    auto* self = Self<TextDialog>(window);
    if (self == nullptr) return FALSE;
    switch (message) {
      case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) self->done_ = true;
        return TRUE;
      case WM_CLOSE:
        self->done_ = true;
        return TRUE;
      default:
        return FALSE;
    }
  }

  HWND owner_;
  std::wstring title_;
  std::wstring text_;
  TextLook look_;
  HWND window_ = nullptr;
  bool done_ = false;
};

}  // namespace

void ShowErrorBox(HWND owner, const std::string& text) {
  // Without an owner the box is modal for the whole program and brings itself forward.
  const UINT modality = owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL | MB_SETFOREGROUND;
  ::MessageBoxW(owner, WideLines(text).c_str(), L"Error", MB_OK | MB_ICONERROR | modality);
}

void ShowTextDialog(HWND owner, const std::string& title, const std::string& text, TextLook look) {
  TextDialog(owner, title, text, look).Run();
}

std::optional<std::string> ShowOpenFileDialog(HWND owner, const OpenFileRequest& request) {
  const std::wstring title = Wide(request.title);
  const std::wstring directory = Wide(request.initialDirectory);
  const std::wstring filter = Wide(OpenFileFilter(request.filter));
  const std::wstring extension = Wide(DefaultExtension(request.defaultExtension));
  std::vector<wchar_t> file(kFileNameCapacity, L'\0');

  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
  if (!::GetOpenFileNameW(&dialog)) return std::nullopt;
  return Utf8FromWide(file.data());
}

}  // namespace downloader::win32
