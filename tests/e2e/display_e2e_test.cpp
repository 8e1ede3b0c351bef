// The real downloader with a display: its windows on a real X server (Xvfb) answered with
// real key presses, also under a real window manager (jwm), an unattended run under that
// display that loads no toolkit, and a loader whose window module is missing, of another
// build, or whose display cannot be reached.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <sstream>
#include <thread>

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
constexpr char kJwm[] = "/usr/bin/jwm";
constexpr auto kLimit = std::chrono::seconds(20);
constexpr auto kPoll = std::chrono::milliseconds(20);

bool Installed(const char* program) {
  return ::access(program, X_OK) == 0;
}

// An X server of its own for one test, on the first free display number.
class VirtualDisplay {
 public:
  VirtualDisplay()
      : server_(kXvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                        "-noreset"}) {
    const auto number = server_.ReadLine(kLimit);
    if (!number) throw std::runtime_error("Xvfb did not start");
    name_ = ":" + *number;
    ::chmod(runtime_.path().c_str(), 0700);
  }
  ~VirtualDisplay() {
    x_.reset();
    windowManager_.reset();
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

  /// Starts a window manager (jwm: frames, stacking, EWMH) and waits until it manages
  /// the screen.
  void StartWindowManager() {
    const std::string rc = runtime_.Write("jwmrc",
                                          "<?xml version=\"1.0\"?>\n<JWM>\n"
                                          "  <FocusModel>click</FocusModel>\n</JWM>\n");
    windowManager_ =
        std::make_unique<ChildProcess>(kJwm, std::vector<std::string>{"-f", rc}, Environment());
    x_.reset(xcb_connect(name_.c_str(), nullptr));
    if (xcb_connection_has_error(x_.get()) != 0) throw std::runtime_error("no X connection");
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (!Managed()) {
      if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("no jwm");
      std::this_thread::sleep_for(kPoll);
    }
  }

  /// Waits for a shown window whose title matches `title` (a regular expression).
  unsigned long Window(const std::string& title) const {
    const std::string found = Xdotool({"search", "--sync", "--onlyvisible", "--name", title});
    return std::stoul(found.substr(0, found.find('\n')));
  }

  /// Waits for a shown window whose title matches `title`, gives it the keyboard focus
  /// and presses `keys` (blank-separated) there, as a person at the keyboard does.
  void PressIn(const std::string& title, const std::string& keys) const {
    const std::string window = std::to_string(Window(title));
    // Under a window manager the window is activated through it, as a click would.
    Xdotool({windowManager_ ? "windowactivate" : "windowfocus", "--sync", window});
    std::vector<std::string> args{"key"};
    std::istringstream words(keys);
    for (std::string key; words >> key;) args.push_back(key);
    Xdotool(args);
  }

  /// Whether `upper` is stacked above `lower` on the screen; waits up to the test's limit
  /// for it. Read from the X server itself: the order of the root window's children (the
  /// window manager's frames), bottom first. jwm 2.4.4 writes _NET_CLIENT_LIST_STACKING
  /// top first within a layer, so that list cannot tell a dialog in front from one behind.
  bool StacksAbove(unsigned long upper, unsigned long lower) const {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    for (;;) {
      const std::vector<xcb_window_t> order = TopLevels();
      const auto top = std::find(order.begin(), order.end(), Frame(upper));
      const auto bottom = std::find(order.begin(), order.end(), Frame(lower));
      if (top != order.end() && bottom != order.end() && top > bottom) return true;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(kPoll);
    }
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

  xcb_window_t Root() const { return xcb_setup_roots_iterator(xcb_get_setup(x_.get())).data->root; }

  // A window manager that follows EWMH names its check window on the root window.
  bool Managed() const {
    constexpr std::string_view name = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        x_.get(), xcb_intern_atom(x_.get(), 0, name.size(), name.data()), nullptr);
    if (atom == nullptr) return false;
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        x_.get(), xcb_get_property(x_.get(), 0, Root(), atom->atom, XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    std::free(atom);
    const bool set = property != nullptr && xcb_get_property_value_length(property) > 0;
    std::free(property);
    return set;
  }

  // The root window's children, bottom first, and the one of them that holds `window`.
  std::vector<xcb_window_t> TopLevels() const {
    std::vector<xcb_window_t> windows;
    const xcb_window_t root = Root();
    if (xcb_query_tree_reply_t* tree =
            xcb_query_tree_reply(x_.get(), xcb_query_tree(x_.get(), root), nullptr)) {
      const xcb_window_t* children = xcb_query_tree_children(tree);
      windows.assign(children, children + xcb_query_tree_children_length(tree));
      std::free(tree);
    }
    return windows;
  }
  xcb_window_t Frame(xcb_window_t window) const {
    for (;;) {
      xcb_query_tree_reply_t* tree =
          xcb_query_tree_reply(x_.get(), xcb_query_tree(x_.get(), window), nullptr);
      if (tree == nullptr) return XCB_WINDOW_NONE;
      const bool top = tree->parent == tree->root;
      const xcb_window_t parent = tree->parent;
      std::free(tree);
      if (top) return window;
      window = parent;
    }
  }

  struct XDisconnect {
    void operator()(xcb_connection_t* x) const { xcb_disconnect(x); }
  };

  ChildProcess server_;
  std::unique_ptr<ChildProcess> windowManager_;       // stopped before the server
  std::unique_ptr<xcb_connection_t, XDisconnect> x_;  // the test's own, with a manager
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

// Without its tools a display test fails rather than skips: ./scripts/test installs them.
class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {kXvfb, kXdotool}) {
      ASSERT_TRUE(Installed(tool)) << "needs " << tool << " (scripts/setup gui)";
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

class WindowManagerTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_TRUE(Installed(kJwm)) << "needs " << kJwm << " (scripts/setup gui)";
    display.StartWindowManager();
  }

  VirtualDisplay display;
};

