#include "ui/progress_form.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <vector>

#include "run/run_state.h"
#include "serial/globals.h"
#include "support/run_process.h"
#include "ui/download_test_state.h"
#include "ui/forms.h"

namespace downloader {
namespace {

using testing::FakeWindowSystem;
using testing::SetTestImage;
using testing::StatusCapture;

class ProgressFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windows = &testing::ResetDownloaderState();
    form = ProgressForm;
  }

  void UsePorts(int count) {
    PortList.clear();
    for (int i = 1; i <= count; ++i) PortList.push_back("COM" + std::to_string(i));
  }

  // The pixel position inside the grid of column 0 or of a data cell, for clicks.
  int RowY(int row) const { return (row - form->PortStatus.TopRow() + 1) * 19 + 5; }
  int DataX() const { return form->PortStatus.ColWidths[0] + 10; }

  FakeWindowSystem* windows = nullptr;
  TProgressForm* form = nullptr;
};

TEST_F(ProgressFormTest, FourPortsOneSlotLayout) {
  SetTestImage(3, {10});
  EXPECT_EQ(form->Open(true, ""), -1);
  EXPECT_EQ(windows->shows, 1);
  EXPECT_TRUE(form->Showing);

  EXPECT_EQ(form->PortStatus.RowCount(), 5);
  EXPECT_EQ(form->PortStatusText.Top, 10);
  EXPECT_EQ(form->ScanningText.Top, 10);
  EXPECT_EQ(form->PortStatus.Top, 27);
  EXPECT_EQ(form->PortStatus.Height, 99);
  EXPECT_EQ(form->DownloadStatus.Top, 135);
  EXPECT_EQ(form->DownloadStatus.Height, 46);
  EXPECT_EQ(form->Height, 218);
  EXPECT_TRUE(form->DownloadStatus.Visible);
  EXPECT_FALSE(form->DownloadButton.Visible);
  EXPECT_FALSE(form->TXStatus.Visible);

  const char* headers[] = {"Port:", "Device Type:", "Version:", "Loopback:", "Echo:", "", ""};
  for (int col = 0; col < 7; ++col) EXPECT_EQ(form->PortStatus.Cell(col, 0), headers[col]);
  EXPECT_EQ(form->PortStatus.Cell(0, 1), "COM1:");
  EXPECT_EQ(form->PortStatus.Cell(0, 4), "COM4:");
}

TEST_F(ProgressFormTest, WidthsFollowTheMeasuredSampleTexts) {
  SetTestImage(3, {10});
  // A font in which every sample text is 40 pixels wide, the longest 100.
  struct SampleMetrics final : TextMetrics {
    TextSize Extent(std::string_view text, bool) const override {
      return {text == "No Korvanetics Found" ? 100 : 40, 13};
    }
    int WrappedHeight(std::string_view, int, bool) const override { return 13; }
  };
  form->Metrics = std::make_shared<SampleMetrics>();
  form->Open(true, "");
  const std::array<int, 7> expected = {45, 115, 48, 48, 48, 64, 64};
  EXPECT_EQ(form->PortStatus.ColWidths, expected);
  EXPECT_EQ(form->PortStatus.Width, 9 + 45 + 115 + 48 + 48 + 48);  // columns 5, 6 unseen
  EXPECT_EQ(form->Width, 21 + 313 + 26);
  EXPECT_EQ(form->ProgressBar0.Width, 360 - 142);
  EXPECT_EQ(form->ProgressBar7.Width, 360 - 142);  // hidden bars too
  EXPECT_EQ(form->DownloadButton.Left, 180 - 37);
}

