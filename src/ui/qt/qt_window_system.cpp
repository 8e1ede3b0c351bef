#include "ui/qt/qt_window_system.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

#include "ui/forms.h"
#include "ui/qt/information_window.h"
#include "ui/qt/progress_window.h"
#include "ui/qt/qt_support.h"

namespace downloader::qtui {

namespace {

constexpr int kTabColumns = 8;

// The help text keeps its columns: tabs become blanks to the next multiple of 8 columns,
// shown in a fixed-pitch font.
QString WithColumns(const QString& text) {
  QString expanded;
  int column = 0;
  for (const QChar c : text) {
    if (c == '\t') {
      do {
        expanded += ' ';
      } while (++column % kTabColumns != 0);
    } else {
      expanded += c;
      column = c == '\n' ? 0 : column + 1;
    }
  }
  return "<pre>" + expanded.toHtmlEscaped() + "</pre>";
}

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

int ShowMessage(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                Qt::TextFormat format) {
  QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
  box.setTextFormat(format);
  // Qt sizes a message box to its text alone; a short text ("Download successful!") would
  // leave the caption cut off in the title bar. The box keeps room for it.
  QFont titleFont = WindowFont();
  titleFont.setBold(true);
  titleFont.setPixelSize(kTitleFontPixels);
  const int captionRoom = QFontMetrics(titleFont).horizontalAdvance(title) + kTitleBarExtras;
  if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
    grid->addItem(new QSpacerItem(captionRoom, 0), grid->rowCount(), 0, 1, grid->columnCount());
  }
  return RunModal(box);
}

class QtWindowSystem final : public WindowSystem {
 public:
  QtWindowSystem() {
    QApplication::setFont(WindowFont());
    information_ = std::make_unique<InformationWindow>();
    progress_ = std::make_unique<ProgressWindow>();
    if (ProgressForm != nullptr) InstallGridMeasure(*ProgressForm);
  }

  ~QtWindowSystem() override { SetBusyCursor(false); }

  void ErrorDialog(const std::string& text, const std::string& reasons) override {
    ShowMessage(Owner(), QMessageBox::Critical, "Error", ToQt(WithReasons(text, reasons)),
                Qt::PlainText);
  }
  void MessageDialog(const std::string& text) override {
    ShowMessage(Owner(), QMessageBox::NoIcon, kApplicationTitle, WithColumns(ToQt(text)),
                Qt::RichText);
  }
  void MessageBox(const std::string& text) override {
    ShowMessage(Owner(), QMessageBox::NoIcon, kApplicationTitle, ToQt(text), Qt::PlainText);
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