TEST_F(WindowManagerTest, TabAndEnterDownloadAndTheSuccessBoxOpensInFront) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const ImageDescription image = StandardImage(3, {4});
  ChildProcess loader(testing::BinaryPath("downloader"), {WriteImage(dir, image)},
                      Merged(display.Environment(), emulator.Environment()));

  // Tab moves the focus from Cancel to Download, and Enter presses it.
  display.PressIn("Loader v1.7$", "Tab Return");
  const unsigned long progress = display.Window("^Download Progress$");
  const unsigned long box = display.Window("^Downloader$");
  EXPECT_TRUE(display.StacksAbove(box, progress));
  display.PressIn("^Downloader$", "Return");

  const std::string out = loader.ReadToEnd(kLimit);
  EXPECT_EQ(loader.Wait(kLimit), 0);
  const std::string first =
      StatusLine("EVT:", "101-User selected download from information dialog.", false);
  ASSERT_TRUE(out.starts_with(first)) << testing::Visible(out);
  EXPECT_TRUE(StatusIs(out.substr(first.size()), OneModuleScan(), Downloading("COM1") + Success()));
}

TEST_F(WindowManagerTest, AnErrorDialogOpensInFrontOfTheProgressWindow) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1,status=2@0:1"});
  TempDir dir;
  ChildProcess loader(testing::BinaryPath("downloader"),
                      {"/NoInfo", WriteImage(dir, StandardImage(3, {4}))},
                      Merged(display.Environment(), emulator.Environment()));

  const unsigned long progress = display.Window("^Download Progress$");
  const unsigned long error = display.Window("^Error$");
  EXPECT_TRUE(display.StacksAbove(error, progress));
  display.PressIn("^Error$", "Return");

  EXPECT_TRUE(
      StatusIs(loader.ReadToEnd(kLimit), OneModuleScan(), Downloading("COM1") + kVerifyFailure));
  EXPECT_EQ(loader.Wait(kLimit), 0);
}

// A copied loader in a bin folder of its own, with lib/downloader beside it.
struct CopiedLoader {
  CopiedLoader() {
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(privateLib);
    std::filesystem::copy_file(testing::BinaryPath("downloader"), loader);
  }
  TempDir dir;
  std::filesystem::path bin = dir.path() / "bin";
  std::filesystem::path privateLib = dir.path() / DOWNLOADER_PRIVATE_LIBDIR;
  std::filesystem::path loader = bin / "downloader";
};

TEST_F(DisplayTest, AModuleOfAnotherBuildFoundFirstIsPassedOver) {
  VirtualDisplay display;
  CopiedLoader copy;
  const std::filesystem::path stale = copy.bin / "libdownloader-qt.so";
  std::filesystem::copy_file(OTHER_BUILD_WINDOW_MODULE, stale);
  std::filesystem::copy_file(WINDOW_MODULE, copy.privateLib / "libdownloader-qt.so");
  const std::string image = WriteImage(copy.dir, StandardImage(3, {2}));

  RunOptions options;
  options.args = {image};
  options.env = display.Environment();
  options.timeout = kLimit;
  auto run =
      std::async(std::launch::async, [&] { return RunProgram(copy.loader.string(), options); });
  // The information window of the module in lib/downloader.
  display.PressIn("Loader v1.7$", "Escape");
  const RunResult result = run.get();
  EXPECT_EQ(result.out, StatusLine("EVT:", "042-User cancelled information dialog.", true));
  const std::string refused = "downloader: " + stale.string() +
                              " is the window module of another build (0.0+other-build; "
                              "this loader is ";
  EXPECT_TRUE(result.err.starts_with(refused)) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
}

