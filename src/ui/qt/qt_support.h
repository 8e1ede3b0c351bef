#pragma once

// What the Qt windows share: their font, the frame the designed outer sizes include, text
// and colour conversion, and the modal wait that keeps the message loop running.

#include <QColor>
#include <QFont>
#include <QSize>
#include <QString>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "ui/window_layout.h"

class QDialog;
class QWidget;

namespace downloader::qtui {

/// The windows' font: "MS Sans Serif" at 8 points (11 pixels) where it exists, else
/// DejaVu Sans Condensed, else DejaVu Sans, at the same size.
QFont WindowFont();

/// The sizes of texts in `font` (and its bold face), for the models' layouts. Qt's pixels
/// are the designed ones: Qt scales them with the screen.
class QtTextMetrics final : public TextMetrics {
 public:
  explicit QtTextMetrics(const QFont& font);
  TextSize Extent(std::string_view text, bool bold = false) const override;
  int WrappedHeight(std::string_view text, int width, bool bold = false) const override;

 private:
  QFont font_;
  QFont bold_;
};

/// The designed outer sizes include the window frame: a resizable window has a 4-pixel
/// border and a 19-pixel caption, a dialog border is 3 pixels. The client area is the outer
/// size less this frame, whatever frame the window manager draws.
inline constexpr QSize kSizeableFrame{8, 27};
inline constexpr QSize kDialogFrame{6, 25};

/// The screen's work area (its available geometry) where `window` is, or would be at
/// `at`.
ScreenRect WorkArea(const QWidget& window, const QPoint& at);

/// Puts the top-level `window` at `designed` (its outer top left), moved only as far as
/// needed to keep it whole inside the work area. Its frame is the one the window manager
/// drew at its last show, or `frame` before the first.
void PlaceInWorkArea(QWidget& window, const QPoint& designed, const QSize& frame);

/// A text of the loader as Qt shows it: UTF-8 when it is valid UTF-8 (file names), else
/// one character per byte (image texts); CR LF pairs become line breaks.
QString ToQt(std::string_view text);
/// A file name from Qt as the system spells it.
std::string FromQt(const QString& fileName);

/// A 0xRRGGBB colour.
QColor Rgb(uint32_t rgb);

/// The longest a modal wait leaves posted handlers and Qt's events unprocessed.
inline constexpr std::chrono::milliseconds kModalStep{10};

/// Shows `dialog` application-modal and runs the message loop (posted handlers and Qt's
/// events) until it is finished or hidden; returns its result.
int RunModal(QDialog& dialog);

}  // namespace downloader::qtui
