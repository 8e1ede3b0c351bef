#include "ui/qt/qt_support.h"

#include <QDialog>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QStringDecoder>
#include <QWidget>
#include <QWindow>

#include "ui/message_loop.h"

namespace downloader::qtui {

namespace {

constexpr int kFontPixels = 11;  // 8 points on a 96 dpi screen

}  // namespace

QFont WindowFont() {
  QFont font;
  font.setFamilies({"MS Sans Serif", "DejaVu Sans Condensed", "DejaVu Sans"});
  font.setPixelSize(kFontPixels);
  return font;
}

QtTextMetrics::QtTextMetrics(const QFont& font) : font_(font), bold_(font) {
  bold_.setBold(true);
}

TextSize QtTextMetrics::Extent(std::string_view text, bool bold) const {
  // The room Qt's text drawing takes, a line for each line break.
  const QRect size =
      QFontMetrics(bold ? bold_ : font_)
          .boundingRect(QRect(0, 0, 1 << 20, 1 << 20), Qt::AlignLeft | Qt::AlignTop, ToQt(text));
  return TextSize{size.width(), size.height()};
}

int QtTextMetrics::WrappedHeight(std::string_view text, int width, bool bold) const {
  const QRect room(0, 0, width, 1 << 20);
  return QFontMetrics(bold ? bold_ : font_)
      .boundingRect(room, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, ToQt(text))
      .height();
}

ScreenRect WorkArea(const QWidget& window, const QPoint& at) {
  QScreen* screen = QGuiApplication::screenAt(at);
  if (screen == nullptr) screen = window.screen();
  if (screen == nullptr) screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return ScreenRect{at.x(), at.y(), 1 << 20, 1 << 20};
  const QRect area = screen->availableGeometry();
  return ScreenRect{area.x(), area.y(), area.width(), area.height()};
}

void PlaceInWorkArea(QWidget& window, const QPoint& designed, const QSize& frame) {
  // Once shown, the frame the window manager drew, none without one; before, the estimate.
  QSize outer = window.size() + frame;
  const QWindow* handle = window.windowHandle();
  if (handle != nullptr && window.testAttribute(Qt::WA_WState_ExplicitShowHide)) {
    const QMargins margins = handle->frameMargins();
    outer = window.size().grownBy(margins);
  }
  const ScreenRect placed =
      KeepInside(ScreenRect{designed.x(), designed.y(), outer.width(), outer.height()},
                 WorkArea(window, designed));
  window.move(placed.left, placed.top);
}

QString ToQt(std::string_view text) {
  const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
  QStringDecoder utf8(QStringDecoder::Utf8);
  QString decoded = utf8(bytes);
  if (utf8.hasError()) decoded = QString::fromLatin1(bytes);
  decoded.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return decoded;
}

std::string FromQt(const QString& fileName) {
  return QFile::encodeName(fileName).toStdString();
}

QColor Rgb(uint32_t rgb) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

int RunModal(QDialog& dialog) {
  bool finished = false;
  int result = QDialog::Rejected;
  const auto connection = QObject::connect(&dialog, &QDialog::finished, [&](int code) {
    finished = true;
    result = code;
  });
  dialog.setWindowModality(Qt::ApplicationModal);
  dialog.show();
  dialog.raise();
  dialog.activateWindow();
  while (!finished && dialog.isVisible()) WaitAndProcessMessages(kModalStep);
  QObject::disconnect(connection);
  return result;
}

}  // namespace downloader::qtui
