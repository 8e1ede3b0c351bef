#include "ui/qt/progress_window.h"

#include <qdrawutil.h>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>
#include <algorithm>

#include "ui/message_loop.h"
#include "ui/progress_form.h"
#include "ui/qt/qt_support.h"
#include "ui/window_system.h"

namespace downloader::qtui {

namespace {

constexpr int kGridFrame = 2;  // the sunken border on each side
constexpr int kScrollBarWidth = 16;
constexpr QColor kWarningYellow{255, 255, 0};

// The warning picture: a yellow triangle with a black exclamation mark, on a transparent
// background, drawn for its 32 x 32 box.
class WarningPicture : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(width() / 32.0, height() / 32.0);
    const QPolygonF triangle({{16.0, 1.5}, {31.0, 29.5}, {1.0, 29.5}});
    painter.setPen(QPen(Qt::black, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(kWarningYellow);
    painter.drawPolygon(triangle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    painter.drawRoundedRect(QRectF(14.3, 9.5, 3.4, 12.0), 1.2, 1.2);
    painter.drawEllipse(QRectF(14.2, 23.0, 3.6, 3.6));
  }
};

QLabel* NewText(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setTextFormat(Qt::PlainText);
  return label;
}

// A component at the model's place, size and visibility; a size of 0 is the natural one.
void Place(QWidget* widget, const TControl& control) {
  const QSize natural = widget->sizeHint();
  widget->setGeometry(control.Left, control.Top,
                      control.Width > 0 ? control.Width : natural.width(),
                      control.Height > 0 ? control.Height : natural.height());
  widget->setVisible(control.Visible);
}

void SetText(QLabel* label, const std::string& text, bool bold) {
  if (label->font().bold() != bold) {
    QFont font = label->font();
    font.setBold(bold);
    label->setFont(font);
  }
  label->setText(ToQt(text));
}

}  // namespace

// TShape: a circle in its fill colour with a black outline.
class IndicatorShape : public QWidget {
 public:
  using QWidget::QWidget;
  void SetFill(const QColor& fill) {
    if (fill == fill_) return;
    fill_ = fill;
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(fill_);
    painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
  }

 private:
  QColor fill_;
};

bool InstallTextMetrics(TProgressForm& form) {
  if (dynamic_cast<const QtTextMetrics*>(form.Metrics.get()) != nullptr) return false;
  form.Metrics = std::make_shared<QtTextMetrics>(WindowFont());
  return true;
}

PortStatusGrid::PortStatusGrid(ProgressWindow& window, QWidget* parent)
    : QWidget(parent), window_(window), scrollBar_(new QScrollBar(Qt::Vertical, this)) {
  setObjectName("PortStatus");
  setFocusPolicy(Qt::ClickFocus);  // not a tab stop
  scrollBar_->hide();
  connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int value) {
    if (form_ == nullptr) return;
    form_->PortStatus.SetTopRow(value + form_->PortStatus.FixedRows);
    update();
  });
}

void PortStatusGrid::Sync(TProgressForm& form) {
  form_ = &form;
  const TStringGrid& grid = form.PortStatus;
  Place(this, grid);
  const bool scrolls = grid.RowCount() > grid.FixedRows + TStringGrid::kVisibleDataRows;
  scrollBar_->setGeometry(grid.Width - kGridFrame - kScrollBarWidth, kGridFrame, kScrollBarWidth,
                          grid.Height - 2 * kGridFrame);
  {
    const QSignalBlocker quiet(scrollBar_);
    scrollBar_->setRange(
        0, std::max(0, grid.RowCount() - grid.FixedRows - TStringGrid::kVisibleDataRows));
    scrollBar_->setPageStep(TStringGrid::kVisibleDataRows);
    scrollBar_->setValue(grid.TopRow() - grid.FixedRows);
  }
  scrollBar_->setVisible(scrolls);
  update();
}

