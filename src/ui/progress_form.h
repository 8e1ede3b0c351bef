#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ui/window_layout.h"

namespace downloader {

/// Colours as 0xRRGGBB.
inline constexpr uint32_t kDarkGreen = 0x008000;
inline constexpr uint32_t kBrightGreen = 0x00FF00;

/// What every component of the window has: position relative to its parent, size, whether
/// it is shown, and its Tag (the slot number of a caption or bar, -1 for the others).
struct TControl {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool Visible = true;
  int Tag = -1;
};

struct TStaticText : TControl {
  std::string Caption;
  bool Bold = false;
};

/// A one-line text; read-only and borderless wherever this window uses it.
struct TEdit : TControl {
  std::string Text;
  bool Bold = false;
};

/// A multi-line text; `Lines` is what it shows, one entry a line.
struct TMemo : TControl {
  std::vector<std::string> Lines;
};

struct TPanel : TControl {};

/// A circle filled with `FillColor`.
struct TShape : TControl {
  uint32_t FillColor = kDarkGreen;
};

/// The warning picture: a yellow triangle with a black exclamation mark.
struct TImage : TControl {};

struct TButton : TControl {
  std::string Caption;
  bool Enabled = true;
  int ModalResult = 0;
};

/// A bar that shows its percentage as text. `Progress` stays within 0 .. `MaxValue`.
struct TGauge : TControl {
  int Progress = 0;
  int MaxValue = 100;
  /// Progress * 100 / MaxValue, truncated; 0 when MaxValue is 0.
  int PercentDone() const { return MaxValue > 0 ? Progress * 100 / MaxValue : 0; }
};

/// A cell range of the grid; all -1 when nothing is selected.
struct TGridRect {
  int Left = -1;
  int Top = -1;
  int Right = -1;
  int Bottom = -1;
};

/// The string grid: seven columns, one fixed header row and one fixed column, rows 19
/// pixels apart (18 plus a grid line). Reading a cell outside the grid gives an empty text
/// and writing one changes nothing, so no grid content can reach outside the table.
class TStringGrid : public TControl {
 public:
  static constexpr int kColCount = 7;
  /// Data rows visible at once below the header (the grid is at most 137 pixels high).
  static constexpr int kVisibleDataRows = 6;

  int DefaultRowHeight = 18;
  int FixedRows = 1;
  int FixedCols = 1;
  std::array<int, kColCount> ColWidths{64, 74, 64, 64, 64, 64, 64};
  TGridRect Selection;

  TStringGrid() { SetRowCount(2); }

  int RowCount() const { return static_cast<int>(cells_.size()); }
  /// Rows are kept when the count grows or shrinks; new rows are empty. At least 2.
  void SetRowCount(int count);
  /// The first visible data row, kept within 1 .. max(1, RowCount - 6).
  int TopRow() const { return topRow_; }
  void SetTopRow(int row);

  const std::string& Cell(int col, int row) const;
  void SetCell(int col, int row, std::string text);
  void ClearRow(int row);

  bool HasSelection() const { return Selection.Left != -1; }
  /// The row pitch: the default row height plus one grid line.
  int RowPitch() const { return DefaultRowHeight + 1; }

 private:
  std::vector<std::array<std::string, kColCount>> cells_;
  int topRow_ = 1;
};

/// The keys that move the grid's selection.
enum class GridKey { kUp, kDown, kPageUp, kPageDown, kHome, kEnd };

/// The download progress window as a toolkit-independent model: the components as plain
/// data, their layout arithmetic, the two modes (progress, selection), the grid of scan
/// results and its selection rules, the gauges and the "112-SLOT=" lines. A window system
/// (Windows()) shows, closes and repaints it and draws what the model holds.
/// Every operation runs on the main thread.
class TProgressForm {
 public:
  TProgressForm();
  TProgressForm(const TProgressForm&) = delete;
  TProgressForm& operator=(const TProgressForm&) = delete;
  virtual ~TProgressForm() = default;

  // The window itself: outer dimensions, recomputed by RefreshDisplay.
  std::string Caption = "Download Progress";
  int Left = 271;
  int Top = 149;
  int Width = 0;
  int Height = 0;
  /// True while a window system shows the window.
  bool Showing = false;

