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

class QDialog;

namespace downloader::qtui {

/// The windows' font: "MS Sans Serif" at 8 points (11 pixels) where it exists, else
/// DejaVu Sans Condensed, else DejaVu Sans, at the same size.
QFont WindowFont();

/// The designed outer sizes include the window frame: a resizable window has a 4-pixel
/// border and a 19-pixel caption, a dialog border is 3 pixels. The client area is the outer
/// size less this frame, whatever frame the window manager draws.
inline constexpr QSize kSizeableFrame{8, 27};
inline constexpr QSize kDialogFrame{6, 25};

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