TEST_F(ProgressFormTest, TenPortsScrollAndWidenTheGrid) {
  SetTestImage(3, {10});
  form->Open(true, "");
  const int fourPortWidth = form->PortStatus.Width;
  const int fourPortWindow = form->Width;

  UsePorts(10);
  form->Open(true, "");
  EXPECT_EQ(form->PortStatus.RowCount(), 11);
  EXPECT_EQ(form->PortStatus.Height, 137);
  EXPECT_EQ(form->PortStatus.Width, fourPortWidth + 16);
  EXPECT_EQ(form->Width, fourPortWindow + 16);
  EXPECT_EQ(form->DownloadStatus.Top, 27 + 137 + 9);

  // Six rows: the grid just fits; seven rows: it stops growing.
  UsePorts(5);
  form->Open(true, "");
  EXPECT_EQ(form->PortStatus.Height, 19 * 6 + 4);
  EXPECT_EQ(form->PortStatus.Width, fourPortWidth);
  UsePorts(6);
  form->Open(true, "");
  EXPECT_EQ(form->PortStatus.Height, 137);
  EXPECT_EQ(form->PortStatus.Width, fourPortWidth);

  UsePorts(0);
  form->Open(true, "");
  EXPECT_EQ(form->PortStatus.RowCount(), 2);
}

TEST_F(ProgressFormTest, CustomProductHidesTheVersionColumnButKeepsItsCells) {
  SetTestImage(3, {10});
  form->Open(true, "");
  const int normalVersionWidth = form->PortStatus.ColWidths[2];
  const int normalWidth = form->PortStatus.Width;
  ASSERT_GT(normalVersionWidth, 0);

  form->PortStatus.SetCell(2, 1, "v1.0");
  CustomProduct = true;
  form->Open(false, "");
  EXPECT_EQ(form->PortStatus.ColWidths[2], 0);
  EXPECT_EQ(form->PortStatus.Width, normalWidth - normalVersionWidth);
  EXPECT_EQ(form->PortStatus.Cell(2, 1), "v1.0");
}

TEST_F(ProgressFormTest, SlotCaptionsAndBarsFollowTheImage) {
  SetTestImage(4, {5, 6, 7});
  form->Open(true, "");
  EXPECT_EQ(form->DownloadStatus.Height, 92);
  EXPECT_EQ(form->Height, 135 + 92 + 37);
  for (int slot = 0; slot < 3; ++slot) {
    EXPECT_TRUE(form->ProgName(slot).Visible);
    EXPECT_EQ(form->ProgName(slot).Text, "Firmware Slot " + std::to_string(slot));
    EXPECT_TRUE(form->ProgressBar(slot).Visible);
    EXPECT_EQ(form->ProgressBar(slot).MaxValue, 5 + slot);
    EXPECT_EQ(form->ProgressBar(slot).Progress, 0);
  }
  for (int slot = 3; slot < 8; ++slot) {
    EXPECT_FALSE(form->ProgName(slot).Visible) << slot;
    EXPECT_FALSE(form->ProgressBar(slot).Visible) << slot;
  }

  SetTestImage(2, {4});
  form->Open(true, "");
  EXPECT_EQ(form->ProgName0.Text, "Firmware Slot");
  EXPECT_FALSE(form->ProgName1.Visible);
}

TEST_F(ProgressFormTest, ThePanelHoldsEveryBarWhole) {
  // Up to four slots the panel keeps its designed height; from five on it grows to the last
  // caption's bottom edge (2 pixels below its bar's), and the window with it.
  const std::array<int, 9> heights = {0, 46, 69, 92, 115, 139, 163, 187, 211};
  for (int slots = 1; slots <= 8; ++slots) {
    SetTestImage(3, std::vector<int>(static_cast<std::size_t>(slots), 2));
    form->Open(true, "");
    EXPECT_EQ(form->DownloadStatus.Height, heights[static_cast<std::size_t>(slots)]) << slots;
    const TGauge& last = form->ProgressBar(slots - 1);
    EXPECT_LE(last.Top + last.Height, form->DownloadStatus.Height) << slots;
    const TEdit& caption = form->ProgName(slots - 1);
    EXPECT_LE(caption.Top + caption.Height, form->DownloadStatus.Height) << slots;
    EXPECT_EQ(form->Height, form->DownloadStatus.Top + form->DownloadStatus.Height + 37);
  }
}

