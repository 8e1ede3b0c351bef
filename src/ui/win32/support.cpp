#include "ui/win32/support.h"

#include <map>
#include <utility>
#include <vector>

#include "platform/wide_text.h"
#include "run/main_thread.h"
#include "ui/message_loop.h"

namespace downloader::win32 {

namespace {

constexpr int kFontHeight = -11;  // 8 points at 96 dpi
constexpr int kFixedFontHeight = -12;
constexpr wchar_t kDesignedFace[] = L"MS Sans Serif";
constexpr const wchar_t* kScalableFaces[] = {L"Microsoft Sans Serif", L"Tahoma"};
constexpr wchar_t kFixedFace[] = L"Courier New";
constexpr int kApplicationIconId = 1;
// A shown window's place is looked at again once its window manager has framed it.
constexpr UINT_PTR kPlacementTimer = 0x4B57;
constexpr UINT kPlacementRecheck = 300;  // ms
// The longest a modal wait leaves posted handlers and messages unprocessed.
constexpr std::chrono::milliseconds kModalStep{50};

HANDLE wakeEvent = nullptr;
bool busy = false;

void Wake() {
  ::SetEvent(wakeEvent);
}

std::wstring Convert(UINT codePage, DWORD flags, std::string_view text) {
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, flags, text.data(), size, wide.data(), length);
  return wide;
}

HFONT MakeFont(int height, int weight, const wchar_t* face, BYTE pitch) {
  return ::CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, pitch, face);
}

HDC MeasuringContext() {
  static const HDC measuring = ::CreateCompatibleDC(nullptr);
  return measuring;
}

// What the system draws for a font: its face, and whether it is drawn from outlines (scales
// cleanly), not from bitmaps of a few sizes.
struct RealizedFont {
  std::wstring face;
  bool scalable = false;
};
RealizedFont Realized(HFONT font) {
  const HDC dc = MeasuringContext();
  const HGDIOBJ previous = ::SelectObject(dc, font);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  wchar_t face[LF_FACESIZE] = {};
  ::GetTextFaceW(dc, LF_FACESIZE, face);
  ::SelectObject(dc, previous);
  return RealizedFont{face, (metrics.tmPitchAndFamily & (TMPF_VECTOR | TMPF_TRUETYPE)) != 0};
}

bool IsDialog(HWND window) {
  wchar_t name[16] = {};
  return ::GetClassNameW(window, name, 16) > 0 && std::wstring_view(name) == L"#32770";
}

RECT Bounds(const PixelRect& r) {
  return RECT{r.left, r.top, r.left + r.width, r.top + r.height};
}

}  // namespace

std::wstring Wide(std::string_view text) {
  if (text.empty()) return {};
  std::wstring wide = Convert(CP_UTF8, MB_ERR_INVALID_CHARS, text);
  return wide.empty() ? Convert(CP_ACP, 0, text) : wide;
}

std::wstring WideLines(std::string_view text) {
  const std::wstring wide = Wide(text);
  std::wstring lines;
  lines.reserve(wide.size() + 8);
  for (std::size_t i = 0; i < wide.size(); ++i) {
    const wchar_t c = wide[i];
    if (c == L'\r' || c == L'\n') {
      lines += L"\r\n";
      if (c == L'\r' && i + 1 < wide.size() && wide[i + 1] == L'\n') ++i;
    } else {
      lines += c;
    }
  }
  return lines;
}

int DpiOf(HWND window) {
  const UINT dpi = window != nullptr ? ::GetDpiForWindow(window) : ::GetDpiForSystem();
  return dpi > 0 ? static_cast<int>(dpi) : kDesignDpi;
}

HFONT WindowFont(int dpi, bool bold) {
  static std::map<std::pair<int, bool>, HFONT> fonts;
  HFONT& font = fonts[{dpi, bold}];
  if (font != nullptr) return font;
  const int weight = bold ? FW_BOLD : FW_NORMAL;
  font = MakeFont(Scale(kFontHeight, dpi), weight, kDesignedFace, DEFAULT_PITCH | FF_SWISS);
  // Scaled, the designed face stays where it is drawn from outlines; where it is the bitmap
  // font of a few sizes, its outline twin stands in, or the system's dialog face.
  if (dpi == kDesignDpi) return font;
  const RealizedFont designed = Realized(font);
  if (designed.scalable && designed.face == kDesignedFace) return font;
  for (const wchar_t* face : kScalableFaces) {
    ::DeleteObject(font);
    font = MakeFont(Scale(kFontHeight, dpi), weight, face, DEFAULT_PITCH | FF_SWISS);
    if (Realized(font).face == face) break;
  }
  return font;
}

HFONT FixedFont(int dpi) {
  static std::map<int, HFONT> fonts;
  HFONT& font = fonts[dpi];
  if (font == nullptr) {
    font = MakeFont(Scale(kFixedFontHeight, dpi), FW_NORMAL, kFixedFace, FIXED_PITCH | FF_MODERN);
  }
  return font;
}

