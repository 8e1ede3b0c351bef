#pragma once

#include <QDialog>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace downloader {
struct InformationView;
}

namespace downloader::qtui {

/// The information window (MainForm): the image's product, firmware, checksum, compile
/// date and notes, with Download and Cancel. Created hidden; shown only modally.
class InformationWindow : public QDialog {
 public:
  InformationWindow();

  /// Shows `view` modally: kModalOk for Download; kModalCancel for Cancel, Esc or closing
  /// the window. Enter presses the button with the focus: Cancel (the default button) at
  /// open, Download once Tab has moved the focus there.
  int ShowModal(const InformationView& view);

 private:
  QLineEdit* AddField(const char* name, const char* label, int top);

  QLineEdit* product_;
  QLineEdit* firmware_;
  QLineEdit* checksum_;
  QLineEdit* compileDate_;
  QPlainTextEdit* notes_;
  QPushButton* cancel_;
  QPushButton* download_;
};

}  // namespace downloader::qtui
