#include "ui/progress_form.h"

#include <algorithm>
#include <chrono>

#include "image/object_image.h"
#include "run/report.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "ui/message_loop.h"
#include "ui/window_system.h"

namespace downloader {

namespace {

// Columns 0..4 are sized from a sample text in the grid's font plus a margin; columns 5
// and 6 keep their designed widths and lie outside the visible width.
struct ColumnSample {
  std::string_view header;
  std::string_view sample;
  int margin;
};
constexpr std::array<ColumnSample, 5> kColumnSamples = {{
    // header         sample text              margin
    {"Port:", "COM99:", 5},
    {"Device Type:", "No Korvanetics Found", 15},
    {"Version:", "Version:", 8},  // width 0 while CustomProduct is set
    {"Loopback:", "Loopback:", 8},
    {"Echo:", "Echo:", 8},
}};
constexpr int kVersionColumn = 2;
constexpr int kMarkColumn = 6;
constexpr std::string_view kMark = "+";

// Layout offsets, in pixels.
constexpr int kGridFrame = 9;             // grid width beyond its visible columns
constexpr int kScrollBarWidth = 16;       // added when the rows do not fit
constexpr int kWindowRightMargin = 26;    // window width beyond the grid's right edge
constexpr int kGridHeightBeyondRows = 4;  // the grid's frame below its rows
constexpr int kGaugeWidthMargin = 142;    // window width minus gauge width
constexpr int kWindowBottomMargin = 37;   // window height beyond the last component
constexpr int kProgressModeTextTop = 10;
constexpr int kSelectionTextGap = 25;  // below the prompt memo in selection mode
constexpr int kTextHeight = 17;        // "Port Status:", "Scanning...", "DownloadStatus:"
constexpr int kMessageHeight = 39;     // the prompt's designed three lines
constexpr int kScanningLeft = 104;
constexpr int kScanningWidth = 81;
constexpr int kTextGap = 8;  // at least between "Port Status:" and "Scanning..."

// The slot rows of the panel: captions at 5, bars at 98, 24 pixels apart; a caption lies
// 2 pixels below its bar. The panel is 336 wide, 8 pixels inside the window's right edge.
constexpr int kCaptionWidth = 87;
constexpr int kCaptionHeight = 19;
constexpr int kCaptionBelowBar = 2;
constexpr int kBarLeft = 98;
constexpr int kBarHeight = 19;
constexpr int kFirstBarTop = 22;
constexpr int kSlotPitch = 24;
constexpr int kSlotGap = 3;  // below a caption, to the next row's
constexpr int kPanelWidth = 336;
constexpr int kBarsBeyondPanel = 44;  // window width minus the bars' right edge in the panel
constexpr int kDialogFrameWidth = 6;  // the window's outer width beyond its client area
constexpr int kPanelHeightPerSlot = 23;
constexpr std::string_view kWidestCaption = "Firmware Slot 7";

constexpr int kTextRoom = 2;     // a one-line text's inset beside it
constexpr int kBarTextRoom = 4;  // a bar's frame around its percentage
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonTextRoom = 16;  // a button's frame and margins beside its caption
constexpr int kButtonTextHeightRoom = 10;

// How long a closing window keeps showing its final state.
constexpr std::chrono::milliseconds kCloseHold{100};

const std::string kEmptyCell;

}  // namespace

void TStringGrid::SetRowCount(int count) {
  cells_.resize(static_cast<std::size_t>(std::max(count, 2)));
  SetTopRow(topRow_);
}

void TStringGrid::SetTopRow(int row) {
  const int last = std::max(FixedRows, RowCount() - kVisibleDataRows);
  topRow_ = std::clamp(row, FixedRows, last);
}

const std::string& TStringGrid::Cell(int col, int row) const {
  if (col < 0 || col >= kColCount || row < 0 || row >= RowCount()) return kEmptyCell;
  return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void TStringGrid::SetCell(int col, int row, std::string text) {
  if (col < 0 || col >= kColCount || row < 0 || row >= RowCount()) return;
  cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = std::move(text);
}

void TStringGrid::ClearRow(int row) {
  for (int col = 0; col < kColCount; ++col) SetCell(col, row, std::string());
}

TProgressForm::TProgressForm()
    : progNames_{&ProgName0, &ProgName1, &ProgName2, &ProgName3,
                 &ProgName4, &ProgName5, &ProgName6, &ProgName7},
      progressBars_{&ProgressBar0, &ProgressBar1, &ProgressBar2, &ProgressBar3,
                    &ProgressBar4, &ProgressBar5, &ProgressBar6, &ProgressBar7} {
  Metrics = DefaultTextMetrics();

  PortStatus.Left = 21;
  PortStatus.SetRowCount(5);

  PortStatusText.Left = 21;
  PortStatusText.Height = 17;
  PortStatusText.Caption = "Port Status:";
  PortStatusText.Bold = true;

  DownloadStatus.Left = 17;
  DownloadStatus.Width = 336;

  for (int slot = 0; slot < 8; ++slot) {
    TEdit& name = ProgName(slot);
    name.Left = 5;
    name.Top = 24 + 24 * slot;
    name.Width = 87;
    name.Height = 19;
    name.Tag = slot;
    name.Visible = slot == 0;

    TGauge& bar = ProgressBar(slot);
    bar.Left = 98;
    bar.Top = 22 + 24 * slot;
    bar.Height = 19;
    bar.Tag = slot;
    bar.Visible = slot == 0;
  }

  StaticText1.Left = 4;
  StaticText1.Top = 4;
  StaticText1.Caption = "DownloadStatus:";
  StaticText1.Bold = true;

  TXStatus.Left = 8;
  TXStatus.Width = 10;
  TXStatus.Height = 10;
  TXStatus.Visible = false;

  EMessage.Left = 63;
  EMessage.Top = 12;
  EMessage.Width = 282;
  EMessage.Height = 39;

  WarningImage.Left = 22;
  WarningImage.Top = 10;
  WarningImage.Width = 32;
  WarningImage.Height = 32;
  WarningImage.Visible = false;

  ScanningText.Left = 104;
  ScanningText.Width = 81;
  ScanningText.Height = 17;
  ScanningText.Text = "Scanning...";
  ScanningText.Bold = true;
  ScanningText.Visible = false;

  DownloadButton.Caption = "&Download";
  DownloadButton.Width = kButtonWidth;
  DownloadButton.Height = kButtonHeight;
  DownloadButton.ModalResult = kModalDownload;
  DownloadButton.Enabled = false;
  DownloadButton.Visible = false;
}

TEdit& TProgressForm::ProgName(int slot) {
  return *progNames_[static_cast<std::size_t>(std::clamp(slot, 0, 7))];
}

TGauge& TProgressForm::ProgressBar(int slot) {
  return *progressBars_[static_cast<std::size_t>(std::clamp(slot, 0, 7))];
}

const TEdit& TProgressForm::ProgName(int slot) const {
  return *progNames_[static_cast<std::size_t>(std::clamp(slot, 0, 7))];
}

const TGauge& TProgressForm::ProgressBar(int slot) const {
  return *progressBars_[static_cast<std::size_t>(std::clamp(slot, 0, 7))];
}

int TProgressForm::Open(bool clearRows, const std::string& message) {
  int result = -1;
  ClearRows = clearRows;
  EMessage.Lines.clear();
  if (!message.empty()) EMessage.Lines.push_back(message);
  PortStatus.Selection = TGridRect{};

  const bool noPrompts = (RunFlags & kNoPrompts) != 0;
  if (message.empty()) {
    EMessage.Visible = false;
    WarningImage.Visible = false;
    if (noPrompts) {
      RefreshDisplay();
    } else {
      FormShow();
      Showing = true;
      Windows().ShowProgressWindow(*this);
    }
    return result;
  }

  EMessage.Visible = true;
  WarningImage.Visible = true;
  for (int row = 1; row < PortStatus.RowCount(); ++row) {
    if (PortStatus.Cell(kMarkColumn, row) == kMark) {
      PortStatus.SetTopRow(row);
      break;
    }
  }
  DownloadButton.Enabled = false;
  if (noPrompts) {
    RefreshDisplay();
    return kModalCancel;
  }
  Windows().Beep();
  FormShow();
  Showing = true;
  result = Windows().ShowProgressWindowModal(*this);
  // Ending the modal dialog, by Download or the close box, closes the window.
  Close();
  return result == kModalDownload ? kModalDownload : kModalCancel;
}

void TProgressForm::Close() {
  FormClose();
  Windows().CloseProgressWindow(*this);
  Showing = false;
}

void TProgressForm::FormShow() {
  for (int col = 0; col < static_cast<int>(kColumnSamples.size()); ++col) {
    const ColumnSample& column = kColumnSamples[static_cast<std::size_t>(col)];
    PortStatus.SetCell(col, 0, std::string(column.header));
    PortStatus.ColWidths[static_cast<std::size_t>(col)] =
        Metrics->Extent(column.sample).width + column.margin;
  }
  if (CustomProduct) PortStatus.ColWidths[kVersionColumn] = 0;
  RefreshDisplay();
}

void TProgressForm::FormClose() {
  Repaint();
  ProcessMessagesFor(kCloseHold);
}

void TProgressForm::RefreshDisplay() {
  TXStatus.Visible = false;

  // Rows: one per port, the names in column 0.
  const int ports = static_cast<int>(PortList.size());
  PortStatus.SetRowCount(ports > 0 ? ports + 1 : 2);
  PortStatus.FixedRows = 1;
  for (int row = 1; row < PortStatus.RowCount(); ++row) {
    if (ClearRows) PortStatus.ClearRow(row);
    if (ports > 0) PortStatus.SetCell(0, row, PortList[static_cast<std::size_t>(row - 1)] + ":");
  }

  // Vertical placement: the prompt as high as its lines need, at least as designed.
  const TextMetrics& metrics = *Metrics;
  const bool selection = InSelectionMode();
  std::string prompt;
  for (const std::string& line : EMessage.Lines) prompt += (prompt.empty() ? "" : "\n") + line;
  EMessage.Height = std::max(kMessageHeight, metrics.WrappedHeight(prompt, EMessage.Width));
  const TextSize portStatus = metrics.Extent(PortStatusText.Caption, true);
  PortStatusText.Width = portStatus.width;
  PortStatusText.Height = std::max(kTextHeight, portStatus.height);
  PortStatusText.Top =
      selection ? EMessage.Top + EMessage.Height + kSelectionTextGap : kProgressModeTextTop;
  const TextSize scanning = metrics.Extent(ScanningText.Text, true);
  ScanningText.Left =
      std::max(kScanningLeft, PortStatusText.Left + PortStatusText.Width + kTextGap);
  ScanningText.Width = std::max(kScanningWidth, scanning.width);
  ScanningText.Height = std::max(kTextHeight, scanning.height);
  ScanningText.Top = PortStatusText.Top;
  PortStatus.Top = PortStatusText.Top + PortStatusText.Height;

  // Widths: columns 0..4 are visible, 5 and 6 fall outside. Slot captions wider than
  // designed push the bars right, and the window grows with them.
  int visibleColumns = 0;
  for (int col = 0; col < static_cast<int>(kColumnSamples.size()); ++col) {
    visibleColumns += PortStatus.ColWidths[static_cast<std::size_t>(col)];
  }
  PortStatus.Width = kGridFrame + visibleColumns;
  const int rows = PortStatus.RowCount();
  if (rows > TStringGrid::kVisibleDataRows + 1) PortStatus.Width += kScrollBarWidth;
  const int captionWidth =
      std::max(kCaptionWidth, metrics.Extent(kWidestCaption).width + kTextRoom);
  const int captionGrowth = captionWidth - kCaptionWidth;
  Width = std::max(PortStatus.Left + PortStatus.Width + kWindowRightMargin + captionGrowth,
                   DownloadStatus.Left + kPanelWidth + kDialogFrameWidth);

  // The header and at most six data rows.
  PortStatus.Height = PortStatus.RowPitch() * std::min(rows, TStringGrid::kVisibleDataRows + 1) +
                      kGridHeightBeyondRows;
  DownloadStatus.Top = PortStatus.Top + PortStatus.Height + 9;
  DownloadStatus.Width = std::max(kPanelWidth, Width - kBarsBeyondPanel);
  const TextSize title = metrics.Extent(StaticText1.Caption, true);
  StaticText1.Width = title.width;
  StaticText1.Height = std::max(kTextHeight, title.height);
  const int lineHeight = metrics.Extent("Xg").height;
  const int captionHeight = std::max(kCaptionHeight, lineHeight + kTextRoom);
  const int barHeight = std::max(kBarHeight, lineHeight + kBarTextRoom);
  const int slotPitch =
      std::max(kSlotPitch, std::max(kCaptionBelowBar + captionHeight, barHeight) + kSlotGap);
  const int firstBarTop = std::max(kFirstBarTop, StaticText1.Top + StaticText1.Height + 1);
  for (int slot = 0; slot < 8; ++slot) {
    TGauge& bar = ProgressBar(slot);
    bar.Left = kBarLeft + captionGrowth;
    bar.Top = firstBarTop + slotPitch * slot;
    bar.Width = Width - kGaugeWidthMargin - captionGrowth;
    bar.Height = barHeight;
    TEdit& caption = ProgName(slot);
    caption.Top = bar.Top + kCaptionBelowBar;
    caption.Width = captionWidth;
    caption.Height = captionHeight;
  }
  DownloadStatus.Visible = !selection;
  AssignProgressBars();

  DownloadButton.Width =
      std::max(kButtonWidth,
               metrics.Extent(WithoutAccessKey(DownloadButton.Caption)).width + kButtonTextRoom);
  DownloadButton.Height = std::max(kButtonHeight, lineHeight + kButtonTextHeightRoom);
  DownloadButton.Visible = selection;
  DownloadButton.Top = PortStatus.Top + PortStatus.Height + 15;
  DownloadButton.Left = Width / 2 - DownloadButton.Width / 2;

  Height = selection ? DownloadButton.Top + DownloadButton.Height + kWindowBottomMargin
                     : DownloadStatus.Top + DownloadStatus.Height + kWindowBottomMargin;
}

void TProgressForm::AssignProgressBars() {
  const int slotCount = ImageBuffer.SlotCount();
  const uint8_t target = ImageBuffer.TargetDevice();
  const bool numbered = target >= 3 && target <= 6;
  for (int slot = 0; slot < 8; ++slot) {
    TEdit& name = ProgName(slot);
    TGauge& bar = ProgressBar(slot);
    if (slot > slotCount - 1) {
      name.Visible = false;
      bar.Visible = false;
      continue;
    }
    name.Visible = true;
    name.Text = numbered ? "Firmware Slot " + std::to_string(slot) : "Firmware Slot";
    bar.Visible = true;
    bar.Progress = 0;
    bar.MaxValue = ImageBuffer.PacketCount(static_cast<std::size_t>(slot));
  }
  // The panel's height as designed leaves the last bar of seven or eight slots one or two
  // pixels short; the panel grows to hold every visible bar and caption whole.
  int height = kPanelHeightPerSlot * slotCount + kPanelHeightPerSlot;
  for (int slot = 0; slot < slotCount && slot < 8; ++slot) {
    const TGauge& bar = ProgressBar(slot);
    const TEdit& caption = ProgName(slot);
    height = std::max({height, bar.Top + bar.Height, caption.Top + caption.Height});
  }
  DownloadStatus.Height = height;
}

void TProgressForm::StepIt(int slot) {
  if (slot < 0 || slot > 7) return;
  TGauge& bar = ProgressBar(slot);
  const int before = bar.PercentDone();
  bar.Progress = std::clamp(bar.Progress + 1, 0, bar.MaxValue);
  if (bar.PercentDone() != before) Repaint();
  if ((RunFlags & kUpdates) != 0) {
    ReportLine(kChannelInfo, "112-SLOT=" + std::to_string(slot) +
                                 " PROGRESS=" + std::to_string(bar.PercentDone()) + "%");
  }
}

void TProgressForm::PortStatusSelectCell(int, int row, bool& canSelect) {
  canSelect = InSelectionMode() && PortStatus.Cell(kMarkColumn, row) == kMark;
  DownloadButton.Enabled = PortStatus.HasSelection();
}

void TProgressForm::PortStatusMouseDown(int x, int y) {
  const int h = PortStatus.RowPitch();
  if (InSelectionMode() && x <= PortStatus.ColWidths[0] && y >= h) {
    const int row = y / h + PortStatus.TopRow() - 1;
    if (PortStatus.Cell(kMarkColumn, row) == kMark) {
      PortStatus.Selection = TGridRect{1, row, 4, row};
    }
  }
  DownloadButton.Enabled = PortStatus.HasSelection();
}

void TProgressForm::PortStatusClick(int x, int y) {
  // Column by the visible widths, each followed by a one-pixel grid line.
  int col = 0;
  for (int left = 0; col < TStringGrid::kColCount; ++col) {
    left += PortStatus.ColWidths[static_cast<std::size_t>(col)] + 1;
    if (x < left) break;
  }
  const int h = PortStatus.RowPitch();
  const int row = y < h ? 0 : y / h + PortStatus.TopRow() - 1;
  const bool dataCell = col >= PortStatus.FixedCols && col < TStringGrid::kColCount &&
                        row >= PortStatus.FixedRows && row < PortStatus.RowCount();
  if (dataCell) {
    bool canSelect = true;
    PortStatusSelectCell(col, row, canSelect);
    if (canSelect) {
      PortStatus.Selection = TGridRect{PortStatus.FixedCols, row, TStringGrid::kColCount - 1, row};
    }
  }
  PortStatusMouseDown(x, y);
}

int TProgressForm::MarkedRowFrom(int row, int step) const {
  const TStringGrid& grid = PortStatus;
  for (; row >= grid.FixedRows && row < grid.RowCount(); row += step) {
    if (grid.Cell(kMarkColumn, row) == kMark) return row;
  }
  return -1;
}

void TProgressForm::PortStatusKey(GridKey key) {
  TStringGrid& grid = PortStatus;
  if (!InSelectionMode()) return;
  const int first = grid.FixedRows;
  const int last = grid.RowCount() - 1;
  const int page = TStringGrid::kVisibleDataRows;
  int row = -1;
  if (!grid.HasSelection() && key != GridKey::kHome && key != GridKey::kEnd) {
    // The first key chooses the first marked row in view (Open put one at the top).
    row = MarkedRowFrom(grid.TopRow(), +1);
    if (row < 0) row = MarkedRowFrom(grid.TopRow(), -1);
  } else {
    const int current = grid.Selection.Top;
    switch (key) {
      case GridKey::kUp:
        row = MarkedRowFrom(current - 1, -1);
        break;
      case GridKey::kDown:
        row = MarkedRowFrom(current + 1, +1);
        break;
      case GridKey::kPageUp:
        // The farthest marked row within a page, else the next one beyond it.
        row = MarkedRowFrom(std::max(current - page, first), +1);
        if (row < 0 || row >= current) row = MarkedRowFrom(current - 1, -1);
        break;
      case GridKey::kPageDown:
        row = MarkedRowFrom(std::min(current + page, last), -1);
        if (row <= current) row = MarkedRowFrom(current + 1, +1);
        break;
      case GridKey::kHome:
        row = MarkedRowFrom(first, +1);
        break;
      case GridKey::kEnd:
        row = MarkedRowFrom(last, -1);
        break;
    }
  }
  if (row < 0) return;
  bool canSelect = true;
  PortStatusSelectCell(grid.FixedCols, row, canSelect);
  if (!canSelect) return;
  grid.Selection = TGridRect{grid.FixedCols, row, TStringGrid::kColCount - 1, row};
  if (row < grid.TopRow()) {
    grid.SetTopRow(row);
  } else if (row > grid.TopRow() + TStringGrid::kVisibleDataRows - 1) {
    grid.SetTopRow(row - (TStringGrid::kVisibleDataRows - 1));
  }
  // Unlike a click, no mouse-down follows a key: Download follows the new selection here.
  DownloadButton.Enabled = grid.HasSelection();
}

bool TProgressForm::IsRowGreyed(int row) const {
  return row > 0 && InSelectionMode() && PortStatus.Cell(kMarkColumn, row) != kMark;
}

void TProgressForm::Repaint() {
  Windows().RepaintProgressWindow(*this);
}

}  // namespace downloader
