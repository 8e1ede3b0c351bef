#include "ui/qt/information_window.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "ui/main_form.h"
#include "ui/qt/qt_support.h"

namespace downloader::qtui {

namespace {

constexpr std::array<const char*, 4> kFieldNames = {"Product", "Firmware", "Checksum",
                                                    "CompileDate"};

QRect Rect(const TControl& control) {
  return QRect(control.Left, control.Top, control.Width, control.Height);
}

}  // namespace

InformationWindow::InformationWindow() {
  setObjectName("MainForm");
  // The toolkit's resizable border with system menu and minimize, no maximize; every
  // component stays at its top-left place when the window is resized.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  for (std::size_t i = 0; i < labels_.size(); ++i) {
    labels_[i] = new QLabel(ToQt(kInformationLabels[i]), this);
  }
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    panels_[i] = new QFrame(this);
    panels_[i]->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    // Read-only, flat, in the window's face colour, never focused.
    QLineEdit* field = new QLineEdit(panels_[i]);
    field->setObjectName(kFieldNames[i]);
    field->setReadOnly(true);
    field->setFrame(false);
    field->setFocusPolicy(Qt::NoFocus);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    field->setPalette(palette);
    fields_[i] = field;
  }
  notes_ = new QPlainTextEdit(this);
  notes_->setObjectName("MessageMemo");
  notes_->setReadOnly(true);
  notes_->setFocusPolicy(Qt::NoFocus);
  notes_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  // Cancel first: it is first in the tab order and has the focus when the window opens.
  cancel_ = new QPushButton(ToQt(kCancelCaption), this);
  cancel_->setObjectName("CancelButton");
  cancel_->setDefault(true);
  download_ = new QPushButton(ToQt(kDownloadCaption), this);
  download_->setObjectName("OKButton");
  // Both buttons stay auto-default, as a dialog makes them: Enter presses the one with the
  // focus, and Cancel, the default, while neither has it.
  setTabOrder(cancel_, download_);
  connect(download_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
  Layout(InformationView{});
}

void InformationWindow::Layout(const InformationView& view) {
  const QPoint designed(kInformationWindowPlace.left, kInformationWindowPlace.top);
  const int widthLimit = WorkArea(*this, designed).width - kSizeableFrame.width();
  const InformationLayout layout = LayOutInformationWindow(view, QtTextMetrics(font()), widthLimit);
  for (std::size_t i = 0; i < labels_.size(); ++i) labels_[i]->setGeometry(Rect(layout.labels[i]));
  for (std::size_t i = 0; i < panels_.size(); ++i) {
    panels_[i]->setGeometry(Rect(layout.panels[i]));
    fields_[i]->setGeometry(Rect(layout.field));
  }
  notes_->setGeometry(Rect(layout.notes));
  download_->setGeometry(Rect(layout.download));
  cancel_->setGeometry(Rect(layout.cancel));
  resize(layout.clientWidth, layout.clientHeight);
}

int InformationWindow::ShowModal(const InformationView& view) {
  setWindowTitle(ToQt(view.caption));
  const std::string* texts[] = {&view.product, &view.firmware, &view.checksum, &view.compileDate};
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    fields_[i]->setText(ToQt(*texts[i]));
    fields_[i]->setCursorPosition(0);
  }
  notes_->setPlainText(ToQt(view.notes));
  Layout(view);
  // At the designed place the first time, where the user left it later; whole on the screen.
  const QPoint designed(kInformationWindowPlace.left, kInformationWindowPlace.top);
  PlaceInWorkArea(*this, placed_ ? pos() : designed, kSizeableFrame);
  placed_ = true;
  cancel_->setFocus();
  return RunModal(*this) == QDialog::Accepted ? kModalOk : kModalCancel;
}

}  // namespace downloader::qtui
