#include "ui/qt/qt_window_system.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QSpacerItem>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/forms.h"
#include "ui/qt/information_window.h"
#include "ui/qt/progress_window.h"
#include "ui/qt/qt_support.h"

namespace downloader::qtui {

namespace {

// "Object Files (*.obj)|*.obj|All Files (*.*)|*.*" as Qt's filters. Every file matches
// "*" here; "*.*" would leave out names without a full stop.
QStringList NameFilters(const std::string& filter) {
  const QStringList parts = ToQt(filter).split('|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString label = parts[i];
    const qsizetype open = label.lastIndexOf('(');
    if (open > 0) label.truncate(open);
    QStringList patterns = parts[i + 1].split(';');
    patterns.replaceInStrings(QStringLiteral("*.*"), QStringLiteral("*"));
    filters << label.trimmed() + " (" + patterns.join(' ') + ")";
  }
  return filters;
}

// A window manager's title bar: its caption font (larger than the windows' own on most
// desktops), and beside the caption the frame's icon, up to three buttons and margins.
constexpr int kTitleFontPixels = 16;
constexpr int kTitleBarExtras = 120;

// Room for `title` in a window manager's title bar.
int CaptionRoom(const QString& title) {
  QFont titleFont = WindowFont();
  titleFont.setBold(true);
  titleFont.setPixelSize(kTitleFontPixels);
  return QFontMetrics(titleFont).horizontalAdvance(title) + kTitleBarExtras;
}

// The most of a text's width a message box gives before it breaks lines.
constexpr int kMessageWidth = 500;
constexpr int kMessageRoomBeside = 90;  // the icon, the box's margins and spacing

int ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                const QString& text) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  const ScreenRect area = WorkArea(box, parent ? parent->geometry().center() : QPoint());
  const QSize room = QSize(area.width, area.height) - kDialogFrame;
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  // Qt sizes a message box to its text alone; a short text ("Download successful!") would
  // leave the caption cut off in the title bar. The box keeps room for it.
  if (grid != nullptr) {
    grid->addItem(new QSpacerItem(std::min(CaptionRoom(title), room.width()), 0), grid->rowCount(),
                  0, 1, grid->columnCount());
  }
  // A text the work area cannot show whole (a long file name does not break) scrolls in a
  // box as large as the work area allows.
  auto* label = box.findChild<QLabel*>("qt_msgbox_label");
  const QRect need =
      QFontMetrics(box.font())
          .boundingRect(
              QRect(0, 0, std::min(kMessageWidth, room.width() - kMessageRoomBeside), 1 << 20),
              Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
  const QSize textRoom = room - QSize(kMessageRoomBeside, kMessageRoomBeside);
  if (grid != nullptr && label != nullptr &&
      (need.width() > textRoom.width() || need.height() > textRoom.height())) {
    int row = 0, column = 0, rowSpan = 0, columnSpan = 0;
    grid->getItemPosition(grid->indexOf(label), &row, &column, &rowSpan, &columnSpan);
    auto* scroll = new QScrollArea(&box);
    scroll->setObjectName("MessageScroll");
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    grid->removeWidget(label);
    scroll->setWidget(label);
    const int bar = box.style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    scroll->setMinimumSize(std::min(need.width() + bar, textRoom.width()),
                           std::min(need.height() + bar, textRoom.height()));
    grid->addWidget(scroll, row, column, rowSpan, columnSpan);
  }
  return RunModal(box);
}

// A text laid out in columns (the help): a fixed-pitch font, the whole text at once where
// the screen's work area has room for it, else scrolled in a box as large as the work
// area allows.
void ShowColumns(QWidget* parent, const QString& title, const std::string& text) {
  QDialog dialog(parent);
  dialog.setWindowTitle(title);
  auto* box = new QPlainTextEdit(&dialog);
  box->setObjectName("MessageText");
  box->setReadOnly(true);
  box->setLineWrapMode(QPlainTextEdit::NoWrap);
  box->setFrameShape(QFrame::NoFrame);
  QPalette palette = box->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Window));
  box->setPalette(palette);
  QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fixed.setPixelSize(WindowFont().pixelSize());
  box->setFont(fixed);
  box->setPlainText(ToQt(ExpandTabs(text)));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(box);
  layout->addWidget(buttons);

  // The text's own size, with the box's margins and room for a scroll bar each way.
  const QSize textSize = QFontMetrics(fixed).size(0, box->toPlainText());
  const int margins = 2 * static_cast<int>(box->document()->documentMargin()) + 2;
  const int scrollBar = box->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const QMargins around = layout->contentsMargins();
  const int spacing = layout->spacing();
  QSize wanted(std::max(textSize.width() + margins, CaptionRoom(title)),
               textSize.height() + margins + spacing + buttons->sizeHint().height());
  wanted = wanted.grownBy(around);
  const ScreenRect area = WorkArea(dialog, parent ? parent->geometry().center() : QPoint());
  const QSize room = QSize(area.width, area.height) - kDialogFrame;
  if (wanted.width() > room.width()) wanted.rheight() += scrollBar;
  if (wanted.height() > room.height()) wanted.rwidth() += scrollBar;
  dialog.resize(wanted.boundedTo(room));
  RunModal(dialog);
}

