// The real downloader with a display: its windows on a real X server (Xvfb) answered with
// real key presses, an unattended run under that display that loads no toolkit, and a
// loader whose window module is missing or whose display cannot be reached.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>

#include "e2e/loader_run.h"
#include "support/child_process.h"

namespace downloader::e2e {
namespace {

using testing::ChildProcess;
using testing::ModuleEmulator;
using testing::ReadFileBytes;
using testing::RunOptions;
using testing::RunProgram;
using testing::RunResult;
using testing::StatusLine;
using testing::TempDir;

constexpr char kXvfb[] = "/usr/bin/Xvfb";
constexpr char kXdotool[] = "/usr/bin/xdotool";
constexpr auto kLimit = std::chrono::seconds(20);

bool Installed(const char* program) {
  return ::access(program, X_OK) == 0;
}

// An X server of its own for one test, on the first free display number.
class VirtualDisplay {
 public:
  VirtualDisplay()
      : server_(kXvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"}) {
    const auto number = server_.ReadLine(kLimit);
    if (!number) throw std::runtime_error("Xvfb did not start");
    name_ = ":" + *number;
    ::chmod(runtime_.path().c_str(), 0700);
  }
  ~VirtualDisplay() {
    server_.Signal(SIGTERM);  // lets it remove its socket and lock file
    server_.Wait(kLimit);
  }
  VirtualDisplay(const VirtualDisplay&) = delete;
  VirtualDisplay& operator=(const VirtualDisplay&) = delete;

  /// What a program needs to reach this display, and only this one.
  std::map<std::string, std::string> Environment() const {
    return {{"DISPLAY", name_},
            {"WAYLAND_DISPLAY", ""},
            {"QT_QPA_PLATFORM", ""},
            {"XDG_RUNTIME_DIR", runtime_.path().string()}};
  }

  /// Waits for a shown window whose title matches `title` (a regular expression), gives
  /// it the keyboard focus and presses `keys` there, as a person at the keyboard does.
  void PressIn(const std::string& title, const std::string& keys) const {
    const std::string found = Xdotool({"search", "--sync", "--onlyvisible", "--name", title});
    const std::string window = found.substr(0, found.find('\n'));
    Xdotool({"windowfocus", "--sync", window});
    Xdotool({"key", keys});
  }

 private:
  std::string Xdotool(std::vector<std::string> args) const {
    RunOptions options;
    options.args = std::move(args);
    options.env = Environment();
    options.timeout = kLimit;
    const RunResult run = RunProgram(kXdotool, options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return run.out;
  }

  ChildProcess server_;
  TempDir runtime_;
  std::string name_;
};

std::map<std::string, std::string> Merged(std::map<std::string, std::string> a,
                                          const std::map<std::string, std::string>& b) {
  a.insert(b.begin(), b.end());
  return a;
}

std::string Maps(pid_t pid) {
  return ReadFileBytes("/proc/" + std::to_string(pid) + "/maps");
}

std::vector<std::string> OneModuleScan() {
  return {PortLine("COM1 DEVICE=Korvanetics C VERSION=v1.1 LOOPBACK=No ECHO=Yes"),
          InvalidPort("COM2"), InvalidPort("COM3"), InvalidPort("COM4")};
}

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Installed(kXvfb) || !Installed(kXdotool)) {
      GTEST_SKIP() << "needs Xvfb and xdotool (scripts/setup gui)";
    }
  }
};