TEST(NamedPlatform, AnXDisplayThatCannotBeReachedFallsBackToTheConsole) {
  TempDir dir;
  RunOptions options;
  options.args = {WriteImage(dir, StandardImage(3, {2}))};
  options.env = {{"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", ":99999"}};
  const RunResult run = RunProgram(testing::BinaryPath("downloader"), options);
  EXPECT_EQ(run.exitCode, 0);  // not ended by Qt
  EXPECT_EQ(run.out, StatusLine("EVT:", "042-User cancelled information dialog.", true));
  EXPECT_TRUE(run.err.starts_with(
      "downloader: cannot connect to the X display :99999; the console serves instead\n"))
      << run.err;
  EXPECT_NE(run.err.find("\nVeltrana, Inc. - Korvanetics Loader v1.7\n"), std::string::npos)
      << run.err;
}

// A loader copied into a folder of its own: it finds its window module beside itself, in
// the private library folder beside that, or installed on this machine.
TEST(HiddenWindowModule, UnattendedRunsNeedNoModuleAndWindowsFallBackToTheConsole) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  CopiedLoader copy;
  const std::string image = WriteImage(copy.dir, StandardImage(3, {2}));
  RunOptions options;
  options.env = Merged({{"DISPLAY", ":4242"}}, emulator.Environment());
  auto run = [&](std::vector<std::string> args) {
    options.args = std::move(args);
    return RunProgram(copy.loader.string(), options);
  };

  RunResult unattended = run({"/NoPrompts", image});
  EXPECT_TRUE(StatusIs(unattended.out, OneModuleScan(), Downloading("COM1") + Success()));
  EXPECT_EQ(unattended.err, "");
  RunResult info = run({"/GetInfo", image});
  EXPECT_TRUE(info.out.starts_with("\x01INF:051-COMPANY=Veltrana, Inc. PRODUCT=Korvanetics C "))
      << testing::Visible(info.out);
  EXPECT_TRUE(info.out.ends_with("\r\n\x04")) << testing::Visible(info.out);
  EXPECT_EQ(info.err, "");

  // With prompts: one line on standard error says why, and the console forms answer. A
  // module installed on this machine is rightly found as the last candidate; what the
  // loader then says depends on that module's build.
  const bool installed = std::filesystem::exists(INSTALLED_WINDOW_MODULE);
  const std::string cancelled = StatusLine("EVT:", "042-User cancelled information dialog.", true);
  RunResult prompted = run({image});
  EXPECT_EQ(prompted.out, cancelled);
  EXPECT_TRUE(
      prompted.err.starts_with(installed ? "downloader: " : "downloader: no window module:"))
      << prompted.err;
  EXPECT_NE(
      prompted.err.find("; the console serves instead\nVeltrana, Inc. - Korvanetics Loader v1.7\n"),
      std::string::npos)
      << prompted.err;

  // A module of another build beside it is refused in one line.
  const std::filesystem::path stale = copy.bin / "libdownloader-qt.so";
  std::filesystem::copy_file(OTHER_BUILD_WINDOW_MODULE, stale);
  prompted = run({image});
  EXPECT_EQ(prompted.out, cancelled);
  const std::string refused =
      "downloader: " + stale.string() + " is the window module of another build (0.0+other-build";
  const std::string firstLine = prompted.err.substr(0, prompted.err.find('\n'));
  EXPECT_TRUE(firstLine.starts_with(refused)) << prompted.err;
  if (!installed) {
    EXPECT_TRUE(firstLine.ends_with("; the console serves instead")) << prompted.err;
  }

  // This build's module beside it loads, but no X server answers on that display.
  std::filesystem::remove(stale);
  std::filesystem::copy_file(WINDOW_MODULE, stale);
  prompted = run({image});
  EXPECT_EQ(prompted.out, cancelled);
  EXPECT_TRUE(prompted.err.starts_with(
      "downloader: cannot connect to the X display :4242; the console serves instead\n"))
      << prompted.err;
}

}  // namespace
}  // namespace downloader::e2e