void PortStatusGrid::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  qDrawWinPanel(&painter, rect(), palette(), true);
  if (form_ == nullptr) return;
  const TStringGrid& grid = form_->PortStatus;
  const QPalette& colours = palette();
  const int clientWidth =
      width() - 2 * kGridFrame - (scrollBar_->isVisibleTo(this) ? kScrollBarWidth : 0);
  const int clientHeight = height() - 2 * kGridFrame;
  painter.translate(kGridFrame, kGridFrame);
  painter.setClipRect(0, 0, clientWidth, clientHeight);
  painter.fillRect(0, 0, clientWidth, clientHeight, colours.color(QPalette::Base));

  const int cellHeight = grid.DefaultRowHeight;
  auto drawRow = [&](int row, int y) {
    const bool greyed = form_->IsRowGreyed(row);
    int x = 0;
    for (int col = 0; col < TStringGrid::kColCount && x < clientWidth; ++col) {
      const int cellWidth = grid.ColWidths[static_cast<std::size_t>(col)];
      const QRect cell(x, y, cellWidth, cellHeight);
      const bool fixed = row < grid.FixedRows || col < grid.FixedCols;
      const TGridRect& s = grid.Selection;
      const bool selected =
          !fixed && col >= s.Left && col <= s.Right && row >= s.Top && row <= s.Bottom;
      painter.fillRect(x, y, cellWidth + 1, cellHeight + 1, colours.color(QPalette::Mid));
      if (cellWidth > 0) {
        painter.fillRect(cell, colours.color(fixed      ? QPalette::Button
                                             : selected ? QPalette::Highlight
                                                        : QPalette::Base));
        if (fixed) {
          // Fixed cells stand out: a light edge at the top left, a dark one at the bottom right.
          painter.setPen(colours.color(QPalette::Light));
          painter.drawLine(cell.topLeft(), cell.topRight());
          painter.drawLine(cell.topLeft(), cell.bottomLeft());
          painter.setPen(colours.color(QPalette::Dark));
          painter.drawLine(cell.bottomLeft(), cell.bottomRight());
          painter.drawLine(cell.topRight(), cell.bottomRight());
        }
        painter.setPen(greyed     ? colours.color(QPalette::Disabled, QPalette::WindowText)
                       : selected ? colours.color(QPalette::HighlightedText)
                                  : colours.color(QPalette::Text));
        painter.drawText(cell.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                         ToQt(grid.Cell(col, row)));
      }
      x += cellWidth + 1;
    }
  };

  const int pitch = grid.RowPitch();
  drawRow(0, 0);
  int y = pitch;
  for (int row = grid.TopRow(); row < grid.RowCount() && y < clientHeight; ++row, y += pitch) {
    drawRow(row, y);
  }
}

void PortStatusGrid::mousePressEvent(QMouseEvent* event) {
  QWidget::mousePressEvent(event);
  if (form_ == nullptr) return;
  const QPoint at = event->position().toPoint() - QPoint(kGridFrame, kGridFrame);
  if (at.x() < 0 || at.y() < 0 || at.y() >= height() - 2 * kGridFrame) return;
  form_->PortStatusClick(at.x(), at.y());
  window_.ModelChanged();
}

void PortStatusGrid::keyPressEvent(QKeyEvent* event) {
  if (form_ == nullptr || (event->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) {
    return QWidget::keyPressEvent(event);
  }
  GridKey key = GridKey::kUp;
  switch (event->key()) {
    case Qt::Key_Up:
      key = GridKey::kUp;
      break;
    case Qt::Key_Down:
      key = GridKey::kDown;
      break;
    case Qt::Key_PageUp:
      key = GridKey::kPageUp;
      break;
    case Qt::Key_PageDown:
      key = GridKey::kPageDown;
      break;
    case Qt::Key_Home:
      key = GridKey::kHome;
      break;
    case Qt::Key_End:
      key = GridKey::kEnd;
      break;
    default:
      // Enter goes on to the window, which presses its default button.
      return QWidget::keyPressEvent(event);
  }
  form_->PortStatusKey(key);
  window_.ModelChanged();
}

void PortStatusGrid::wheelEvent(QWheelEvent* event) {
  if (scrollBar_->isVisible()) QCoreApplication::sendEvent(scrollBar_, event);
}

ProgressWindow::ProgressWindow() {
  setObjectName("ProgressForm");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint);

  grid_ = new PortStatusGrid(*this, this);
  portStatusText_ = NewText(this, "PortStatusText");
  downloadStatus_ = new QWidget(this);
  downloadStatus_->setObjectName("DownloadStatus");
  for (int slot = 7; slot >= 0; --slot) {
    progNames_[slot] = NewText(downloadStatus_, ("ProgName" + std::to_string(slot)).c_str());
  }
  downloadStatusText_ = NewText(downloadStatus_, "StaticText1");
  txStatus_ = new IndicatorShape(this);
  txStatus_->setObjectName("TXStatus");
  message_ = NewText(this, "EMessage");
  message_->setWordWrap(true);
  message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  warningImage_ = new WarningPicture(this);
  warningImage_->setObjectName("WarningImage");
  scanningText_ = NewText(this, "ScanningText");
  for (int slot = 0; slot < 8; ++slot) {
    auto* bar = new QProgressBar(downloadStatus_);
    bar->setObjectName(("ProgressBar" + std::to_string(slot)).c_str());
    bar->setAlignment(Qt::AlignCenter);
    bar->setTextVisible(true);
    QPalette palette = bar->palette();
    palette.setColor(QPalette::Highlight, Rgb(kDarkGreen));
    bar->setPalette(palette);
    progressBars_[slot] = bar;
  }
  downloadButton_ = new QPushButton(this);
  downloadButton_->setObjectName("DownloadButton");
  downloadButton_->setDefault(true);
  connect(downloadButton_, &QPushButton::clicked, this, [this] {
    if (modal_ && form_ != nullptr) modalResult_ = form_->DownloadButton.ModalResult;
  });
}