TEST_F(ProgressFormTest, KeysMoveTheSelectionAmongMarkedRowsOnly) {
  UsePorts(10);
  SetTestImage(3, {10});
  form->Open(true, "");
  for (int row : {2, 4, 5, 10}) form->PortStatus.SetCell(6, row, "+");
  form->PortStatusKey(GridKey::kDown);  // progress mode: nothing
  EXPECT_FALSE(form->PortStatus.HasSelection());

  windows->answerModal = [&](TProgressForm& f) {
    const auto selected = [&] { return f.PortStatus.Selection.Top; };
    f.PortStatusKey(GridKey::kDown);  // the first marked row, on top since Open
    EXPECT_EQ(selected(), 2);
    EXPECT_TRUE(f.DownloadButton.Enabled);  // at once, no mouse-down follows a key
    f.PortStatusKey(GridKey::kDown);        // over the grey row 3
    EXPECT_EQ(selected(), 4);
    f.PortStatusKey(GridKey::kPageDown);  // the farthest marked row within six
    EXPECT_EQ(selected(), 10);
    EXPECT_EQ(f.PortStatus.TopRow(), 5);  // scrolled into view
    f.PortStatusKey(GridKey::kDown);      // no marked row below: stays
    EXPECT_EQ(selected(), 10);
    f.PortStatusKey(GridKey::kUp);  // over the grey rows 9 .. 6
    EXPECT_EQ(selected(), 5);
    f.PortStatusKey(GridKey::kHome);
    EXPECT_EQ(selected(), 2);
    EXPECT_EQ(f.PortStatus.TopRow(), 2);
    f.PortStatusKey(GridKey::kUp);
    EXPECT_EQ(selected(), 2);
    f.PortStatusKey(GridKey::kEnd);
    EXPECT_EQ(selected(), 10);
    f.PortStatusKey(GridKey::kPageUp);  // 4 .. 9 hold 4 and 5: the farthest
    EXPECT_EQ(selected(), 4);
    return kModalDownload;
  };
  EXPECT_EQ(form->Open(false, "Choose."), kModalDownload);
  EXPECT_EQ(form->PortStatus.Selection.Top, 4);
}

TEST_F(ProgressFormTest, NoPromptsLaysOutWithoutShowingAnything) {
  RunFlags = kNoPrompts;
  SetTestImage(3, {10});
  EXPECT_EQ(form->Open(true, ""), -1);
  EXPECT_EQ(windows->shows, 0);
  EXPECT_FALSE(form->Showing);
  EXPECT_EQ(form->PortStatus.RowCount(), 5);
  EXPECT_EQ(form->PortStatus.Cell(0, 3), "COM3:");
  EXPECT_EQ(form->Height, 218);
  // Never shown, so the designed column widths stand.
  EXPECT_EQ(form->PortStatus.Width, 9 + 64 + 74 + 64 + 64 + 64);

  form->PortStatus.SetCell(6, 2, "+");
  form->PortStatus.SetCell(6, 3, "+");
  EXPECT_EQ(form->Open(false, "Pick one."), 2);
  EXPECT_EQ(windows->beeps, 0);
  EXPECT_EQ(windows->modalShows, 0);
  EXPECT_TRUE(form->InSelectionMode());
  EXPECT_FALSE(form->DownloadButton.Enabled);
}

TEST_F(ProgressFormTest, ClearRowsEmptiesThePortRowsAndMarks) {
  SetTestImage(3, {10});
  form->Open(true, "");
  for (int col = 1; col < 7; ++col) form->PortStatus.SetCell(col, 2, "x");
  form->PortStatus.SetCell(6, 2, "+");

  form->Open(false, "");
  EXPECT_EQ(form->PortStatus.Cell(1, 2), "x");
  EXPECT_EQ(form->PortStatus.Cell(6, 2), "+");

  form->Open(true, "");
  for (int col = 1; col < 7; ++col) EXPECT_EQ(form->PortStatus.Cell(col, 2), "") << col;
  EXPECT_EQ(form->PortStatus.Cell(0, 2), "COM2:");
  EXPECT_EQ(form->PortStatus.Cell(0, 0), "Port:");
}

