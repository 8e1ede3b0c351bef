#pragma once

// What the native Windows windows share: texts for the system, the monitor's resolution
// and the fonts at it, placing components at their designed (scaled) places, dialogs of the
// system's dialog class, the application icon, the busy cursor, and the message loop: its
// step, its wait that wakes for posted handlers, and the modal run. Main thread only.

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "ui/win32/layout.h"
#include "ui/win32/windows_api.h"
#include "ui/window_layout.h"

namespace downloader::win32 {

/// A text of the loader for the system: UTF-8 when it is valid UTF-8 (file names, texts
/// typed today), else in the ANSI code page (image texts of older tools). NULs are kept.
std::wstring Wide(std::string_view text);
/// As Wide, with every line break as CR LF, as edit and static controls show them.
std::wstring WideLines(std::string_view text);

/// The resolution of `window`'s monitor, or the system's for no window.
int DpiOf(HWND window);

/// The windows' font at `dpi`: "MS Sans Serif" 8 points, height -11 at 96 dpi, scaled
/// elsewhere; where that face is a bitmap font (its few sizes would be stretched or
/// jagged), its outline twin "Microsoft Sans Serif" at the same height, or the dialog
/// face "Tahoma" where the twin is missing. Kept for the run.
HFONT WindowFont(int dpi, bool bold = false);
/// A fixed-pitch font of about the same size, for texts laid out in columns (the help).
HFONT FixedFont(int dpi);
/// The sizes of texts in the window font at `dpi` (the face the system draws there, a
/// substitute included), in designed pixels, rounded up so that the scaled room holds them.
class Win32TextMetrics final : public TextMetrics {
 public:
  explicit Win32TextMetrics(int dpi) : dpi_(dpi) {}
  int Dpi() const { return dpi_; }
  TextSize Extent(std::string_view text, bool bold = false) const override;
  int WrappedHeight(std::string_view text, int width, bool bold = false) const override;

 private:
  int dpi_;
};

/// A device length in designed pixels at `dpi`, rounded up: the scaled length of the result
/// holds it even where a rectangle's scaled edges round inwards.
int DesignedPixels(int devicePixels, int dpi);

/// The work area of the monitor that holds the designed point (`designLeft`, `designTop`)
/// scaled to `dpi`, in device pixels.
ScreenRect WorkAreaAt(int designLeft, int designTop, int dpi);
/// Moves `window` so that its outer top left lies at the designed screen position, scaled,
/// the first time (`placed` false), else where it is; in either case only as far as needed
/// to keep it whole inside its monitor's work area. Sets `placed`.
void PlaceInWorkArea(HWND window, int designLeft, int designTop, bool& placed);

/// A child at its designed rectangle scaled to `dpi`, shown or hidden; nothing is done to
/// what is already so.
void Place(HWND child, const PixelRect& design, int dpi, bool visible);
/// A control's text, set only when it differs (no flicker).
void SetText(HWND control, const std::wstring& text);

/// A window manager frames a shown window in its own way and may leave it a little
/// otherwise than placed: a moment after the show, RecheckPlacement (on the window's
/// WM_TIMER) moves it back inside its monitor's work area, only as far as needed. True
/// when the timer was this one.
void RecheckPlacementSoon(HWND window);
bool RecheckPlacement(HWND window, WPARAM timer);

/// Sizes `window` so that its client area is the designed client size scaled to its dpi,
/// with whatever frame the system draws today.
void SetClientSize(HWND window, int designWidth, int designHeight);

/// A hidden, empty window of the system's dialog class, so that Tab, Enter on the focused
/// button, Esc and Alt with a button's letter work as in every dialog. `proc` gets `self`
/// as the WM_INITDIALOG parameter; the system does not relayout it on a change of
/// resolution (its owner does). Null on failure.
HWND CreateDialogWindow(DWORD style, DWORD exStyle, HWND owner, DLGPROC proc, void* self);
/// A child control of `parent` with the window font at the parent's resolution.
HWND CreateControl(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style,
                   int id = 0, DWORD exStyle = 0);
/// The object stored with WM_INITDIALOG (dialogs) or at creation (own classes).
template <typename T>
T* Self(HWND window) {
  return reinterpret_cast<T*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}
/// Stores `self` with the window for Self.
void Keep(HWND window, void* self);

/// The application's icon (resource 1) at `size` pixels; null when it has none.
HICON ApplicationIcon(int size);
/// Gives `window` the application's icons for its caption and the task bar.
void SetApplicationIcon(HWND window);

/// The application-wide busy cursor on or off; windows keep it over their client areas.
void SetBusy(bool busy);
/// A window's WM_SETCURSOR: true when it showed the busy cursor (the message is handled).
bool ShowBusyCursor(LPARAM hitTest);

/// The message loop's wait: until a message arrives for the thread, a handler is posted
/// (PostToMainThread wakes it, from any thread, once InstallWaker has run), or `limit`
/// passes.
void InstallWaker();
void WaitForWork(std::chrono::milliseconds limit);
/// One step: every waiting message is dispatched, through the dialog manager for dialogs.
void PumpMessages();
/// Paints what waits to be painted and answers the system, leaving clicks and keys queued:
/// a repaint while the main thread is busy elsewhere (a slot transfer).
void PumpPaints();

/// Runs the message loop (and the posted handlers) until `finished` returns true or
/// `window` is hidden; `owner`, when given, is disabled meanwhile, as for the platform's
/// own modal windows.
void RunModal(HWND window, HWND owner, const std::function<bool()>& finished);

/// The system's text for an error code, in UTF-8, without its line end.
std::string SystemMessage(DWORD error);

}  // namespace downloader::win32