void ProgressWindow::Bind(TProgressForm& form) {
  form_ = &form;
  // The first show after the toolkit came up lays the window out again in its own font.
  if (InstallTextMetrics(form)) form.FormShow();
}

void ProgressWindow::Sync() {
  TProgressForm& form = *form_;
  setWindowTitle(ToQt(form.Caption));
  setFixedSize(form.Width - kDialogFrame.width(), form.Height - kDialogFrame.height());

  grid_->Sync(form);
  SetText(portStatusText_, form.PortStatusText.Caption, form.PortStatusText.Bold);
  Place(portStatusText_, form.PortStatusText);
  SetText(scanningText_, form.ScanningText.Text, form.ScanningText.Bold);
  Place(scanningText_, form.ScanningText);

  Place(downloadStatus_, form.DownloadStatus);
  SetText(downloadStatusText_, form.StaticText1.Caption, form.StaticText1.Bold);
  Place(downloadStatusText_, form.StaticText1);
  for (int slot = 0; slot < 8; ++slot) {
    const TEdit& name = form.ProgName(slot);
    SetText(progNames_[slot], name.Text, name.Bold);
    Place(progNames_[slot], name);
    const TGauge& gauge = form.ProgressBar(slot);
    QProgressBar* bar = progressBars_[slot];
    Place(bar, gauge);
    bar->setRange(0, std::max(gauge.MaxValue, 1));
    bar->setValue(std::clamp(gauge.Progress, 0, std::max(gauge.MaxValue, 1)));
    bar->setFormat(QString::number(gauge.PercentDone()) + "%");
  }

  txStatus_->SetFill(Rgb(form.TXStatus.FillColor));
  Place(txStatus_, form.TXStatus);
  QStringList lines;
  for (const std::string& line : form.EMessage.Lines) lines << ToQt(line);
  message_->setText(lines.join('\n'));
  Place(message_, form.EMessage);
  Place(warningImage_, form.WarningImage);

  downloadButton_->setText(ToQt(form.DownloadButton.Caption));
  downloadButton_->setEnabled(form.DownloadButton.Enabled);
  Place(downloadButton_, form.DownloadButton);
}

void ProgressWindow::ShowModeless(TProgressForm& form) {
  Bind(form);
  if (!isVisible()) setWindowModality(Qt::NonModal);
  Sync();
  PlaceOnScreen();
  show();
  raise();
}

int ProgressWindow::ShowModal(TProgressForm& form) {
  Bind(form);
  if (isVisible()) hide();
  setWindowModality(Qt::ApplicationModal);
  Sync();
  PlaceOnScreen();
  show();
  raise();
  activateWindow();
  // The grid takes the keys, so that a row can be chosen without a mouse; it is still no
  // tab stop.
  grid_->setFocus(Qt::OtherFocusReason);
  modal_ = true;
  modalResult_ = 0;
  while (modalResult_ == 0 && isVisible()) WaitAndProcessMessages(kModalStep);
  modal_ = false;
  return modalResult_ != 0 ? modalResult_ : kModalCancel;
}

void ProgressWindow::PlaceOnScreen() {
  // At the designed place the first time, where the user left it later; whole on the screen.
  PlaceInWorkArea(*this, placed_ ? pos() : QPoint(form_->Left, form_->Top), kDialogFrame);
  placed_ = true;
}

void ProgressWindow::Close() {
  hide();
}

void ProgressWindow::RepaintNow(TProgressForm& form) {
  form_ = &form;
  Sync();
  if (!isVisible()) return;
  repaint();
  // Puts the picture on the screen (and answers exposures) while the main thread is busy;
  // clicks and keys wait for the next step of the message loop.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void ProgressWindow::ModelChanged() {
  if (form_ == nullptr) return;
  Sync();
  grid_->update();
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
  // Hiding is the model's business: the close box ends the dialog, or closes the window
  // through the model, which holds the final state and then hides it.
  event->ignore();
  if (modal_) {
    modalResult_ = kModalCancel;
  } else if (form_ != nullptr && form_->Showing) {
    form_->Close();
  }
}

void ProgressWindow::reject() {
  // Esc: the window has no cancel button.
}

}  // namespace downloader::qtui
