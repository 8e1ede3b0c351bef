#include <gtest/gtest.h>

#include "download/download.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "ui/download_test_state.h"
#include "ui/forms.h"

namespace downloader {
namespace {

// Target selection works on the grid the scan left; these tests write it directly.
class SelectTargetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    windows = &testing::ResetDownloaderState();
    testing::SetTestImage(3, {4});
  }

  // One port per entry: the type the scan wrote into column 5 ("" for an ignored port).
  void Grid(const std::vector<std::string>& types) {
    PortList.clear();
    for (std::size_t i = 0; i < types.size(); ++i) {
      PortList.push_back("COM" + std::to_string(i + 1));
    }
    ProgressForm->Open(true, "");
    for (std::size_t i = 0; i < types.size(); ++i) {
      ProgressForm->PortStatus.SetCell(5, static_cast<int>(i) + 1, types[i]);
    }
  }

  std::vector<int> MarkedRows() const {
    std::vector<int> rows;
    for (int r = 1; r < ProgressForm->PortStatus.RowCount(); ++r) {
      if (ProgressForm->PortStatus.Cell(6, r) == "+") rows.push_back(r);
    }
    return rows;
  }

  testing::FakeWindowSystem* windows = nullptr;
  testing::StatusCapture status;
};

TEST_F(SelectTargetTest, SingleMatchIsTakenAndScrolledIntoView) {
  Grid({"2", "0", "0", "4", "0", "5", "0", "0", "3", "0"});
  ASSERT_EQ(ProgressForm->PortStatus.TopRow(), 1);
  EXPECT_EQ(SelectTargetDevice(), 8);
  EXPECT_EQ(MarkedRows(), std::vector<int>{9});
  EXPECT_EQ(ProgressForm->PortStatus.TopRow(), 4);
  EXPECT_TRUE(status.Lines().empty());
  EXPECT_EQ(windows->closes, 0);

  ProgressForm->PortStatus.SetTopRow(5);
  Grid({"3", "0", "0", "0", "0", "0", "0", "0", "0", "0"});
  EXPECT_EQ(SelectTargetDevice(), 0);
  EXPECT_EQ(ProgressForm->PortStatus.TopRow(), 1);
}

TEST_F(SelectTargetTest, NoMatchReportsTheProductAndClosesTheWindow) {
  // Ignored, failed and empty ports count as type 0 and are never marked.
  Grid({"", "0", "0", "2"});
  ProgressForm->PortStatus.SetCell(1, 1, "ignoring");
  ProgressForm->PortStatus.SetCell(1, 4, "Korvanetics C");  // a name proves nothing
  ProgressForm->PortStatus.SetCell(2, 4, "v1.0");
  DeviceNames[3] = "Acme Widget";
  EXPECT_EQ(SelectTargetDevice(), kNoTarget);
  EXPECT_TRUE(MarkedRows().empty());
  EXPECT_EQ(status.Lines(), std::vector<std::string>{"ERR:023-No Acme Widget found."});
  EXPECT_EQ(windows->errorDialogs, std::vector<std::string>{"#023\r\nNo Acme Widget found."});
  EXPECT_EQ(windows->closes, 1);
}

TEST_F(SelectTargetTest, GridContentOutsideTheTypesIsNotCounted) {
  Grid({"7", "-1", "abc", "4096", "2147483647"});
  EXPECT_EQ(SelectTargetDevice(), kNoTarget);
  EXPECT_TRUE(MarkedRows().empty());

  testing::SetTestImage(7, {4}, "Odd");  // a type with no table entry
  Grid({"0", "3"});
  EXPECT_EQ(SelectTargetDevice(), kNoTarget);
  EXPECT_EQ(status.Lines().back().rfind("ERR:023-No ", 0), 0u);
}

TEST_F(SelectTargetTest, DuplicatesUnderNoPromptsEndWith026Only) {
  testing::UseRunFlags(kNoPrompts);
  Grid({"3", "0", "3", "0"});
  EXPECT_EQ(SelectTargetDevice(), kNoTarget);
  EXPECT_EQ(MarkedRows(), (std::vector<int>{1, 3}));
  EXPECT_EQ(status.Lines(),
            std::vector<std::string>{
                "ERR:026-Duplicate devices found.  Select COM port of desired unit."});
  EXPECT_EQ(status.Bytes().back(), '\x04');
  EXPECT_EQ(windows->modalShows, 0);
  EXPECT_TRUE(windows->errorDialogs.empty());
}

TEST_F(SelectTargetTest, DuplicatesLetTheUserChoose) {
  Grid({"3", "0", "0", "3"});
  windows->answerModal = [](TProgressForm& form) {
    form.PortStatusMouseDown(5, 4 * 19 + 5);  // the port name of row 4
    return form.DownloadButton.Enabled ? kModalDownload : kModalCancel;
  };
  const int showsBefore = windows->shows;
  EXPECT_EQ(SelectTargetDevice(), 3);
  EXPECT_EQ(status.Lines(), (std::vector<std::string>{"EVT:102-Duplicate devices found.",
                                                      "EVT:103-User selected device on COM4."}));
  EXPECT_EQ(windows->closes, 2);  // before the dialog, and the dialog itself
  EXPECT_EQ(windows->beeps, 1);
  EXPECT_EQ(windows->shows, showsBefore + 1);  // back in progress mode
  EXPECT_FALSE(ProgressForm->InSelectionMode());
  EXPECT_EQ(MarkedRows(), (std::vector<int>{1, 4}));
}

TEST_F(SelectTargetTest, DuplicatesDialogClosedCancels) {
  Grid({"3", "3"});
  EXPECT_EQ(SelectTargetDevice(), kNoTarget);
  EXPECT_EQ(status.Lines(), (std::vector<std::string>{"EVT:102-Duplicate devices found.",
                                                      "EVT:033-User cancelled device selection."}));
  EXPECT_EQ(windows->modalShows, 1);
}

}  // namespace
}  // namespace downloader
