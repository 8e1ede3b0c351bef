// The Qt windows laid out on a real X server (Xvfb, 1024 x 768) at 100, 125, 150 and 200 %
// (Xft.dpi 96, 120, 144, 192, as a desktop sets it), with a window manager and without
// one: every window walked (ui/window_walk.h). The walk itself runs in a process of its own
// for each desk (Qt takes its scale once, at its start): this program again, with --walk.

#include <gtest/gtest.h>
#include <unistd.h>

#include <xcb/xcb.h>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "support/child_process.h"
#include "support/virtual_desk.h"
#include "ui/download_test_state.h"
#include "ui/forms.h"
#include "ui/qt/qt_window_system.h"
#include "ui/window_walk.h"

namespace downloader::testing {
namespace {

constexpr auto kSettle = std::chrono::milliseconds(300);  // a window manager's framing
constexpr auto kShowLimit = std::chrono::seconds(20);
constexpr char kFaultPrefix[] = "FAULT: ";

ScreenRect Rect(const QRect& r) {
  return ScreenRect{r.x(), r.y(), r.width(), r.height()};
}

std::vector<WalkedControl> WalkChildren(const QWidget& parent);

WalkedControl WalkWidget(const QWidget& widget) {
  WalkedControl walked;
  walked.name = widget.metaObject()->className();
  if (!widget.objectName().isEmpty()) walked.name += " " + widget.objectName().toStdString();
  walked.rect = Rect(widget.geometry());
  const QFontMetrics metrics(widget.font());
  auto needs = [&](const QString& text, const QRect& room, int flags) {
    walked.name += " " + Quoted(text.toStdString());
    const QSize size = metrics.boundingRect(room, flags, text).size();
    walked.text = TextSize{size.width(), size.height()};
    walked.textRoom = Rect(room);
  };
  if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
    if (!label->text().isEmpty()) {
      const QRect room = label->contentsRect();
      const int wrap = label->wordWrap() ? Qt::TextWordWrap : 0;
      needs(label->text(),
            label->wordWrap() ? room : QRect(room.topLeft(), QSize(1 << 20, 1 << 20)),
            static_cast<int>(Qt::AlignLeft | Qt::AlignTop) | wrap);
      walked.textRoom = Rect(room);
    }
  } else if (const auto* button = qobject_cast<const QPushButton*>(&widget)) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (button->autoDefault()) option.features |= QStyleOptionButton::AutoDefaultButton;
    const QRect room =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    needs(button->text(), QRect(room.topLeft(), QSize(1 << 20, 1 << 20)),
          Qt::AlignLeft | Qt::AlignTop | Qt::TextShowMnemonic);
    walked.textRoom = Rect(room);
  } else if (const auto* edit = qobject_cast<const QLineEdit*>(&widget)) {
    QStyleOptionFrame option;
    option.initFrom(edit);
    // Qt keeps 2 pixels beside a line edit's text and 1 above and below it.
    const QRect room = edit->style()
                           ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                           .marginsRemoved(edit->textMargins())
                           .adjusted(2, 1, -2, -1);
    needs(edit->text(), QRect(room.topLeft(), QSize(1 << 20, 1 << 20)), Qt::AlignLeft);
    walked.textRoom = Rect(room);
  } else if (const auto* bar = qobject_cast<const QProgressBar*>(&widget)) {
    needs(bar->text(), QRect(0, 0, 1 << 20, 1 << 20), Qt::AlignLeft);
    walked.textRoom = Rect(bar->rect());
  } else if (qobject_cast<const QAbstractScrollArea*>(&widget) != nullptr) {
    return walked;  // its text scrolls
  }
  if (widget.objectName() == "PortStatus" && ProgressForm != nullptr) {
    walked.children = GridCells(ProgressForm->PortStatus, [&](std::string_view text) {
      const QSize size =
          metrics.size(0, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
      return TextSize{size.width(), size.height()};
    });
  }
  for (WalkedControl& child : WalkChildren(widget)) walked.children.push_back(std::move(child));
  return walked;
}

std::vector<WalkedControl> WalkChildren(const QWidget& parent) {
  std::vector<WalkedControl> controls;
  for (const QObject* object : parent.children()) {
    const auto* child = qobject_cast<const QWidget*>(object);
    if (child == nullptr || child->isWindow() || !child->isVisible()) continue;
    controls.push_back(WalkWidget(*child));
  }
  return controls;
}

// Where the X server has `window` with its frame (the window manager's, if any), in device
// pixels: what is on the screen, whatever Qt last heard of it.
ScreenRect OnScreen(const QWidget& window) {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* x = x11 != nullptr ? x11->connection() : nullptr;
  if (x == nullptr) return Rect(window.frameGeometry());
  xcb_window_t top = static_cast<xcb_window_t>(window.winId());
  for (;;) {
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(x, xcb_query_tree(x, top), nullptr);
    if (tree == nullptr) break;
    const bool atRoot = tree->parent == tree->root;
    const xcb_window_t parent = tree->parent;
    std::free(tree);
    if (atRoot) break;
    top = parent;
  }
  xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(x, xcb_get_geometry(x, top), nullptr);
  if (geometry == nullptr) return Rect(window.frameGeometry());
  const ScreenRect r{geometry->x, geometry->y, geometry->width + 2 * geometry->border_width,
                     geometry->height + 2 * geometry->border_width};
  std::free(geometry);
  return r;
}

// The work area in the X server's device pixels.
ScreenRect DeviceWorkArea() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const QRect area = screen->availableGeometry();
  const qreal ratio = screen->devicePixelRatio();
  return ScreenRect{qRound(area.x() * ratio), qRound(area.y() * ratio),
                    qRound(area.width() * ratio), qRound(area.height() * ratio)};
}

