#include "ui/qt/qt_support.h"

#include <QDialog>
#include <QFile>
#include <QStringDecoder>

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
