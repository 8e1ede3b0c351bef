#pragma once

// The arithmetic of the native Windows windows that needs no system call: the designed
// pixel layout (96 dots per inch) scaled to the monitor's resolution and back, the outer
// sizes the windows were designed with, and the open-file dialog's filter and extension
// in the form the system's dialog takes them.

#include <string>
#include <string_view>

namespace downloader::win32 {

/// The resolution every designed position and size is given in.
inline constexpr int kDesignDpi = 96;

/// A designed length in pixels at `dpi`, rounded to the nearest pixel (halves away from
/// zero, as the system's MulDiv does), so a font height of -11 stays negative.
int Scale(int designPixels, int dpi);

/// The designed position whose scaled span holds device pixel `devicePixels` (0 or more):
/// the largest v with Scale(v, dpi) <= devicePixels. A click maps back onto the designed
/// cell that was drawn under it.
int Unscale(int devicePixels, int dpi);

/// A rectangle as the designs give it: left, top, width, height.
struct PixelRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;

  friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

/// `design` at `dpi`: both edges scaled, so that neighbours that touch in the design still
/// touch (the width is Scale(left + width) - Scale(left)).
PixelRect Scale(const PixelRect& design, int dpi);

/// The frames the designed outer sizes include: a resizable window's 4-pixel border and
/// 19-pixel caption, a dialog's 3-pixel border and the same caption. The client area is the
/// designed outer size less this frame, whatever frame the system draws today.
struct FrameSize {
  int width;
  int height;
};
inline constexpr FrameSize kSizeableFrame{8, 27};
inline constexpr FrameSize kDialogFrame{6, 25};
/// How far the client area's top left lies inside the designed outer rectangle.
inline constexpr FrameSize kSizeableClientOffset{4, 23};
inline constexpr FrameSize kDialogClientOffset{3, 22};

/// The open-file dialog's filter: "Object Files (*.obj)|*.obj|All Files (*.*)|*.*" becomes
/// the pairs of texts the system's dialog reads, each ended by a NUL, the list ended by one
/// more NUL. An empty filter gives the two NULs of an empty list.
std::string OpenFileFilter(std::string_view pipeSeparated);

/// The default extension as the system's dialog takes it: without its leading full stop
/// (".obj" gives "obj").
std::string DefaultExtension(std::string_view extension);

}  // namespace downloader::win32
