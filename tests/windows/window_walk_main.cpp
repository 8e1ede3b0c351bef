// window_walk.exe: downloader.exe's windows opened one by one and walked on the display
// Wine runs on (ui/window_walk.h); one line "FAULT: ..." for each fault found, exit code 1
// when there were any. Run by wine_layout_test at each resolution.

#include <cstdio>
#include <cwchar>
#include <map>
#include <memory>
#include <vector>

#include "platform/wide_text.h"
#include "ui/download_test_state.h"
#include "ui/forms.h"
#include "ui/win32/support.h"
#include "ui/window_module.h"
#include "ui/window_walk.h"

namespace downloader::testing {
namespace {

using win32::DpiOf;
using win32::Scale;

constexpr DWORD kSettleMs = 700;  // the window manager's framing, and the windows' own recheck
constexpr DWORD kShowLimitMs = 20000;

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  ::GetClassNameW(window, name, 64);
  return name;
}

std::wstring TextOf(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(window, text.data(), length + 1);
  text.resize(static_cast<std::size_t>(length));
  return text;
}

ScreenRect Rect(const RECT& r) {
  return ScreenRect{r.left, r.top, r.right - r.left, r.bottom - r.top};
}

// The size of `text` drawn in `window`'s font with `flags`, at most `width` wide when it
// breaks lines.
TextSize Measure(HWND window, const std::wstring& text, UINT flags, int width = 0) {
  const HDC dc = ::GetDC(window);
  HFONT font = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
  const HGDIOBJ previous =
      ::SelectObject(dc, font != nullptr ? font : ::GetStockObject(SYSTEM_FONT));
  RECT extent{0, 0, width, 0};
  ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &extent, DT_CALCRECT | flags);
  ::SelectObject(dc, previous);
  ::ReleaseDC(window, dc);
  return TextSize{extent.right, extent.bottom};
}

std::vector<WalkedControl> WalkChildren(HWND parent);

WalkedControl WalkControl(HWND control) {
  const std::wstring kind = ClassOf(control);
  const std::wstring text = TextOf(control);
  const LONG style = ::GetWindowLongW(control, GWL_STYLE);
  const int dpi = DpiOf(control);
  WalkedControl walked;
  walked.name = Utf8FromWide(kind) + (text.empty() ? "" : " " + Quoted(Utf8FromWide(text)));
  RECT r{};
  ::GetWindowRect(control, &r);
  ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&r), 2);
  walked.rect = Rect(r);
  RECT client{};
  ::GetClientRect(control, &client);
  walked.textRoom = Rect(client);
  const UINT prefix = (style & SS_NOPREFIX) != 0 ? DT_NOPREFIX : 0;
  if (_wcsicmp(kind.c_str(), L"Static") == 0 && !text.empty()) {
    const LONG type = style & SS_TYPEMASK;
    if (type == SS_LEFTNOWORDWRAP) {
      walked.text = Measure(control, text, prefix | DT_EXPANDTABS);
    } else if (type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT) {
      walked.text = Measure(control, text, prefix | DT_EXPANDTABS | DT_WORDBREAK, client.right);
    }
  } else if (_wcsicmp(kind.c_str(), L"Button") == 0 && !text.empty()) {
    // A push button draws its caption inside its raised edge and focus frame.
    walked.text = Measure(control, text, DT_SINGLELINE);
    walked.textRoom = ScreenRect{Scale(3, dpi), Scale(2, dpi), client.right - 2 * Scale(3, dpi),
                                 client.bottom - 2 * Scale(2, dpi)};
  } else if (_wcsicmp(kind.c_str(), L"Edit") == 0 && (style & ES_MULTILINE) == 0) {
    const LRESULT margins = ::SendMessageW(control, EM_GETMARGINS, 0, 0);
    walked.text = Measure(control, text.empty() ? L" " : text, DT_SINGLELINE | DT_NOPREFIX);
    walked.textRoom = ScreenRect{LOWORD(margins), 0,
                                 client.right - LOWORD(margins) - HIWORD(margins), client.bottom};
  } else if (kind == L"DownloaderGauge" && ProgressForm != nullptr) {
    const TGauge& gauge = ProgressForm->ProgressBar(::GetDlgCtrlID(control) - 200);
    const HFONT font = win32::WindowFont(dpi);
    const HDC dc = ::GetDC(control);
    const HGDIOBJ previous = ::SelectObject(dc, font);
    const std::wstring percent = std::to_wstring(gauge.PercentDone()) + L"%";
    SIZE size{};
    ::GetTextExtentPoint32W(dc, percent.c_str(), static_cast<int>(percent.size()), &size);
    ::SelectObject(dc, previous);
    ::ReleaseDC(control, dc);
    walked.name += " " + Utf8FromWide(percent);
    walked.text = TextSize{size.cx, size.cy};
    walked.textRoom = ScreenRect{1, 1, client.right - 2, client.bottom - 2};
  } else if (kind == L"DownloaderPortStatus" && ProgressForm != nullptr) {
    // The cells as the grid paints them: designed rectangles scaled edge by edge, each text
    // in the window font at 2, 2 inside its cell.
    const HFONT font = win32::WindowFont(dpi);
    const HDC dc = ::GetDC(control);
    const HGDIOBJ previous = ::SelectObject(dc, font);
    const int inset = Scale(2, dpi);
    for (WalkedControl cell : GridCells(ProgressForm->PortStatus, [&](std::string_view t) {
           const std::wstring wide = win32::Wide(t);
           SIZE size{};
           ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
           return TextSize{size.cx, size.cy};
         })) {
      const int left = cell.rect.left - 2;
      const int top = cell.rect.top - 2;
      const int width = Scale(left + cell.rect.width, dpi) - Scale(left, dpi);
      const int height = Scale(top + cell.rect.height, dpi) - Scale(top, dpi);
      cell.rect = ScreenRect{inset + Scale(left, dpi), inset + Scale(top, dpi), width, height};
      cell.textRoom = ScreenRect{inset, inset, width - inset, height - inset};
      walked.children.push_back(cell);
    }
    ::SelectObject(dc, previous);
    ::ReleaseDC(control, dc);
  }
  if (_wcsicmp(kind.c_str(), L"Edit") == 0) return walked;  // its own scroll bars inside
  for (WalkedControl& child : WalkChildren(control)) walked.children.push_back(std::move(child));
  return walked;
}

