// GUI tests run offscreen: they never reach a real display, whatever the environment says.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>

namespace {

QtMessageHandler shown = nullptr;

// The offscreen platform says so at every raise(); anything else is still shown.
void QuietOffscreen(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (shown != nullptr && !text.startsWith("This plugin does not support")) {
    shown(type, context, text);
  }
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
  char runtime[] = "/tmp/downloader-qt-XXXXXX";  // Qt wants a private runtime folder
  if (::mkdtemp(runtime) != nullptr) ::setenv("XDG_RUNTIME_DIR", runtime, 1);
  shown = qInstallMessageHandler(QuietOffscreen);
  int result = 0;
  {
    QApplication application(argc, argv);
    result = RUN_ALL_TESTS();
  }
  ::rmdir(runtime);
  return result;
}
