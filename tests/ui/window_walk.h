#pragma once

// The walk over every window of the loader that checks its layout, whatever toolkit drew
// it: each text fits the room its control gives it, no control overlaps a sibling, every
// control lies inside its parent, and the window inside the screen's work area. A toolkit
// gives what it finds on the screen (a WindowProbe); the windows and the rules are here.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/window_layout.h"

namespace downloader {
class TProgressForm;
class TStringGrid;
struct InformationLayout;
}  // namespace downloader

namespace downloader::testing {

/// One control of a window as found on the screen.
struct WalkedControl {
  std::string name;  ///< its kind and text, for the faults
  ScreenRect rect;   ///< in its parent's client area
  /// The size its text needs, when it shows one that must fit (not a scrolled one), and
  /// where the control draws it, in its own coordinates.
  std::optional<TextSize> text;
  ScreenRect textRoom;
  std::vector<WalkedControl> children;  ///< the shown ones, in their parent's client area
};

/// A shown top-level window.
struct WalkedWindow {
  std::string title;
  ScreenRect outer;     ///< on the screen, with the frame the window manager drew
  int clientWidth = 0;  ///< the client area
  int clientHeight = 0;
  std::vector<WalkedControl> controls;
};

/// `text` as a fault names it: in quotes, its first line, at most 40 characters.
std::string Quoted(std::string_view text);

/// What is wrong with `window` on a screen whose work area is `workArea`, one line each:
/// a text larger than its room, two siblings that overlap, a control not whole inside its
/// parent, the window not whole inside the work area. Empty when nothing is.
std::vector<std::string> LayoutFaults(const WalkedWindow& window, const ScreenRect& workArea);

/// What a toolkit finds on the screen, on the main thread.
class WindowProbe {
 public:
  virtual ~WindowProbe() = default;
  /// The screen's work area.
  virtual ScreenRect WorkArea() = 0;
  /// The loader's non-modal window (the progress window) once it is shown and framed.
  virtual std::optional<WalkedWindow> WalkShown() = 0;
  /// Arranges that the next modal window, once shown and framed, is walked into `walked`
  /// and then closed as by its close box.
  virtual void WalkNextModal(std::optional<WalkedWindow>& walked) = 0;
};

/// Opens every window of the loader in turn through the installed window system, with the
/// texts a user sees: the information window, the progress window with 1 and with 8 slots
/// during a scan of four ports, the selection dialog, an error dialog of several lines,
/// the success box and the help; walks each and closes it. The faults found, each line
/// naming its window. `shown`, when given, gets a line for each window walked: where it
/// lay and its client size.
std::vector<std::string> WalkEveryWindow(WindowProbe& probe,
                                         std::vector<std::string>* shown = nullptr);

/// The cells of the grid's visible columns and rows as the toolkits draw them, in designed
/// pixels inside the grid's control: a 2-pixel frame, cells one grid line apart, each text
/// at 2, 2 in its cell; `measure` gives each text's size.
std::vector<WalkedControl> GridCells(const TStringGrid& grid,
                                     const std::function<TextSize(std::string_view)>& measure);

/// The models' own layout walked as a toolkit would draw it, for the arithmetic alone:
/// texts measured with the metrics the layout used.
WalkedWindow ModelWindow(const TProgressForm& form);
WalkedWindow ModelWindow(const InformationLayout& layout, const TextMetrics& metrics);

}  // namespace downloader::testing