// The window on the screen in device pixels; its controls in Qt's own (designed) pixels.
WalkedWindow WalkWindow(const QWidget& window) {
  return WalkedWindow{window.windowTitle().toStdString(), OnScreen(window), window.width(),
                      window.height(), WalkChildren(window)};
}

// Shown, exposed, and left a moment for the window manager to frame and place it.
bool Settled(const QWidget& window, std::chrono::steady_clock::time_point& exposedSince) {
  const QWindow* handle = window.windowHandle();
  if (!window.isVisible() || handle == nullptr || !handle->isExposed()) {
    exposedSince = {};
    return false;
  }
  const auto now = std::chrono::steady_clock::now();
  if (exposedSince == std::chrono::steady_clock::time_point{}) exposedSince = now;
  return now - exposedSince >= kSettle;
}

class QtProbe final : public WindowProbe {
 public:
  QtProbe() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
    timer_.start(10);
  }

  ScreenRect WorkArea() override { return DeviceWorkArea(); }

  std::optional<WalkedWindow> WalkShown() override {
    QWidget* progress = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->objectName() == "ProgressForm") progress = window;
    }
    if (progress == nullptr) return std::nullopt;
    std::chrono::steady_clock::time_point since{};
    const auto deadline = std::chrono::steady_clock::now() + kShowLimit;
    while (!Settled(*progress, since)) {
      if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
      QApplication::processEvents(QEventLoop::AllEvents, 10);
      ::usleep(5000);
    }
    return WalkWindow(*progress);
  }

  void WalkNextModal(std::optional<WalkedWindow>& walked) override {
    walked.reset();
    target_ = &walked;
    since_ = {};
  }

 private:
  void Poll() {
    if (target_ == nullptr) return;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !Settled(*modal, since_)) return;
    *target_ = WalkWindow(*modal);
    target_ = nullptr;
    modal->close();
  }

  QTimer timer_;
  std::optional<WalkedWindow>* target_ = nullptr;
  std::chrono::steady_clock::time_point since_{};
};

// The walk, in this process on the display of the environment.
int Walk(int argc, char** argv) {
  QApplication application(argc, argv);
  ResetDownloaderState();
  SetWindowSystem(qtui::MakeQtWindowSystem());
  std::cout << "scale " << QGuiApplication::primaryScreen()->devicePixelRatio() << ", work area "
            << QGuiApplication::primaryScreen()->availableGeometry().width() << "x"
            << QGuiApplication::primaryScreen()->availableGeometry().height() << std::endl;
  int faults = 0;
  {
    QtProbe probe;
    std::vector<std::string> shown;
    for (const std::string& fault : WalkEveryWindow(probe, &shown)) {
      std::cout << kFaultPrefix << fault << std::endl;
      ++faults;
    }
    for (const std::string& window : shown) std::cout << window << std::endl;
  }
  SetWindowSystem(nullptr);
  return faults == 0 ? 0 : 1;
}

struct Desk {
  int dpi;
  bool windowManager;
};

class QtLayoutTest : public ::testing::TestWithParam<Desk> {};

TEST_P(QtLayoutTest, EveryWindowFitsItsTextsAndTheScreen) {
  // Without its tools the walk fails rather than skips: ./scripts/test installs them.
  ASSERT_EQ(::access(kXvfb, X_OK), 0) << "needs " << kXvfb << " (scripts/setup gui)";
  if (GetParam().windowManager) {
    ASSERT_EQ(::access(kJwm, X_OK), 0) << "needs " << kJwm << " (scripts/setup gui)";
  }
  VirtualDesk desk(GetParam().dpi, GetParam().windowManager);
  auto env = desk.Environment();
  env["QT_QPA_PLATFORM"] = "xcb";
  char self[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
  ChildProcess walk(self, {"--walk"}, env);
  const std::string out = walk.ReadToEnd(std::chrono::seconds(100));
  const int exitCode = walk.Wait(std::chrono::seconds(10));
  std::istringstream lines(out);
  int faults = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(kFaultPrefix)) {
      ADD_FAILURE() << line.substr(std::strlen(kFaultPrefix));
      ++faults;
    }
  }
  EXPECT_EQ(exitCode, faults == 0 ? 0 : 1) << out;
  if (faults > 0) std::cerr << "The walk:\n" << out;
  EXPECT_NE(out.find("scale "), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(Scales, QtLayoutTest,
                         ::testing::Values(Desk{96, false}, Desk{120, false}, Desk{144, false},
                                           Desk{192, false}, Desk{96, true}, Desk{144, true},
                                           Desk{192, true}),
                         [](const ::testing::TestParamInfo<Desk>& desk) {
                           return std::to_string(desk.param.dpi) + "dpi" +
                                  (desk.param.windowManager ? "WithJwm" : "Bare");
                         });

}  // namespace
}  // namespace downloader::testing

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--walk") == 0) {
    return downloader::testing::Walk(argc, argv);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