TEST_F(ProgressFormTest, SelectionModeLayoutAndFirstMarkedRowOnTop) {
  UsePorts(10);
  SetTestImage(3, {10});
  form->Open(true, "");
  form->PortStatus.SetCell(6, 3, "+");
  form->PortStatus.SetCell(6, 9, "+");

  bool inspected = false;
  windows->answerModal = [&](TProgressForm& shown) {
    inspected = true;
    EXPECT_EQ(windows->beeps, 1);  // before the window appears
    EXPECT_EQ(shown.PortStatus.TopRow(), 3);
    EXPECT_TRUE(shown.WarningImage.Visible);
    EXPECT_EQ(shown.EMessage.Lines, std::vector<std::string>{"Choose."});
    EXPECT_EQ(shown.PortStatusText.Top, 76);
    EXPECT_EQ(shown.PortStatus.Top, 93);
    EXPECT_FALSE(shown.DownloadStatus.Visible);
    EXPECT_TRUE(shown.DownloadButton.Visible);
    EXPECT_FALSE(shown.DownloadButton.Enabled);
    EXPECT_FALSE(shown.PortStatus.HasSelection());
    EXPECT_EQ(shown.DownloadButton.Top, 93 + 137 + 15);
    EXPECT_EQ(shown.DownloadButton.Left, shown.Width / 2 - 37);
    EXPECT_EQ(shown.Height, 93 + 137 + 15 + 25 + 37);
    return 77;  // anything but Download counts as closed
  };
  const auto start = std::chrono::steady_clock::now();
  const int repaints = windows->repaints;
  EXPECT_EQ(form->Open(false, "Choose."), 2);
  EXPECT_TRUE(inspected);
  EXPECT_FALSE(form->Showing);
  // Closing the dialog repaints it and holds it for 100 ms, as every close does.
  EXPECT_EQ(windows->repaints, repaints + 1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(ProgressFormTest, OnlyMarkedRowsCanBeChosen) {
  SetTestImage(3, {10});
  form->Open(true, "");
  form->PortStatus.SetCell(6, 2, "+");
  form->PortStatus.SetCell(6, 4, "+");

  windows->answerModal = [&](TProgressForm& f) {
    EXPECT_TRUE(f.IsRowGreyed(1));
    EXPECT_FALSE(f.IsRowGreyed(2));
    EXPECT_TRUE(f.IsRowGreyed(3));
    EXPECT_FALSE(f.IsRowGreyed(0));

    // The port name of a grey row: nothing.
    f.PortStatusClick(5, RowY(1));
    EXPECT_FALSE(f.PortStatus.HasSelection());
    EXPECT_FALSE(f.DownloadButton.Enabled);
    // A data cell of a grey row: refused.
    f.PortStatusClick(DataX(), RowY(3));
    EXPECT_FALSE(f.PortStatus.HasSelection());
    EXPECT_FALSE(f.DownloadButton.Enabled);
    // The port name of a marked row: columns 1..4 of it, and Download enabled.
    f.PortStatusClick(5, RowY(2));
    EXPECT_EQ(f.PortStatus.Selection.Left, 1);
    EXPECT_EQ(f.PortStatus.Selection.Right, 4);
    EXPECT_EQ(f.PortStatus.Selection.Top, 2);
    EXPECT_TRUE(f.DownloadButton.Enabled);
    // A data cell of the other marked row moves the selection there.
    f.PortStatusClick(DataX(), RowY(4));
    EXPECT_EQ(f.PortStatus.Selection.Top, 4);
    EXPECT_TRUE(f.DownloadButton.Enabled);
    return kModalDownload;
  };
  EXPECT_EQ(form->Open(false, "Choose."), kModalDownload);
  EXPECT_EQ(form->PortStatus.Selection.Top, 4);

  // Reopened for progress, nothing is selectable and the marks stay.
  form->Open(false, "");
  EXPECT_FALSE(form->PortStatus.HasSelection());
  EXPECT_FALSE(form->IsRowGreyed(1));
  form->PortStatusClick(DataX(), RowY(2));
  EXPECT_FALSE(form->PortStatus.HasSelection());
  EXPECT_EQ(form->PortStatus.Cell(6, 2), "+");
}

TEST_F(ProgressFormTest, SelectCellEnablesDownloadFromThePreviousSelection) {
  form->Open(true, "");
  form->PortStatus.SetCell(6, 1, "+");
  RunFlags = kNoPrompts;
  form->Open(false, "Choose.");

  bool canSelect = false;
  form->PortStatusSelectCell(2, 1, canSelect);
  EXPECT_TRUE(canSelect);
  EXPECT_FALSE(form->DownloadButton.Enabled);  // the event comes before the move
  form->PortStatusSelectCell(2, 2, canSelect);
  EXPECT_FALSE(canSelect);
  form->PortStatusSelectCell(2, 99, canSelect);  // outside the grid: an empty mark
  EXPECT_FALSE(canSelect);
}

TEST_F(ProgressFormTest, StepItWritesTruncatedPercentagesWithUpdates) {
  RunFlags = kNoPrompts | kUpdates;
  SetTestImage(3, {3, 128});
  form->Open(true, "");
  StatusCapture status;
  for (int i = 0; i < 4; ++i) form->StepIt(0);
  form->StepIt(1);
  EXPECT_EQ(form->ProgressBar0.Progress, 3);  // held at its maximum
  EXPECT_EQ(form->ProgressBar1.Progress, 1);
  const std::string expected = testing::StatusLine("INF:", "112-SLOT=0 PROGRESS=33%", false) +
                               testing::StatusLine("INF:", "112-SLOT=0 PROGRESS=66%", false) +
                               testing::StatusLine("INF:", "112-SLOT=0 PROGRESS=100%", false) +
                               testing::StatusLine("INF:", "112-SLOT=0 PROGRESS=100%", false) +
                               testing::StatusLine("INF:", "112-SLOT=1 PROGRESS=0%", false);
  EXPECT_EQ(status.Bytes(), expected) << testing::Visible(status.Bytes());
}

TEST_F(ProgressFormTest, StepItWithoutUpdatesWritesNothing) {
  RunFlags = kNoPrompts;
  SetTestImage(3, {3});
  form->Open(true, "");
  StatusCapture status;
  form->StepIt(0);
  form->StepIt(8);  // no such bar
  EXPECT_EQ(form->ProgressBar0.Progress, 1);
  EXPECT_EQ(status.Bytes(), "");
}

TEST_F(ProgressFormTest, CloseRepaintsAndHoldsTheFinalState) {
  form->Open(true, "");
  const int repaints = windows->repaints;
  const auto start = std::chrono::steady_clock::now();
  form->Close();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(windows->repaints, repaints + 1);
  EXPECT_EQ(windows->closes, 1);
  EXPECT_FALSE(form->Showing);
}

TEST(StringGrid, CellsOutsideTheGridAreEmptyAndUnwritable) {
  TStringGrid grid;
  grid.SetRowCount(3);
  grid.SetCell(7, 1, "x");
  grid.SetCell(1, 3, "x");
  grid.SetCell(-1, 0, "x");
  EXPECT_EQ(grid.Cell(7, 1), "");
  EXPECT_EQ(grid.Cell(1, 3), "");
  EXPECT_EQ(grid.Cell(1, -1), "");

  grid.SetRowCount(11);
  grid.SetTopRow(9);
  EXPECT_EQ(grid.TopRow(), 5);  // six data rows stay visible
  grid.SetTopRow(0);
  EXPECT_EQ(grid.TopRow(), 1);
}

}  // namespace
}  // namespace downloader