TEST_F(DisplayTest, WindowsAnsweredWithKeysDownload) {
  VirtualDisplay display;
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const ImageDescription image = StandardImage(3, {4, 2});
  ChildProcess loader(testing::BinaryPath("downloader"), {WriteImage(dir, image)},
                      Merged(display.Environment(), emulator.Environment()));

  // The information window: Alt+D is its Download button.
  display.PressIn("Loader v1.7$", "alt+d");
  EXPECT_NE(Maps(loader.pid()).find("libQt6Widgets"), std::string::npos);
  // The "Download successful!" box, titled as the application.
  display.PressIn("^Downloader$", "Return");

  const std::string out = loader.ReadToEnd(kLimit);
  EXPECT_EQ(loader.Wait(kLimit), 0);
  const std::string first =
      StatusLine("EVT:", "101-User selected download from information dialog.", false);
  ASSERT_TRUE(out.starts_with(first)) << testing::Visible(out);
  EXPECT_TRUE(StatusIs(out.substr(first.size()), OneModuleScan(), Downloading("COM1") + Success()));
  ExpectHoldsImage(emulator.Stop().Com(1), image);
}

TEST_F(DisplayTest, NoPromptsShowsNoWindowAndLoadsNoToolkit) {
  VirtualDisplay display;
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  ChildProcess loader(testing::BinaryPath("downloader"),
                      {"/NoPrompts", "/Updates", WriteImage(dir, StandardImage(3, {2}))},
                      Merged(display.Environment(), emulator.Environment()));
  // Watched for its whole run: its maps read empty once it has ended.
  int samples = 0;
  for (std::string maps = Maps(loader.pid()); !maps.empty(); maps = Maps(loader.pid())) {
    ++samples;
    ASSERT_EQ(maps.find("libQt6"), std::string::npos);
    ASSERT_EQ(maps.find("libdownloader-qt"), std::string::npos);
  }
  EXPECT_GT(samples, 0);
  EXPECT_TRUE(StatusIs(loader.ReadToEnd(kLimit), OneModuleScan(),
                       Downloading("COM1") + Progress(0, {50, 100}) + Success()));
  EXPECT_EQ(loader.Wait(kLimit), 0);
}

// A loader copied into a folder of its own: it finds its window module only beside itself.
TEST(HiddenWindowModule, UnattendedRunsNeedNoModuleAndWindowsFallBackToTheConsole) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const std::string image = WriteImage(dir, StandardImage(3, {2}));
  const std::filesystem::path loader = dir.path() / "downloader";
  std::filesystem::copy_file(testing::BinaryPath("downloader"), loader);
  RunOptions options;
  options.env = Merged({{"DISPLAY", ":4242"}}, emulator.Environment());
  auto run = [&](std::vector<std::string> args) {
    options.args = std::move(args);
    return RunProgram(loader.string(), options);
  };

  RunResult unattended = run({"/NoPrompts", image});
  EXPECT_TRUE(StatusIs(unattended.out, OneModuleScan(), Downloading("COM1") + Success()));
  EXPECT_EQ(unattended.err, "");
  RunResult info = run({"/GetInfo", image});
  EXPECT_TRUE(info.out.starts_with("\x01INF:051-COMPANY=Veltrana, Inc. PRODUCT=Korvanetics C "))
      << testing::Visible(info.out);
  EXPECT_TRUE(info.out.ends_with("\r\n\x04")) << testing::Visible(info.out);
  EXPECT_EQ(info.err, "");

  // With prompts: one line on standard error says why, and the console forms answer.
  const std::string cancelled = StatusLine("EVT:", "042-User cancelled information dialog.", true);
  RunResult prompted = run({image});
  EXPECT_EQ(prompted.out, cancelled);
  EXPECT_TRUE(prompted.err.starts_with("downloader: no window module:")) << prompted.err;
  EXPECT_NE(prompted.err.find("\nVeltrana, Inc. - Korvanetics Loader v1.7\n"), std::string::npos)
      << prompted.err;

  // The module beside it loads, but no X server answers on that display.
  std::filesystem::copy_file(WINDOW_MODULE, dir.path() / "libdownloader-qt.so");
  prompted = run({image});
  EXPECT_EQ(prompted.out, cancelled);
  EXPECT_TRUE(prompted.err.starts_with("downloader: cannot connect to the X display :4242"))
      << prompted.err;
}

}  // namespace
}  // namespace downloader::e2e