class QtWindowSystem final : public WindowSystem {
 public:
  QtWindowSystem() {
    QApplication::setFont(WindowFont());
    information_ = std::make_unique<InformationWindow>();
    progress_ = std::make_unique<ProgressWindow>();
    if (ProgressForm != nullptr) InstallTextMetrics(*ProgressForm);
  }

  ~QtWindowSystem() override { SetBusyCursor(false); }

  void ErrorDialog(const std::string& text, const std::string& reasons) override {
    ShowMessage(Owner(), QMessageBox::Critical, "Error", ToQt(WithReasons(text, reasons)));
  }
  void MessageDialog(const std::string& text) override {
    ShowColumns(Owner(), kApplicationTitle, text);
  }
  void MessageBox(const std::string& text) override {
    ShowMessage(Owner(), QMessageBox::NoIcon, kApplicationTitle, ToQt(text));
  }

  std::optional<std::string> OpenFileDialog(const OpenFileRequest& request) override {
    QFileDialog dialog(Owner(), ToQt(request.title), ToQt(request.initialDirectory));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);  // a typed name need not exist
    dialog.setNameFilters(NameFilters(request.filter));
    QString suffix = ToQt(request.defaultExtension);
    if (suffix.startsWith('.')) suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (RunModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
      return std::nullopt;
    }
    return FromQt(dialog.selectedFiles().first());
  }

  int ShowInformationWindow(const InformationView& view) override {
    return information_->ShowModal(view);
  }

  void ShowProgressWindow(TProgressForm& form) override { progress_->ShowModeless(form); }
  int ShowProgressWindowModal(TProgressForm& form) override { return progress_->ShowModal(form); }
  void CloseProgressWindow(TProgressForm&) override { progress_->Close(); }
  void RepaintProgressWindow(TProgressForm& form) override { progress_->RepaintNow(form); }

  void Beep() override { QApplication::beep(); }

  void SetBusyCursor(bool busy) override {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
  }

  void BringToForeground() override {
    QWidget* window = QApplication::activeModalWidget();
    if (window == nullptr && information_->isVisible()) window = information_.get();
    if (window == nullptr && progress_->isVisible()) window = progress_.get();
    if (window == nullptr) return;
    window->raise();
    window->activateWindow();
  }

  void PumpEvents() override { QCoreApplication::processEvents(); }

 private:
  // The loader window a dialog opens over: the progress window while it is shown (it stays
  // on top of other windows, and a window manager keeps a dialog above its owner), else
  // the information window while it is shown, else none.
  QWidget* Owner() const {
    if (progress_->isVisible()) return progress_.get();
    if (information_->isVisible()) return information_.get();
    return nullptr;
  }

  std::unique_ptr<InformationWindow> information_;
  std::unique_ptr<ProgressWindow> progress_;
  bool busy_ = false;
};

}  // namespace

std::unique_ptr<WindowSystem> MakeQtWindowSystem() {
  return std::make_unique<QtWindowSystem>();
}

}  // namespace downloader::qtui
