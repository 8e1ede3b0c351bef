// The Qt windows offscreen, in the loader's own process: the information window, the
// progress window as drawn, the selection dialog against emulated modules, and the error
// dialog. Modal windows are answered from a timer that the modal loops run.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <functional>
#include <vector>

#include "control/process_object_code.h"
#include "download/download.h"
#include "e2e/loader_run.h"
#include "run/run_state.h"
#include "serial/globals.h"
#include "support/fake_windows.h"
#include "ui/download_test_state.h"
#include "ui/forms.h"
#include "ui/qt/qt_window_system.h"

namespace downloader {
namespace {

using e2e::Downloading;
using e2e::InvalidPort;
using e2e::PortLine;
using e2e::StandardImage;
using e2e::StatusIs;
using e2e::Success;
using testing::ModuleEmulator;
using testing::ScopedEnv;
using testing::StatusCapture;
using testing::StatusLine;
using testing::TempDir;

constexpr unsigned kWatchdogSeconds = 30;  // an unanswered modal window would wait forever

// Answers modal windows as they open, one step each, in order.
class ModalAnswers {
 public:
  using Step = std::function<void(QWidget& modal)>;

  explicit ModalAnswers(std::vector<Step> steps) : steps_(std::move(steps)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal == nullptr) answered_ = nullptr;
      if (modal == nullptr || modal == answered_ || next_ >= steps_.size()) return;
      answered_ = modal;
      steps_[next_++](*modal);
    });
    timer_.start(5);
  }
  std::size_t Answered() const { return next_; }

 private:
  std::vector<Step> steps_;
  std::size_t next_ = 0;
  QPointer<QWidget> answered_;
  QTimer timer_;
};

template <typename T = QWidget>
T& Child(QWidget& window, const char* name) {
  T* child = window.findChild<T*>(name);
  if (child == nullptr) throw std::runtime_error(std::string("no ") + name);
  return *child;
}

void Click(QWidget& window, const char* button) {
  QTest::mouseClick(&Child<QPushButton>(window, button), Qt::LeftButton);
}

// Presses a key where the window's keyboard focus is.
void Press(QWidget& window, Qt::Key key) {
  QTest::keyClick(window.focusWidget() ? window.focusWidget() : &window, key);
}

void CloseMessage(QWidget& box) {
  Press(box, Qt::Key_Return);
}

QString MessageText(QWidget& box) {
  return static_cast<QMessageBox&>(box).text();
}

class QtWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::alarm(kWatchdogSeconds);
    testing::ResetDownloaderState();
    SetDownloadHandler(DownloadToDevice);
    SetWindowSystem(qtui::MakeQtWindowSystem());
  }
  void TearDown() override {
    SetWindowSystem(nullptr);
    ::alarm(0);
  }

  // Runs the request for `image` written to a file, as the loader does for its command line.
  void Request(const ImageDescription& image) {
    ObjectFileName = e2e::WriteImage(dir, image);
    ProcessObjectCode();
  }

  static QWidget& Window(const char* name) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->objectName() == name) return *window;
    }
    throw std::runtime_error(std::string("no window ") + name);
  }

  TempDir dir;
  StatusCapture status;
};

// The emulated modules on COM1..COM3 as the scan reports them; COM4 has no entry.
std::vector<std::string> ScanOf(const char* com1, const char* com2, const char* com3) {
  return {PortLine(std::string("COM1 ") + com1), PortLine(std::string("COM2 ") + com2),
          PortLine(std::string("COM3 ") + com3), InvalidPort("COM4")};
}
constexpr char kC11[] = "DEVICE=Korvanetics C VERSION=v1.1 LOOPBACK=No ECHO=Yes";
constexpr char kC10[] = "DEVICE=Korvanetics C VERSION=v1.0 LOOPBACK=No ECHO=Yes";
constexpr char kD10[] = "DEVICE=Korvanetics D VERSION=v1.0 LOOPBACK=No ECHO=Yes";

