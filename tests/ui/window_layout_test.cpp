// The windows' layout arithmetic without a toolkit: the designed geometry where the font
// leaves room for it, every text given room in a larger font, windows kept on the screen.

#include "ui/window_layout.h"

#include <gtest/gtest.h>

#include "download/download.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "ui/download_test_state.h"
#include "ui/forms.h"
#include "ui/window_walk.h"

namespace downloader {
namespace {

using testing::LayoutFaults;
using testing::ModelWindow;

constexpr ScreenRect kEverywhere{-100000, -100000, 200000, 200000};

TEST(WindowLayout, AWindowMovesOnlyAsFarAsTheWorkAreaNeeds) {
  const ScreenRect area{0, 0, 682, 512};  // 1024 x 768 at 150 %
  EXPECT_EQ(KeepInside({100, 100, 376, 361}, area), (ScreenRect{100, 100, 376, 361}));
  EXPECT_EQ(KeepInside({362, 142, 376, 361}, area), (ScreenRect{306, 142, 376, 361}));
  EXPECT_EQ(KeepInside({362, 200, 376, 361}, area), (ScreenRect{306, 151, 376, 361}));
  EXPECT_EQ(KeepInside({-20, -5, 376, 361}, {0, 30, 682, 482}), (ScreenRect{0, 30, 376, 361}));
  // Larger than the work area: the caption and the close box stay on it.
  EXPECT_EQ(KeepInside({362, 142, 900, 700}, area), (ScreenRect{0, 0, 900, 700}));
}

TEST(WindowLayout, TheInformationWindowKeepsItsDesignWhereTheTextsFit) {
  InformationView view;
  view.compileDate = "Saturday, January 1, 2000, 06:00 pm";
  const InformationLayout layout = LayOutInformationWindow(view, FixedTextMetrics(5, 13));
  EXPECT_EQ(layout.clientWidth, 368);
  EXPECT_EQ(layout.clientHeight, 334);
  EXPECT_EQ(layout.labels[3].Width, 70);
  EXPECT_EQ(layout.panels[3].Left, 90);
  EXPECT_EQ(layout.panels[3].Top, 86);
  EXPECT_EQ(layout.panels[0].Width, 263);
  EXPECT_EQ(layout.notes.Top, 129);
  EXPECT_EQ(layout.notes.Width, 338);
  EXPECT_EQ(layout.download.Left, 191);
  EXPECT_EQ(layout.cancel.Left, 279);
  EXPECT_EQ(layout.cancel.Top, 295);
}

// A font of wide characters, 10 pixels, in lines of 16 (the grid's rows hold them).
class LargeFont : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::ResetDownloaderState();
    PortList = {"COM1", "COM2", "COM3", "COM4"};
  }
  const std::shared_ptr<const TextMetrics> large = std::make_shared<FixedTextMetrics>(10, 16);
};

TEST_F(LargeFont, TheInformationWindowGrowsItsColumnsAndButtons) {
  InformationView view;
  view.product = "Korvanetics C";
  view.compileDate = "Wednesday, September 27, 2023, 12:00 pm";
  const InformationLayout layout = LayOutInformationWindow(view, *large);
  EXPECT_GE(layout.panels[0].Left, 16 + 130 + 2);  // "Compile Date:"
  EXPECT_GE(layout.field.Width, 39 * 10);
  EXPECT_GT(layout.clientWidth, 368);
  EXPECT_GE(layout.download.Width, 80 + 16);  // "Download"
  EXPECT_EQ(LayoutFaults(ModelWindow(layout, *large), kEverywhere), std::vector<std::string>{});

  // Within a narrow screen the fields stop growing; the label column still gets its room.
  const InformationLayout narrow = LayOutInformationWindow(view, *large, 500);
  EXPECT_EQ(narrow.clientWidth, 500);
  EXPECT_EQ(narrow.panels[0].Left, layout.panels[0].Left);
}

TEST_F(LargeFont, TheProgressWindowAndTheSelectionDialogGiveEveryTextItsRoom) {
  ProgressForm->Metrics = large;
  for (const int slots : {1, 8}) {
    testing::SetTestImage(3, std::vector<int>(static_cast<std::size_t>(slots), 4));
    ProgressForm->Open(true, "");
    ProgressForm->ScanningText.Visible = true;
    EXPECT_EQ(LayoutFaults(ModelWindow(*ProgressForm), kEverywhere), std::vector<std::string>{})
        << slots << " slots";
    // The bars keep their designed width beside the wider captions.
    const TStringGrid& grid = ProgressForm->PortStatus;
    EXPECT_EQ(ProgressForm->ProgressBar0.Width, grid.Left + grid.Width + 26 - 142);
    ProgressForm->ScanningText.Visible = false;
  }
  ProgressForm->PortStatus.SetCell(6, 1, "+");
  ProgressForm->PortStatus.SetCell(6, 2, "+");
  testing::UseRunFlags(kNoPrompts);  // laid out, not shown
  ProgressForm->Open(false, std::string(kSelectionPrompt));
  EXPECT_GT(ProgressForm->EMessage.Height, 39);
  EXPECT_EQ(ProgressForm->PortStatusText.Top,
            ProgressForm->EMessage.Top + ProgressForm->EMessage.Height + 25);
  EXPECT_EQ(LayoutFaults(ModelWindow(*ProgressForm), kEverywhere), std::vector<std::string>{});
}

}  // namespace
}  // namespace downloader