std::vector<WalkedControl> WalkChildren(HWND parent) {
  std::vector<WalkedControl> controls;
  for (HWND child = ::GetWindow(parent, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    if (::IsWindowVisible(child)) controls.push_back(WalkControl(child));
  }
  return controls;
}

WalkedWindow WalkWindow(HWND window) {
  RECT outer{};
  ::GetWindowRect(window, &outer);
  RECT client{};
  ::GetClientRect(window, &client);
  return WalkedWindow{Utf8FromWide(TextOf(window)), Rect(outer), client.right, client.bottom,
                      WalkChildren(window)};
}

// The shown top-level window of this thread that takes the input: the modal one.
HWND ActiveWindow() {
  HWND found = nullptr;
  ::EnumThreadWindows(
      ::GetCurrentThreadId(),
      [](HWND window, LPARAM result) -> BOOL {
        if (!::IsWindowVisible(window) || !::IsWindowEnabled(window)) return TRUE;
        if ((::GetWindowLongW(window, GWL_STYLE) & WS_CAPTION) != WS_CAPTION) return TRUE;
        *reinterpret_cast<HWND*>(result) = window;
        return FALSE;  // the first is the top of the stacking order
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

class Win32Probe final : public WindowProbe {
 public:
  Win32Probe() { self = this; }
  ~Win32Probe() override { self = nullptr; }

  ScreenRect WorkArea() override {
    RECT work{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    return Rect(work);
  }

  std::optional<WalkedWindow> WalkShown() override {
    const DWORD start = ::GetTickCount();
    DWORD shownSince = 0;
    while (::GetTickCount() - start < kShowLimitMs) {
      win32::PumpMessages();
      const HWND window = ::FindWindowW(nullptr, L"Download Progress");
      if (window != nullptr && ::IsWindowVisible(window)) {
        if (shownSince == 0) shownSince = ::GetTickCount();
        if (::GetTickCount() - shownSince >= kSettleMs) return WalkWindow(window);
      }
      ::Sleep(10);
    }
    return std::nullopt;
  }

  void WalkNextModal(std::optional<WalkedWindow>& walked) override {
    walked.reset();
    target_ = &walked;
    window_ = nullptr;
    timer_ = ::SetTimer(nullptr, timer_, 20, &Tick);
  }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    if (self != nullptr) self->Poll();
  }

  void Poll() {
    if (target_ == nullptr) return;
    const HWND window = ActiveWindow();
    if (window == nullptr || window != window_) {
      window_ = window;
      since_ = ::GetTickCount();
      return;
    }
    if (::GetTickCount() - since_ < kSettleMs) return;
    *target_ = WalkWindow(window);
    target_ = nullptr;
    ::KillTimer(nullptr, timer_);
    timer_ = 0;
    // As by its close box; a message box takes its OK.
    ::PostMessageW(window, WM_COMMAND, IDOK, 0);
    ::PostMessageW(window, WM_CLOSE, 0, 0);
  }

  static inline Win32Probe* self = nullptr;
  std::optional<WalkedWindow>* target_ = nullptr;
  HWND window_ = nullptr;
  DWORD since_ = 0;
  UINT_PTR timer_ = 0;
};

}  // namespace
}  // namespace downloader::testing

int wmain() {
  using namespace downloader;
  ::SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  testing::ResetDownloaderState();
  std::vector<std::string> lines;
  WindowSystem* windows = LoadWindowModule(lines);
  if (windows == nullptr) {
    for (const std::string& line : lines) std::printf("FAULT: no windows: %s\n", line.c_str());
    return 2;
  }
  SetWindowSystem(std::unique_ptr<WindowSystem>(windows));
  RECT work{};
  ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  std::printf("dpi %d, work area %ldx%ld\n", win32::DpiOf(nullptr), work.right - work.left,
              work.bottom - work.top);
  int faults = 0;
  {
    testing::Win32Probe probe;
    std::vector<std::string> shown;
    for (const std::string& fault : testing::WalkEveryWindow(probe, &shown)) {
      std::printf("FAULT: %s\n", fault.c_str());
      ++faults;
    }
    for (const std::string& window : shown) std::printf("%s\n", window.c_str());
  }
  std::fflush(stdout);
  // Ends here, as the loader does, with its windows still up.
  ::ExitProcess(faults == 0 ? 0 : 1);
}