int DesignedPixels(int devicePixels, int dpi) {
  // One device pixel more: a rectangle's scaled width may be one less than its length scaled.
  return dpi == kDesignDpi ? devicePixels : Unscale(devicePixels + 1, dpi) + 1;
}

TextSize Win32TextMetrics::Extent(std::string_view text, bool bold) const {
  const HDC dc = MeasuringContext();
  const std::wstring wide = WideLines(text);
  const HGDIOBJ previous = ::SelectObject(dc, WindowFont(dpi_, bold));
  RECT extent{0, 0, 0, 0};
  ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &extent,
              DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | DT_LEFT);
  ::SelectObject(dc, previous);
  return TextSize{DesignedPixels(extent.right, dpi_), DesignedPixels(extent.bottom, dpi_)};
}

int Win32TextMetrics::WrappedHeight(std::string_view text, int width, bool bold) const {
  const HDC dc = MeasuringContext();
  const std::wstring wide = WideLines(text);
  const HGDIOBJ previous = ::SelectObject(dc, WindowFont(dpi_, bold));
  // Broken as narrow as the control may come out: its scaled width less one pixel.
  RECT extent{0, 0, Scale(width, dpi_) - (dpi_ == kDesignDpi ? 0 : 1), 0};
  ::DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &extent,
              DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | DT_LEFT | DT_WORDBREAK);
  ::SelectObject(dc, previous);
  return DesignedPixels(extent.bottom, dpi_);
}

ScreenRect WorkAreaAt(int designLeft, int designTop, int dpi) {
  const POINT at{Scale(designLeft, dpi), Scale(designTop, dpi)};
  MONITORINFO info{};
  info.cbSize = sizeof info;
  RECT work{};
  if (::GetMonitorInfoW(::MonitorFromPoint(at, MONITOR_DEFAULTTOPRIMARY), &info)) {
    work = info.rcWork;
  } else {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  }
  return ScreenRect{work.left, work.top, work.right - work.left, work.bottom - work.top};
}

void RecheckPlacementSoon(HWND window) {
  ::SetTimer(window, kPlacementTimer, kPlacementRecheck, nullptr);
}