TEST_F(QtWindowsTest, EnterRightAfterTheInformationWindowOpensCancels) {
  ImageDescription image = StandardImage(3, {2});
  image.notes = {"First line\r\nSecond", " line", ""};
  ModalAnswers answers({[](QWidget& window) {
    EXPECT_EQ(window.objectName(), "MainForm");
    EXPECT_EQ(window.windowTitle(), "Veltrana, Inc. - Korvanetics Loader v1.7");
    EXPECT_EQ(Child<QLineEdit>(window, "Product").text(), "Korvanetics C");
    EXPECT_EQ(Child<QLineEdit>(window, "CompileDate").text(),
              "Saturday, January 1, 2000, 06:00 pm");
    EXPECT_EQ(Child<QPlainTextEdit>(window, "MessageMemo").toPlainText(),
              "First line\nSecond line");
    EXPECT_EQ(window.focusWidget()->objectName(), "CancelButton");
    // The designed client area: 376 x 361 outer, less the frame of a resizable window.
    EXPECT_EQ(window.size(), QSize(368, 334));
    EXPECT_EQ(Child(window, "OKButton").geometry(), QRect(191, 295, 75, 25));
    Press(window, Qt::Key_Return);
  }});
  Request(image);
  EXPECT_EQ(answers.Answered(), 1u);
  EXPECT_EQ(status.Bytes(), StatusLine("EVT:", "042-User cancelled information dialog.", true));
}

