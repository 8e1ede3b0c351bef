#include "ui/win32/layout.h"

#include <gtest/gtest.h>

#include <string>

namespace downloader::win32 {
namespace {

TEST(Win32Layout, DesignedPixelsScaleWithTheMonitorsResolutionAndMapBack) {
  EXPECT_EQ(Scale(19, 96), 19);
  EXPECT_EQ(Scale(19, 120), 24);  // 23.75
  EXPECT_EQ(Scale(19, 144), 29);  // 28.5: halves away from zero
  EXPECT_EQ(Scale(19, 192), 38);
  // The font height stays negative (a character height, not a cell height).
  EXPECT_EQ(Scale(-11, 96), -11);
  EXPECT_EQ(Scale(-11, 120), -14);
  EXPECT_EQ(Scale(-11, 144), -17);

  // Every device pixel maps back into the designed pixel whose scaled span holds it, so a
  // click lands in the cell drawn under it.
  for (int dpi : {96, 120, 144, 168, 192, 240}) {
    for (int x = 0; x < 500; ++x) {
      const int v = Unscale(x, dpi);
      ASSERT_LE(Scale(v, dpi), x) << dpi << " dpi, pixel " << x;
      ASSERT_GT(Scale(v + 1, dpi), x) << dpi << " dpi, pixel " << x;
    }
  }
  EXPECT_EQ(Unscale(37, 96), 37);
}

TEST(Win32Layout, ScaledRectanglesThatTouchStillTouch) {
  // The grid's header row (18 high) and its line: the line starts where the cell ends.
  const PixelRect cell = Scale(PixelRect{0, 0, 64, 18}, 120);
  const PixelRect line = Scale(PixelRect{0, 18, 64, 1}, 120);
  EXPECT_EQ(cell.top + cell.height, line.top);
  EXPECT_EQ(Scale(PixelRect{191, 295, 75, 25}, 96), (PixelRect{191, 295, 75, 25}));
  EXPECT_EQ(Scale(PixelRect{191, 295, 75, 25}, 144), (PixelRect{287, 443, 112, 37}));
}

TEST(Win32Layout, TheOpenFileDialogsFilterAndExtensionAsTheSystemTakesThem) {
  const std::string expected("Object Files (*.obj)\0*.obj\0All Files (*.*)\0*.*\0\0", 48);
  EXPECT_EQ(OpenFileFilter("Object Files (*.obj)|*.obj|All Files (*.*)|*.*"), expected);
  EXPECT_EQ(OpenFileFilter(""), std::string("\0\0", 2));
  EXPECT_EQ(DefaultExtension(".obj"), "obj");
  EXPECT_EQ(DefaultExtension("obj"), "obj");
}

}  // namespace
}  // namespace downloader::win32