bool RecheckPlacement(HWND window, WPARAM timer) {
  if (timer != kPlacementTimer) return false;
  ::KillTimer(window, kPlacementTimer);
  RECT now{};
  ::GetWindowRect(window, &now);
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  if (!::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
    return true;
  }
  const RECT& work = monitor.rcWork;
  const ScreenRect inside =
      KeepInside(ScreenRect{now.left, now.top, now.right - now.left, now.bottom - now.top},
                 ScreenRect{work.left, work.top, work.right - work.left, work.bottom - work.top});
  if (inside.left != now.left || inside.top != now.top) {
    ::SetWindowPos(window, nullptr, inside.left, inside.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return true;
}

void PlaceInWorkArea(HWND window, int designLeft, int designTop, bool& placed) {
  const int dpi = DpiOf(window);
  RECT now{};
  ::GetWindowRect(window, &now);
  ScreenRect outer{now.left, now.top, now.right - now.left, now.bottom - now.top};
  if (!placed) {
    outer.left = Scale(designLeft, dpi);
    outer.top = Scale(designTop, dpi);
  }
  placed = true;
  const ScreenRect inside = KeepInside(outer, WorkAreaAt(designLeft, designTop, dpi));
  if (inside.left == now.left && inside.top == now.top) return;
  ::SetWindowPos(window, nullptr, inside.left, inside.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Place(HWND child, const PixelRect& design, int dpi, bool visible) {
  const PixelRect want = Scale(design, dpi);
  RECT now{};
  ::GetWindowRect(child, &now);
  ::MapWindowPoints(nullptr, ::GetParent(child), reinterpret_cast<POINT*>(&now), 2);
  const RECT bounds = Bounds(want);
  if (!::EqualRect(&now, &bounds)) {
    ::SetWindowPos(child, nullptr, want.left, want.top, want.width, want.height,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
  const bool shown = (::GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) != 0;
  if (shown != visible) ::ShowWindow(child, visible ? SW_SHOWNA : SW_HIDE);
}

void SetText(HWND control, const std::wstring& text) {
  const int length = ::GetWindowTextLengthW(control);
  std::wstring now(static_cast<std::size_t>(length) + 1, L'\0');
  ::GetWindowTextW(control, now.data(), length + 1);
  now.resize(static_cast<std::size_t>(length));
  if (now != text) ::SetWindowTextW(control, text.c_str());
}

void SetClientSize(HWND window, int designWidth, int designHeight) {
  const int dpi = DpiOf(window);
  RECT outer{0, 0, Scale(designWidth, dpi), Scale(designHeight, dpi)};
  const DWORD style = static_cast<DWORD>(::GetWindowLongW(window, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(::GetWindowLongW(window, GWL_EXSTYLE));
  ::AdjustWindowRectExForDpi(&outer, style, FALSE, exStyle, static_cast<UINT>(dpi));
  RECT now{};
  ::GetWindowRect(window, &now);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  if (now.right - now.left == width && now.bottom - now.top == height) return;
  ::SetWindowPos(window, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

HWND CreateDialogWindow(DWORD style, DWORD exStyle, HWND owner, DLGPROC proc, void* self) {
  // A template without controls: the dialog's components are made by its owner, at pixel
  // positions, not in dialog units.
  struct alignas(4) EmptyTemplate {
    DLGTEMPLATE header;
    WORD menu;
    WORD windowClass;
    WORD title;
  };
  EmptyTemplate empty{};
  empty.header.style = style;
  empty.header.dwExtendedStyle = exStyle;
  const HWND window = ::CreateDialogIndirectParamW(::GetModuleHandleW(nullptr), &empty.header,
                                                   owner, proc, reinterpret_cast<LPARAM>(self));
  if (window == nullptr) return nullptr;
  // Not every system has it; without it, its dialogs are not relaid out anyway.
  using ChangeBehavior =
      BOOL(WINAPI*)(HWND, DIALOG_DPI_CHANGE_BEHAVIORS, DIALOG_DPI_CHANGE_BEHAVIORS);
  static const auto setBehavior = reinterpret_cast<ChangeBehavior>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "SetDialogDpiChangeBehavior")));
  if (setBehavior != nullptr) setBehavior(window, DDC_DISABLE_ALL, DDC_DISABLE_ALL);
  return window;
}

HWND CreateControl(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style,
                   int id, DWORD exStyle) {
  const HWND control = ::CreateWindowExW(exStyle, windowClass, text, WS_CHILD | style, 0, 0, 0, 0,
                                         parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                         ::GetModuleHandleW(nullptr), nullptr);
  if (control != nullptr) {
    ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(WindowFont(DpiOf(parent))), 0);
  }
  return control;
}

void Keep(HWND window, void* self) {
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
}

HICON ApplicationIcon(int size) {
  static std::map<int, HICON> icons;
  const auto found = icons.find(size);
  if (found != icons.end()) return found->second;
  const HICON icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr),
                                                     MAKEINTRESOURCEW(kApplicationIconId),
                                                     IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
  icons[size] = icon;
  return icon;
}

void SetApplicationIcon(HWND window) {
  const UINT dpi = static_cast<UINT>(DpiOf(window));
  const int big = ::GetSystemMetricsForDpi(SM_CXICON, dpi);
  const int small = ::GetSystemMetricsForDpi(SM_CXSMICON, dpi);
  if (const HICON icon = ApplicationIcon(big)) {
    ::SendMessageW(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  }
  if (const HICON icon = ApplicationIcon(small)) {
    ::SendMessageW(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
  }
}

void SetBusy(bool on) {
  busy = on;
  POINT at{};
  ::GetCursorPos(&at);
  const HWND under = ::WindowFromPoint(at);
  // Shown at once where it matters; elsewhere at the next move over one of our windows.
  if (under != nullptr && ::GetWindowThreadProcessId(under, nullptr) == ::GetCurrentThreadId()) {
    ::SetCursor(::LoadCursorW(nullptr, on ? IDC_WAIT : IDC_ARROW));
  }
}

bool ShowBusyCursor(LPARAM hitTest) {
  if (!busy || LOWORD(hitTest) != HTCLIENT) return false;
  ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
  return true;
}

void InstallWaker() {
  if (wakeEvent != nullptr) return;
  wakeEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (wakeEvent != nullptr) SetPostedHandlerWaker(&Wake);
}

void WaitForWork(std::chrono::milliseconds limit) {
  if (WaitForPostedHandler(std::chrono::milliseconds(0))) return;
  if (wakeEvent == nullptr) {
    WaitForPostedHandler(limit);
    return;
  }
  // A handler posted since the test above has set the event.
  ::MsgWaitForMultipleObjectsEx(1, &wakeEvent, static_cast<DWORD>(limit.count()), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
}

void PumpMessages() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    // The loader never ends through its message loop.
    if (message.message == WM_QUIT) continue;
    const HWND root = message.hwnd != nullptr ? ::GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr && IsDialog(root) && ::IsDialogMessageW(root, &message)) continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
}

void PumpPaints() {
  MSG message;
  while (::PeekMessageW(&message, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE)) {
    ::DispatchMessageW(&message);
  }
}

void RunModal(HWND window, HWND owner, const std::function<bool()>& finished) {
  const bool disable = owner != nullptr && ::IsWindowEnabled(owner);
  if (disable) ::EnableWindow(owner, FALSE);
  while (!finished() && ::IsWindowVisible(window)) WaitAndProcessMessages(kModalStep);
  // Enabled before the modal window goes, so that the owner is activated, not another program.
  if (disable) ::EnableWindow(owner, TRUE);
}

std::string SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                              message.back() == L' ' || message.back() == L'.')) {
    message.pop_back();
  }
  if (message.empty()) return "error " + std::to_string(error);
  return Utf8FromWide(message);
}

}  // namespace downloader::win32