TEST_F(QtWindowsTest, DownloadFromTheInformationWindowDrawsTheProgressWindow) {
  ModuleEmulator emulator(
      {"type=3,version=1.1,com=1", "type=4,version=1.0,com=2", "type=2,noecho,com=3"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  ImageDescription image = StandardImage(3, {5});
  image.company = "Acme Corp";
  ModalAnswers answers({
      [](QWidget& window) {
        EXPECT_EQ(window.windowTitle(), "Acme Corp - Korvanetics C Loader v1.7");
        Click(window, "OKButton");
      },
      [](QWidget& box) {
        EXPECT_EQ(MessageText(box), "Download successful!");
        // The progress window as drawn at the end: four ports, one slot.
        QWidget& progress = Window("ProgressForm");
        EXPECT_TRUE(progress.isVisible());
        EXPECT_EQ(box.parentWidget(), &progress);  // so it opens above it
        EXPECT_EQ(progress.windowTitle(), "Download Progress");
        EXPECT_EQ(progress.height(), 218 - 25);  // the outer height less a dialog's frame
        EXPECT_EQ(Child(progress, "PortStatus").geometry().top(), 27);
        EXPECT_EQ(Child(progress, "PortStatus").height(), 99);
        EXPECT_EQ(Child(progress, "DownloadStatus").geometry(), QRect(17, 135, 336, 46));
        EXPECT_TRUE(Child(progress, "ProgressBar0").isVisible());
        EXPECT_FALSE(Child(progress, "ProgressBar1").isVisible());
        EXPECT_EQ(Child<QProgressBar>(progress, "ProgressBar0").text(), "100%");
        EXPECT_EQ(Child<QLabel>(progress, "ProgName0").text(), "Firmware Slot 0");
        // The transmit indicator beside the first data row, the target's.
        EXPECT_TRUE(Child(progress, "TXStatus").isVisible());
        EXPECT_EQ(Child(progress, "TXStatus").geometry(), QRect(8, 27 + 25, 10, 10));
        EXPECT_FALSE(Child(progress, "ScanningText").isVisible());
        CloseMessage(box);
      },
  });
  Request(image);
  EXPECT_EQ(answers.Answered(), 2u);
  EXPECT_FALSE(Window("ProgressForm").isVisible());
  const std::string out = status.Bytes();
  const std::string first =
      StatusLine("EVT:", "101-User selected download from information dialog.", false);
  ASSERT_TRUE(out.starts_with(first)) << testing::Visible(out);
  EXPECT_TRUE(StatusIs(out.substr(first.size()),
                       ScanOf(kC11, kD10, "DEVICE=none VERSION=n/a LOOPBACK=No ECHO=No"),
                       Downloading("COM1") + Success()));
  e2e::ExpectHoldsImage(emulator.Stop().Com(1), image);
}

TEST_F(QtWindowsTest, TenPortsScrollTheGrid) {
  RunFlags = 0;
  testing::SetTestImage(3, {4});
  PortList.clear();
  for (int i = 1; i <= 10; ++i) PortList.push_back("COM" + std::to_string(i));
  ProgressForm->Open(true, "");
  QWidget& progress = Window("ProgressForm");
  QWidget& grid = Child(progress, "PortStatus");
  const QScrollBar& scrollBar = *grid.findChild<QScrollBar*>();
  EXPECT_EQ(grid.height(), 137);
  EXPECT_TRUE(scrollBar.isVisible());
  EXPECT_EQ(scrollBar.width(), 16);
  // Columns 0..4 measured in the window's font fill the grid beside the scroll bar.
  const auto& widths = ProgressForm->PortStatus.ColWidths;
  EXPECT_EQ(grid.width(), 9 + widths[0] + widths[1] + widths[2] + widths[3] + widths[4] + 16);
  const QRect sample = QFontMetrics(grid.font())
                           .boundingRect(QRect(0, 0, 1000, 100), Qt::AlignLeft | Qt::AlignTop,
                                         "No Korvanetics Found");
  EXPECT_EQ(widths[1], sample.width() + 15);
  EXPECT_EQ(progress.width(), 21 + grid.width() + 26 - 6);

  ProgressForm->PortStatus.SetTopRow(9);  // as the scan does for a late row
  ProgressForm->Repaint();
  EXPECT_EQ(scrollBar.value(), 4);  // rows 5..10 visible
  ProgressForm->Close();
  EXPECT_FALSE(progress.isVisible());
}

TEST_F(QtWindowsTest, SelectionDialogChoosesOnlyMarkedRows) {
  ModuleEmulator emulator(
      {"type=3,version=1.1,com=1", "type=4,version=1.0,com=2", "type=3,version=1.0,com=3"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  testing::UseRunFlags(kNoInfo);
  const ImageDescription image = StandardImage(3, {3});
  // A click on a row's port name, 19 pixels a row below the header, inside the grid's frame.
  auto clickPortName = [](QWidget& grid, int row) {
    QTest::mouseClick(&grid, Qt::LeftButton, {}, QPoint(2 + 10, 2 + 19 * row + 9));
  };
  ModalAnswers answers({
      [](QWidget& dialog) {
        EXPECT_TRUE(Child(dialog, "WarningImage").isVisible());
        EXPECT_FALSE(Child(dialog, "DownloadStatus").isVisible());
        dialog.close();  // the close box
      },
      [&](QWidget& dialog) {
        QWidget& grid = Child(dialog, "PortStatus");
        const QPushButton& download = Child<QPushButton>(dialog, "DownloadButton");
        EXPECT_FALSE(download.isEnabled());
        clickPortName(grid, 2);  // the grey row of the type-4 module
        EXPECT_FALSE(ProgressForm->PortStatus.HasSelection());
        EXPECT_FALSE(download.isEnabled());
        clickPortName(grid, 1);
        EXPECT_EQ(ProgressForm->PortStatus.Selection.Top, 1);
        clickPortName(grid, 3);
        EXPECT_EQ(ProgressForm->PortStatus.Selection.Top, 3);
        EXPECT_TRUE(download.isEnabled());
        Click(dialog, "DownloadButton");
      },
      CloseMessage,
  });

  Request(image);
  const std::vector<std::string> scan = ScanOf(kC11, kD10, kC10);
  const std::string duplicates = StatusLine("EVT:", "102-Duplicate devices found.", false);
  EXPECT_TRUE(
      StatusIs(status.Bytes(), scan,
               duplicates + StatusLine("EVT:", "033-User cancelled device selection.", true)));

  StatusCapture second;
  Request(image);
  EXPECT_EQ(answers.Answered(), 3u);
  EXPECT_TRUE(StatusIs(second.Bytes(), scan,
                       duplicates + StatusLine("EVT:", "103-User selected device on COM3.", false) +
                           Downloading("COM3") + Success()));
  const auto dump = emulator.Stop();
  e2e::ExpectHoldsImage(dump.Com(3), image);
  e2e::ExpectNothingStored(dump.Com(1));
}

TEST_F(QtWindowsTest, KeysChooseAMarkedRowOverAGreyOne) {
  ModuleEmulator emulator(
      {"type=3,version=1.1,com=1", "type=4,version=1.0,com=2", "type=3,version=1.0,com=3"});
  ScopedEnv ports("DOWNLOADER_PORTS", emulator.PortMapDir());
  testing::UseRunFlags(kNoInfo);
  const ImageDescription image = StandardImage(3, {3});
  ModalAnswers answers({
      [](QWidget& dialog) {
        // The keys reach the grid at once, with no click first.
        EXPECT_EQ(dialog.focusWidget(), &Child(dialog, "PortStatus"));
        Press(dialog, Qt::Key_Down);  // COM1
        Press(dialog, Qt::Key_Down);  // over the grey COM2 onto COM3
        EXPECT_EQ(ProgressForm->PortStatus.Selection.Top, 3);
        EXPECT_TRUE(Child<QPushButton>(dialog, "DownloadButton").isEnabled());
        Press(dialog, Qt::Key_Return);
      },
      CloseMessage,
  });
  Request(image);
  EXPECT_EQ(answers.Answered(), 2u);
  EXPECT_TRUE(StatusIs(status.Bytes(), ScanOf(kC11, kD10, kC10),
                       StatusLine("EVT:", "102-Duplicate devices found.", false) +
                           StatusLine("EVT:", "103-User selected device on COM3.", false) +
                           Downloading("COM3") + Success()));
  e2e::ExpectHoldsImage(emulator.Stop().Com(3), image);
}

TEST_F(QtWindowsTest, EightSlotsFitWholeInThePanelAndTheWindow) {
  RunFlags = 0;
  testing::SetTestImage(3, {1, 1, 1, 1, 1, 1, 1, 1});
  ProgressForm->Open(true, "");
  QWidget& progress = Window("ProgressForm");
  QWidget& panel = Child(progress, "DownloadStatus");
  EXPECT_TRUE(progress.rect().contains(panel.geometry()));
  for (int slot = 0; slot < 8; ++slot) {
    const std::string name = "ProgressBar" + std::to_string(slot);
    QWidget& bar = Child(panel, name.c_str());
    EXPECT_TRUE(bar.isVisible()) << slot;
    EXPECT_TRUE(panel.rect().contains(bar.geometry())) << slot;
  }
  ProgressForm->Close();
}

TEST_F(QtWindowsTest, ScanningGoesAwayBeforeNoModuleFoundShows) {
  TempDir noPorts;  // a complete port map with no entries
  ScopedEnv ports("DOWNLOADER_PORTS", noPorts.path().string());
  testing::UseRunFlags(kNoInfo);
  ModalAnswers answers({[](QWidget& box) {
    EXPECT_EQ(MessageText(box), "#023\nNo Korvanetics C found.");
    QWidget& progress = Window("ProgressForm");
    EXPECT_TRUE(progress.isVisible());
    EXPECT_EQ(box.parentWidget(), &progress);
    EXPECT_FALSE(Child(progress, "ScanningText").isVisible());
    CloseMessage(box);
  }});
  Request(StandardImage(3, {2}));
  EXPECT_EQ(answers.Answered(), 1u);
}

TEST_F(QtWindowsTest, ErrorDialogShowsTheNumberAboveTheText) {
  const ObjectImage built = BuildImage(StandardImage(3, {1}));
  std::string bytes(reinterpret_cast<const char*>(built.bytes.data()), built.bytes.size());
  bytes[5000] ^= 0x01;
  ObjectFileName = dir.Write("bad.obj", bytes);
  ModalAnswers answers({[&](QWidget& box) {
    EXPECT_EQ(box.windowTitle(), "Error");
    EXPECT_EQ(static_cast<QMessageBox&>(box).icon(), QMessageBox::Critical);
    EXPECT_EQ(MessageText(box).toStdString(),
              "#012\nChecksum Error.  Data is corrupt in file \"" + ObjectFileName + "\".");
    CloseMessage(box);
  }});
  ProcessObjectCode();
  EXPECT_EQ(answers.Answered(), 1u);
  EXPECT_EQ(status.Lines(),
            std::vector<std::string>{"ERR:012-Checksum Error.  Data is corrupt in file \"" +
                                     ObjectFileName + "\"."});
}

TEST_F(QtWindowsTest, TheReasonsOnStandardErrorStandUnderTheErrorText) {
  ModalAnswers answers({[&](QWidget& box) {
    EXPECT_EQ(MessageText(box).toStdString(),
              "#023\nNo Korvanetics C found.\n\nCOM11: rfc2217://127.0.0.1:9 refuses the "
              "connection\nthe scan covers COM1 to COM4; name the port with /COM11");
    CloseMessage(box);
  }});
  WriteReason("downloader: COM11: rfc2217://127.0.0.1:9 refuses the connection");
  WriteReason("downloader: the scan covers COM1 to COM4; name the port with /COM11");
  ReportError("023-No Korvanetics C found.");
  EXPECT_EQ(answers.Answered(), 1u);
  EXPECT_EQ(status.Lines(), std::vector<std::string>{"ERR:023-No Korvanetics C found."});
}

}  // namespace
}  // namespace downloader
