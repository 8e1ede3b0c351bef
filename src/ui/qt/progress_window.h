#pragma once

#include <QDialog>
#include <QWidget>
#include <array>

class QLabel;
class QProgressBar;
class QPushButton;
class QScrollBar;

namespace downloader {
class TProgressForm;
}

namespace downloader::qtui {

class IndicatorShape;
class ProgressWindow;

/// Gives `form` the metrics of the windows' font, unless it has them already; true when it
/// did.
bool InstallTextMetrics(TProgressForm& form);

/// The port status grid drawn from the model's TStringGrid: a 2-pixel sunken frame, one
/// fixed header row and one fixed column in the face colour, rows 18 pixels high with a
/// 1-pixel grid line, columns at the model's widths, the selection highlighted, greyed
/// rows in the grey-text colour, and a 16-pixel vertical scroll bar when the rows do not
/// fit. Clicks and keys go to the model's grid handlers.
class PortStatusGrid : public QWidget {
 public:
  PortStatusGrid(ProgressWindow& window, QWidget* parent);

  /// Geometry, scroll bar and contents from the model.
  void Sync(TProgressForm& form);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  ProgressWindow& window_;
  TProgressForm* form_ = nullptr;
  QScrollBar* scrollBar_;
};

/// The download progress window (ProgressForm) drawn from TProgressForm: every component
/// at the model's place, size and visibility. Shown non-modally in progress mode and
/// modally in selection mode; the close box closes it (progress mode) or ends the dialog
/// with kModalCancel (selection mode); Esc does nothing.
class ProgressWindow : public QDialog {
 public:
  ProgressWindow();

  void ShowModeless(TProgressForm& form);
  /// Runs the selection dialog until Download (kModalDownload) or the close box
  /// (kModalCancel). The window stays shown: closing it is the model's.
  int ShowModal(TProgressForm& form);
  void Close();
  /// Draws the model's state now, also while the main thread is busy elsewhere.
  void RepaintNow(TProgressForm& form);
  /// Takes what the grid handlers changed (selection, Download enabled) onto the screen.
  void ModelChanged();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void Bind(TProgressForm& form);
  void Sync();
  void PlaceOnScreen();

  TProgressForm* form_ = nullptr;
  bool placed_ = false;
  bool modal_ = false;
  int modalResult_ = 0;

  PortStatusGrid* grid_;
  QLabel* portStatusText_;
  QLabel* scanningText_;
  QWidget* downloadStatus_;
  QLabel* downloadStatusText_;
  std::array<QLabel*, 8> progNames_;
  std::array<QProgressBar*, 8> progressBars_;
  IndicatorShape* txStatus_;
  QLabel* message_;
  QWidget* warningImage_;
  QPushButton* downloadButton_;
};

}  // namespace downloader::qtui