  // Components, in declaration order.
  TStringGrid PortStatus;
  TStaticText PortStatusText;
  TPanel DownloadStatus;
  TEdit ProgName7, ProgName6, ProgName5, ProgName4, ProgName3, ProgName2, ProgName1, ProgName0;
  TStaticText StaticText1;
  TShape TXStatus;
  TMemo EMessage;
  TImage WarningImage;
  TEdit ScanningText;
  TGauge ProgressBar0, ProgressBar1, ProgressBar2, ProgressBar3, ProgressBar4, ProgressBar5,
      ProgressBar6, ProgressBar7;
  TButton DownloadButton;

  /// From the first argument of the last Open; RefreshDisplay empties the port rows while
  /// it is set.
  bool ClearRows = false;

  /// The sizes of texts in the window's font, which the layout makes room for; fixed
  /// cells until a toolkit installs the metrics of the font it draws with.
  std::shared_ptr<const TextMetrics> Metrics;

  /// The caption and bar of slot 0..7 (the components whose Tag is the slot).
  TEdit& ProgName(int slot);
  TGauge& ProgressBar(int slot);
  const TEdit& ProgName(int slot) const;
  const TGauge& ProgressBar(int slot) const;

  /// Selection mode exactly when EMessage is visible, progress mode otherwise.
  bool InSelectionMode() const { return EMessage.Visible; }

  /// With an empty `message`: progress mode, shown non-modally (laid out and hidden under
  /// /NoPrompts), result -1. Otherwise selection mode with `message` as the prompt: the
  /// first "+" row scrolled to the top, Download disabled; under /NoPrompts laid out and
  /// result 2 with nothing shown, else a beep and the modal result (4 Download, 2 closed).
  int Open(bool clearRows, const std::string& message);
  /// The toolkit's close: FormClose, then the window is hidden.
  void Close();

  /// Headers and column widths from the sample texts, then RefreshDisplay. Runs each time
  /// the window is shown.
  void FormShow();
  /// Repaints at once and holds the final state for 100 ms, the windows kept responsive.
  void FormClose();
  /// Rebuilds the port rows from PortList and lays the window out: the designed layout
  /// wherever the texts fit in the font at hand, grown where they need more room (a prompt
  /// of more lines, wider captions, taller rows); never smaller than designed.
  void RefreshDisplay();
  /// Captions and bars of the image's slots visible and set up, the others hidden; the
  /// panel's height follows the slot count (23 per slot plus 23), grown where needed so
  /// that every visible bar lies whole inside it.
  void AssignProgressBars();
  /// One more acknowledged packet on slot 0..7's bar; with /Updates a "112-SLOT=" line.
  void StepIt(int slot);

  /// The grid's cell-select event: whether (col, row) may be selected, then Download
  /// enabled exactly when the grid has a selection (the one before this event).
  void PortStatusSelectCell(int col, int row, bool& canSelect);
  /// The grid's mouse-down event at pixel (x, y) inside the grid: a click on the port name
  /// of a "+" row selects that row in selection mode; Download then follows the selection.
  void PortStatusMouseDown(int x, int y);
  /// A click at pixel (x, y) inside the grid as the grid handles it: a data cell is
  /// offered to PortStatusSelectCell and selected when allowed, then PortStatusMouseDown.
  void PortStatusClick(int x, int y);
  /// A movement key in the grid, in selection mode (nothing in progress mode): the
  /// selection moves among the rows marked "+" only, skipping the grey ones. Up and Down
  /// go to the next marked row above or below; Page Up and Page Down to the farthest one
  /// within a page, else the next beyond; Home and End to the first and the last. The
  /// first key with nothing selected chooses the first marked row in view. The row is
  /// offered to PortStatusSelectCell, selected and scrolled into view, and Download is
  /// enabled with it; with no marked row that way nothing moves.
  void PortStatusKey(GridKey key);
  /// Whether data row `row` is drawn in the grey-text colour (selection mode, no "+").
  bool IsRowGreyed(int row) const;

  /// Asks the window system to repaint the window at once.
  void Repaint();

 private:
  /// The first row marked "+" from `row` on in steps of `step` (+1 or -1), or -1.
  int MarkedRowFrom(int row, int step) const;

  std::array<TEdit*, 8> progNames_;
  std::array<TGauge*, 8> progressBars_;
};

}  // namespace downloader
