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

// The designed window: outer size and screen position.
constexpr QSize kOuterSize{376, 361};
constexpr QPoint kPosition{362, 142};

// Labels at left 16, one row every 24 pixels from 16; their framed fields at left 90.
constexpr int kLabelLeft = 16;
constexpr int kPanelLeft = 90;
constexpr QSize kPanelSize{263, 19};
constexpr QRect kFieldInPanel{4, 2, 257, 16};

constexpr QRect kNotesLabel{16, 112, 35, 17};
constexpr QRect kNotes{16, 129, 338, 151};
constexpr QRect kDownloadButton{191, 295, 75, 25};
constexpr QRect kCancelButton{279, 295, 75, 25};

}  // namespace

InformationWindow::InformationWindow() {
  setObjectName("MainForm");
  // The toolkit's resizable border with system menu and minimize, no maximize; every
  // component stays at its top-left place when the window is resized.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  resize(kOuterSize - kSizeableFrame);
  move(kPosition);

  product_ = AddField("Product", "Product:", 16);
  firmware_ = AddField("Firmware", "Firmware:", 40);
  checksum_ = AddField("Checksum", "Checksum:", 64);
  compileDate_ = AddField("CompileDate", "Compile Date:", 88);

  auto* notesLabel = new QLabel("Notes:", this);
  notesLabel->setGeometry(kNotesLabel);
  notes_ = new QPlainTextEdit(this);
  notes_->setObjectName("MessageMemo");
  notes_->setGeometry(kNotes);
  notes_->setReadOnly(true);
  notes_->setFocusPolicy(Qt::NoFocus);
  notes_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

  // Cancel first: it is first in the tab order and has the focus when the window opens.
  cancel_ = new QPushButton("&Cancel", this);
  cancel_->setObjectName("CancelButton");
  cancel_->setGeometry(kCancelButton);
  cancel_->setDefault(true);
  download_ = new QPushButton("&Download", this);
  download_->setObjectName("OKButton");
  download_->setGeometry(kDownloadButton);
  // Both buttons stay auto-default, as a dialog makes them: Enter presses the one with the
  // focus, and Cancel, the default, while neither has it.
  setTabOrder(cancel_, download_);
  connect(download_, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
}

QLineEdit* InformationWindow::AddField(const char* name, const char* label, int top) {
  auto* caption = new QLabel(label, this);
  caption->move(kLabelLeft, top);
  caption->adjustSize();

  auto* panel = new QFrame(this);
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setGeometry(QRect(QPoint(kPanelLeft, top - 2), kPanelSize));

  // Read-only, flat, in the window's face colour, never focused.
  auto* field = new QLineEdit(panel);
  field->setObjectName(name);
  field->setGeometry(kFieldInPanel);
  field->setReadOnly(true);
  field->setFrame(false);
  field->setFocusPolicy(Qt::NoFocus);
  QPalette palette = field->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  field->setPalette(palette);
  return field;
}

int InformationWindow::ShowModal(const InformationView& view) {
  setWindowTitle(ToQt(view.caption));
  for (auto [field, text] : {std::pair{product_, &view.product},
                             {firmware_, &view.firmware},
                             {checksum_, &view.checksum},
                             {compileDate_, &view.compileDate}}) {
    field->setText(ToQt(*text));
    field->setCursorPosition(0);
  }
  notes_->setPlainText(ToQt(view.notes));
  cancel_->setFocus();
  return RunModal(*this) == QDialog::Accepted ? kModalOk : kModalCancel;
}

}  // namespace downloader::qtui
