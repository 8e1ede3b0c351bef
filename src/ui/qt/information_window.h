#pragma once

#include <QDialog>
#include <array>

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace downloader {
struct InformationView;
}

namespace downloader::qtui {

/// The information window (MainForm): the image's product, firmware, checksum, compile
/// date and notes, with Download and Cancel. Created hidden; shown only modally, laid out
/// by the model for the texts it shows in the font at hand, at its designed place or as
/// near it as the screen's work area allows.
class InformationWindow : public QDialog {
 public:
  InformationWindow();

  /// Shows `view` modally: kModalOk for Download; kModalCancel for Cancel, Esc or closing
  /// the window. Enter presses the button with the focus: Cancel (the default button) at
  /// open, Download once Tab has moved the focus there.
  int ShowModal(const InformationView& view);

 private:
  void Layout(const InformationView& view);

  std::array<QLabel*, 5> labels_;
  std::array<QFrame*, 4> panels_;
  std::array<QLineEdit*, 4> fields_;
  QPlainTextEdit* notes_;
  QPushButton* cancel_;
  QPushButton* download_;
  bool placed_ = false;
};

}  // namespace downloader::qtui
