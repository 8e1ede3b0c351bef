// downloader.exe's own windows under Wine, on a virtual display (Xvfb) with a window manager
// (jwm), answered with real key presses and clicks (xdotool) as a person at a desk answers
// them; the status lines must be the Linux loader's bytes for the same answers, given on a
// terminal to its console forms. Also: the success box lies above the stay-on-top progress
// window, and an unattended run shows no window.
//
// A Linux program run by the Windows build's CTest (see wine_run.h). The windows need a
// Wine session started on this display, so the test ends any session of its prefix first
// and last.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "e2e/loader_run.h"
#include "support/child_process.h"
#include "support/emulator_fixture.h"
#include "support/status_text.h"
#include "windows/wine_run.h"

namespace downloader::e2e {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;
using testing::ModuleEmulator;
using testing::RunOptions;
using testing::RunResult;
using testing::TempDir;

constexpr char kXvfb[] = "/usr/bin/Xvfb";
constexpr char kJwm[] = "/usr/bin/jwm";
constexpr char kXdotool[] = "/usr/bin/xdotool";
constexpr char kWineServer[] = "/usr/lib/wine/wineserver";
constexpr auto kLimit = 60s;  // a first Wine start on a loaded machine takes its time

// Where the designed windows are answered, in client pixels at 96 dpi.
// Information window: the Download button at 191, 295, 75 x 25.
constexpr int kDownloadX = 191 + 37;
constexpr int kDownloadY = 295 + 12;
// Selection dialog: the grid at 21, 93 (the prompt ends at 51, the label takes 25 + 17),
// inside its 2-pixel frame the header row and then data rows 19 pixels apart; a point in
// the port name of data row r.
constexpr int kPortNameX = 21 + 2 + 10;
int PortNameY(int row) {
  return 93 + 2 + 19 * row + 9;
}

bool Installed(const char* program) {
  return ::access(program, X_OK) == 0;
}

// The X server's own stacking order and window tree, read with xcb.
class XConnection {
 public:
  explicit XConnection(const std::string& display)
      : connection_(xcb_connect(display.c_str(), nullptr)) {}
  ~XConnection() { xcb_disconnect(connection_); }
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;

  bool Ok() const { return xcb_connection_has_error(connection_) == 0; }
  uint32_t Root() const { return xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root; }

  /// The children of `window`, bottom to top, and its parent.
  std::vector<uint32_t> Children(uint32_t window, uint32_t* parent = nullptr) const {
    std::vector<uint32_t> children;
    xcb_query_tree_reply_t* tree =
        xcb_query_tree_reply(connection_, xcb_query_tree(connection_, window), nullptr);
    if (tree == nullptr) return children;
    const xcb_window_t* list = xcb_query_tree_children(tree);
    children.assign(list, list + xcb_query_tree_children_length(tree));
    if (parent != nullptr) *parent = tree->parent;
    std::free(tree);
    return children;
  }

  /// The window on the root that holds `window` (its window manager's frame).
  uint32_t TopLevel(uint32_t window) const {
    for (;;) {
      uint32_t parent = 0;
      Children(window, &parent);
      if (parent == Root() || parent == 0) return window;
      window = parent;
    }
  }

  /// Whether a window manager has announced itself on the root.
  bool WindowManagerRuns() const {
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 1, sizeof name - 1, name), nullptr);
    if (atom == nullptr) return false;
    xcb_get_property_reply_t* property = xcb_get_property_reply(
        connection_, xcb_get_property(connection_, 0, Root(), atom->atom, XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    const bool set = property != nullptr && xcb_get_property_value_length(property) > 0;
    std::free(property);
    std::free(atom);
    return set;
  }

 private:
  xcb_connection_t* connection_;
};

// A desk: an X server of its own with a window manager, the same for all tests.
class Desk {
 public:
  // Without -noreset the server starts afresh whenever its last client leaves, and turns
  // away whoever connects meanwhile.
  Desk()
      : server_(kXvfb, {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                        "-noreset"}) {
    const auto number = server_.ReadLine(kLimit);
    if (!number) throw std::runtime_error("Xvfb did not start");
    name_ = ":" + *number;
    ::chmod(runtime_.path().c_str(), 0700);
    // Frames as the windows were designed for, and Alt+F4 as the close box.
    const std::string rc = runtime_.Write("jwmrc", R"(<?xml version="1.0"?>
<JWM>
  <WindowStyle><Font>DejaVu Sans:bold:pixelsize=11</Font><Width>4</Width><Height>23</Height></WindowStyle>
  <FocusModel>click</FocusModel>
  <Key mask="A" key="F4">close</Key>
</JWM>
)");
    manager_ =
        std::make_unique<ChildProcess>(kJwm, std::vector<std::string>{"-f", rc}, Environment());
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (!XConnection(name_).WindowManagerRuns()) {
      if (std::chrono::steady_clock::now() > deadline)
        throw std::runtime_error("jwm did not start");
      std::this_thread::sleep_for(10ms);
    }
    EndWineSession();
  }
  ~Desk() {
    EndWineSession();
    manager_.reset();
    server_.Signal(SIGTERM);
    server_.Wait(20s);
  }
  Desk(const Desk&) = delete;
  Desk& operator=(const Desk&) = delete;

  const std::string& Display() const { return name_; }
  std::map<std::string, std::string> Environment() const {
    return {{"DISPLAY", name_}, {"XDG_RUNTIME_DIR", runtime_.path().string()}};
  }

  /// Waits for a shown window titled to match `title` (a regular expression); its id, or
  /// a test failure and "" when none came in time.
  std::string WaitForWindow(const std::string& title) const {
    RunOptions options;
    options.args = {"search", "--onlyvisible", "--name", title};
    options.env = Environment();
    options.timeout = kLimit;
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (std::chrono::steady_clock::now() < deadline) {
      // A search fails when a window it looks at goes meanwhile; it is asked again.
      const std::string found = testing::RunProgram(kXdotool, options).out;
      if (!found.empty()) return found.substr(0, found.find('\n'));
      std::this_thread::sleep_for(20ms);
    }
    ADD_FAILURE() << "no window shown titled " << title;
    return "";
  }
  /// Activates `window` and presses `keys` there (one after the other, "Tab Return"), as a
  /// person at the keyboard does.
  void Press(const std::string& window, const std::string& keys) const {
    Xdotool({"windowactivate", "--sync", window});
    std::vector<std::string> args = {"key", "--clearmodifiers"};
    std::istringstream names(keys);
    for (std::string key; names >> key;) args.push_back(key);
    Xdotool(args);
  }
  /// Activates `window` and types `text` there.
  void Type(const std::string& window, const std::string& text) const {
    Xdotool({"windowactivate", "--sync", window});
    Xdotool({"type", "--clearmodifiers", "--delay", "10", text});
  }
  /// Activates `window` and clicks at (x, y) of its client area.
  void Click(const std::string& window, int x, int y) const {
    Xdotool({"windowactivate", "--sync", window});
    Xdotool({"mousemove", "--window", window, "--sync", std::to_string(x), std::to_string(y),
             "click", "1"});
  }
  /// Whether any window of downloader.exe is shown.
  bool ShowsLoaderWindow() const {
    RunOptions options;
    options.args = {"search", "--onlyvisible", "--class", "downloader"};
    options.env = Environment();
    options.timeout = 20s;
    return !testing::RunProgram(kXdotool, options).out.empty();
  }
  /// Where the window manager's frame of `window` lies in the stacking order, 0 the bottom.
  int StackingPlace(const std::string& window) const {
    const XConnection x(name_);
    const std::vector<uint32_t> order = x.Children(x.Root());
    const uint32_t frame = x.TopLevel(static_cast<uint32_t>(std::stoul(window)));
    for (std::size_t i = 0; i < order.size(); ++i) {
      if (order[i] == frame) return static_cast<int>(i);
    }
    return -1;
  }

 private:
  std::string Xdotool(std::vector<std::string> args) const {
    RunOptions options;
    options.args = std::move(args);
    options.env = Environment();
    options.timeout = kLimit;
    const RunResult run = testing::RunProgram(kXdotool, options);
    EXPECT_EQ(run.exitCode, 0) << "xdotool " << options.args.front() << ": " << run.err;
    return run.out;
  }

  // Wine keeps the display its session started with: each run of the tests starts its own.
  static void EndWineSession() {
    RunOptions options;
    options.args = {"-k"};
    options.env = {{"WINEPREFIX", Setting("WINE_RUN_PREFIX")}};
    options.timeout = 20s;
    testing::RunProgram(kWineServer, options);
    options.args = {"-w"};
    testing::RunProgram(kWineServer, options);
  }

  ChildProcess server_;
  TempDir runtime_;
  std::string name_;
  std::unique_ptr<ChildProcess> manager_;
};

// downloader.exe on the desk, with the port map of `emulator`; its status lines are read
// as they come.
class WindowsLoader {
 public:
  WindowsLoader(const Desk& desk, const ModuleEmulator& emulator, std::vector<std::string> args,
                std::string_view program = "downloader.exe",
                const std::map<std::string, std::string>& moreEnv = {}) {
    auto env = desk.Environment();
    env["DOWNLOADER_PORTS"] = WindowsPath(emulator.PortMapDir());
    env.insert(moreEnv.begin(), moreEnv.end());
    process_ = std::make_unique<ChildProcess>(Setting("WINE_RUN"),
                                              WineArguments(program, std::move(args)), env);
  }

  /// Reads status lines until one holds `text`; false when none came in time.
  bool WaitForLine(std::string_view text) {
    const auto deadline = std::chrono::steady_clock::now() + kLimit;
    while (std::chrono::steady_clock::now() < deadline) {
      const auto line = process_->ReadLine(1s);
      if (!line) continue;
      out_ += *line + "\n";
      if (line->find(text) != std::string::npos) return true;
    }
    return false;
  }

  /// The whole run, once it has ended by itself.
  RunResult Finish() {
    RunResult result;
    result.out = out_ + process_->ReadToEnd(kLimit);
    result.exitCode = process_->Wait(kLimit);
    result.timedOut = result.exitCode == -SIGKILL;
    return result;
  }

 private:
  std::unique_ptr<ChildProcess> process_;
  std::string out_;
};

// The Linux loader with its standard input on a terminal into which `answers` were typed:
// its console forms ask there what the windows ask.
RunResult RunOnTerminal(const ModuleEmulator& emulator, const std::vector<std::string>& args,
                        const std::string& answers) {
  RunResult result;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return result;
  const std::string terminal = ::ptsname(master);
  TempDir dir;
  const std::string outName = dir.File("out");
  const std::string loader = testing::BinaryPath("downloader");
  std::vector<std::string> argStrings{loader};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    const int in = ::open(terminal.c_str(), O_RDWR);
    const int out = ::open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || err < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::setenv("DOWNLOADER_PORTS", emulator.PortMapDir().c_str(), 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    ::execv(loader.c_str(), argv.data());
    ::_exit(127);
  }
  // Typed ahead: the terminal keeps the lines until the questions read them.
  if (::write(master, answers.data(), answers.size()) != static_cast<ssize_t>(answers.size())) {
    ADD_FAILURE() << "cannot type the answers";
  }
  // The questions and the echo are read away until the loader ends.
  const auto deadline = std::chrono::steady_clock::now() + kLimit;
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      result.timedOut = true;
      break;
    }
    pollfd ready{master, POLLIN, 0};
    if (::poll(&ready, 1, 50) > 0) {
      char buffer[256];
      if (::read(master, buffer, sizeof buffer) < 0) std::this_thread::sleep_for(10ms);
    }
  }
  ::close(master);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = testing::ReadFileBytes(outName);
  return result;
}

const std::vector<std::string> kOneModule = {"type=3,version=1.1,com=1", "type=2,noecho,com=2"};
// Two modules of the image's type on COM1 and COM3, another type on COM2, nothing on COM4.
const std::vector<std::string> kTwoModules = {
    "type=3,version=1.1,com=1", "type=4,version=1.0,com=2", "type=3,version=1.0,com=3"};

class WindowsAtADesk : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (Installed(kXvfb) && Installed(kJwm) && Installed(kXdotool)) desk = new Desk;
  }
  static void TearDownTestSuite() {
    delete desk;
    desk = nullptr;
  }
  void SetUp() override {
    ASSERT_FALSE(Setting("WINE_RUN").empty() || Setting("DOWNLOADER_WINDOWS_BIN").empty())
        << "run by the Windows build's tests (ctest --preset windows)";
    ASSERT_NE(desk, nullptr) << "needs Xvfb, jwm and xdotool (scripts/setup gui)";
  }

  static Desk* desk;
  TempDir dir;
  const ImageDescription image = StandardImage(3, {3});
  const std::string file = WriteImage(dir, image);
};

Desk* WindowsAtADesk::desk = nullptr;

TEST_F(WindowsAtADesk, TheInformationWindowCancelsOnEnterAndDownloadsByClickOrTabAndEnter) {
  ModuleEmulator emulator(kOneModule);
  {
    WindowsLoader loader(*desk, emulator, {WindowsPath(file)});
    desk->Press(desk->WaitForWindow("Loader v1.7$"), "Return");
    ExpectSameRun(loader.Finish(), RunLoader(emulator, {file}), "042-User cancelled");
  }
  RunResult clicked;
  {
    WindowsLoader loader(*desk, emulator, {WindowsPath(file)});
    desk->Click(desk->WaitForWindow("Loader v1.7$"), kDownloadX, kDownloadY);
    // The success box, owned by the progress window, lies above it though that one stays
    // on top of everything else.
    ASSERT_TRUE(loader.WaitForLine("044-Download successful!"));
    const std::string box = desk->WaitForWindow("^Downloader$");
    const std::string progress = desk->WaitForWindow("^Download Progress$");
    EXPECT_GT(desk->StackingPlace(box), desk->StackingPlace(progress));
    desk->Press(box, "Return");
    clicked = loader.Finish();
  }
  ExpectHoldsImage(emulator.Snapshot().Com(1), image);
  const RunResult linux = RunOnTerminal(emulator, {file}, "y\n");
  ExpectSameRun(clicked, linux, "044-Download successful!");
  {
    WindowsLoader loader(*desk, emulator, {WindowsPath(file)});
    desk->Press(desk->WaitForWindow("Loader v1.7$"), "Tab Return");
    ASSERT_TRUE(loader.WaitForLine("044-Download successful!"));
    desk->Press(desk->WaitForWindow("^Downloader$"), "Return");
    ExpectSameRun(loader.Finish(), linux, "044-Download successful!");
  }
}

TEST_F(WindowsAtADesk, TheSelectionTakesAMarkedRowByClickOrKeysRefusesAGreyOneAndCanBeClosed) {
  ModuleEmulator emulator(kTwoModules);
  RunResult clicked;
  {
    WindowsLoader loader(*desk, emulator, {"/NoInfo", WindowsPath(file)});
    ASSERT_TRUE(loader.WaitForLine("102-Duplicate devices found."));
    const std::string selection = desk->WaitForWindow("^Download Progress$");
    // COM2's row is grey: its click selects nothing, so Download stays disabled.
    desk->Click(selection, kPortNameX, PortNameY(2));
    desk->Press(selection, "alt+d");
    desk->Click(selection, kPortNameX, PortNameY(3));
    desk->Press(selection, "alt+d");
    ASSERT_TRUE(loader.WaitForLine("044-Download successful!"));
    desk->Press(desk->WaitForWindow("^Downloader$"), "Return");
    clicked = loader.Finish();
  }
  const testing::EmulatorDump dump = emulator.Snapshot();
  ExpectHoldsImage(dump.Com(3), image);
  ExpectNothingStored(dump.Com(1));
  const RunResult chosen = RunOnTerminal(emulator, {"/NoInfo", file}, "COM3\n");
  ExpectSameRun(clicked, chosen, "103-User selected device on COM3.");
  {
    // Down selects COM1, the next Down passes grey COM2 for COM3, Enter presses Download.
    WindowsLoader loader(*desk, emulator, {"/NoInfo", WindowsPath(file)});
    ASSERT_TRUE(loader.WaitForLine("102-Duplicate devices found."));
    desk->Press(desk->WaitForWindow("^Download Progress$"), "Down Down Return");
    ASSERT_TRUE(loader.WaitForLine("044-Download successful!"));
    desk->Press(desk->WaitForWindow("^Downloader$"), "Return");
    ExpectSameRun(loader.Finish(), chosen, "103-User selected device on COM3.");
  }
  {
    WindowsLoader loader(*desk, emulator, {"/NoInfo", WindowsPath(file)});
    ASSERT_TRUE(loader.WaitForLine("102-Duplicate devices found."));
    desk->Press(desk->WaitForWindow("^Download Progress$"), "alt+F4");
    ExpectSameRun(loader.Finish(), RunOnTerminal(emulator, {"/NoInfo", file}, "\n"),
                  "033-User cancelled device selection.");
  }
}

// Wine shows the open-file dialog before it has made its controls: keys pressed at once
// would be lost.
std::string WaitForOpenFileDialog(const Desk& desk) {
  const std::string dialog = desk.WaitForWindow("^Open Object File$");
  std::this_thread::sleep_for(2s);
  return dialog;
}

TEST_F(WindowsAtADesk, TheOpenFileDialogIsCancelledOrGivesTheFileTypedIntoIt) {
  // No file named and none embedded: the loader asks for one.
  ModuleEmulator emulator(kOneModule);
  {
    WindowsLoader loader(*desk, emulator, {});
    desk->Press(WaitForOpenFileDialog(*desk), "Escape");
    ExpectSameRun(loader.Finish(), RunLoader(emulator, {}), "041-User cancelled open-file");
  }
  {
    // The file name box has the focus; the chosen image goes to the information window.
    WindowsLoader loader(*desk, emulator, {});
    const std::string dialog = WaitForOpenFileDialog(*desk);
    desk->Type(dialog, WindowsPath(file));
    desk->Press(dialog, "Return");
    desk->Press(desk->WaitForWindow("Loader v1.7$"), "Escape");
    ExpectSameRun(loader.Finish(), RunOnTerminal(emulator, {}, file + "\n\n"),
                  "042-User cancelled information dialog.");
  }
}

TEST_F(WindowsAtADesk, TheOpenFileDialogLeavesTheLoadersFolderCurrent) {
  // In pipe mode a master's relative names are the loader's folder's, also after the
  // dialog has shown another folder that holds a file of the same name.
  ModuleEmulator emulator(kOneModule);
  namespace fs = std::filesystem;
  fs::copy_file(WindowsProgram("downloader.exe"), dir.File("downloader.exe"));
  fs::copy_file(WindowsProgram("pipe_master.exe"), dir.File("pipe_master.exe"));
  fs::create_directory(dir.File("elsewhere"));
  ImageDescription other = image;
  other.firmware = "the loader's folder's";
  const std::string here = WriteImage(dir, other, "other.obj");
  other.firmware = "elsewhere";
  WriteImage(dir, other, "elsewhere/other.obj");
  const std::string chosen = WriteImage(dir, image, "elsewhere/chosen.obj");
  const std::string result = dir.File("master-result");

  WindowsLoader loader(*desk, emulator, {"/Pipe", "pipe_master"}, dir.File("downloader.exe"),
                       {{"DOWNLOADER_TEST_COMMANDS", "/GetInfo|/GetInfo other.obj"},
                        {"DOWNLOADER_TEST_RESULT", WindowsPath(result)}});
  const std::string dialog = WaitForOpenFileDialog(*desk);
  // Into the other folder first, as a person goes there, then the file (once the dialog
  // lists that folder: keys typed before would be lost).
  desk->Type(dialog, "elsewhere");
  desk->Press(dialog, "Return");
  std::this_thread::sleep_for(1s);
  desk->Type(dialog, "chosen.obj");
  desk->Press(dialog, "Return");
  const RunResult run = loader.Finish();
  EXPECT_EQ(run.exitCode, 0) << run.err;
  // The master writes what it received once its input has ended with the loader.
  const auto deadline = std::chrono::steady_clock::now() + kLimit;
  while (!fs::exists(result) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(testing::ReadFileBytes(result), RunLoader(emulator, {"/GetInfo", chosen}).out +
                                                RunLoader(emulator, {"/GetInfo", here}).out +
                                                "end of input\n");
}

TEST_F(WindowsAtADesk, AnErrorHasItsDialog) {
  ModuleEmulator emulator(kOneModule);
  std::string bytes = testing::ReadFileBytes(file);
  bytes[5000] ^= 0x55;
  const std::string corrupt = dir.Write("corrupt.obj", bytes);
  WindowsLoader loader(*desk, emulator, {WindowsPath(corrupt)});
  ASSERT_TRUE(loader.WaitForLine("012-Checksum Error."));
  desk->Press(desk->WaitForWindow("^Error$"), "Return");
  // The message names the file as each loader was given it.
  RunResult linux = RunLoader(emulator, {corrupt});
  linux.out.replace(linux.out.find(corrupt), corrupt.size(), WindowsPath(corrupt));
  ExpectSameRun(loader.Finish(), linux, "012-Checksum Error.");
}

TEST_F(WindowsAtADesk, TheErrorDialogShowsTheReasonsUnderItsText) {
  // A person who started the loader from the desktop sees no standard error: the dialog
  // says what it would have said there. The status lines stay as they are.
  ModuleEmulator emulator({"type=2,com=1"});
  std::ofstream(emulator.PortMapDir() + "/COM2") << "rfc2217://127.0.0.1:9\n";
  std::ofstream(emulator.PortMapDir() + "/COM11") << "rfc2217://127.0.0.1:9\n";
  WindowsLoader loader(*desk, emulator, {"/NoInfo", WindowsPath(file)});
  ASSERT_TRUE(loader.WaitForLine("023-No Korvanetics C found."));
  RunOptions options;
  options.args = WineArguments("window_text.exe", {"Error"});
  options.env = desk->Environment();
  options.timeout = kLimit;
  const RunResult dialog = testing::RunProgram(Setting("WINE_RUN"), options);
  desk->Press(desk->WaitForWindow("^Error$"), "Return");
  // The scan's word comes before the scan, the port's as its probe ends.
  EXPECT_NE(dialog.out.find("#023\r\nNo Korvanetics C found.\r\n\r\n"
                            "the scan covers COM1 to COM4; the port map also names COM11: name "
                            "the port with /COM11 to scan it\r\n"
                            "cannot reach COM2: its port map entry "),
            std::string::npos)
      << dialog.out;
  EXPECT_NE(dialog.out.find(WindowsPath(emulator.PortMapDir()) +
                            "\\COM2 names rfc2217://127.0.0.1:9, which refuses the connection"),
            std::string::npos)
      << dialog.out;
  ExpectSameRun(loader.Finish(), RunLoader(emulator, {"/NoInfo", file}), "023-No Korvanetics C");
}

TEST_F(WindowsAtADesk, WithoutAnOutputHandleEvenAnUnattendedRunShowsItsErrorDialog) {
  // Started as by a double-click: no standard handles. /NoPrompts needs an output, so it is
  // refused (005), and with the line lost the refusal shows its dialog all the same.
  ModuleEmulator emulator(kOneModule);
  WindowsLoader start(
      *desk, emulator,
      {WindowsPath(WindowsProgram("downloader.exe")), "/NoPrompts", WindowsPath(file)},
      "desktop_start.exe");
  desk->Press(desk->WaitForWindow("^Error$"), "Return");
  const RunResult run = start.Finish();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "");
  ExpectNothingStored(emulator.Snapshot().Com(1));
}

TEST_F(WindowsAtADesk, AnUnattendedRunShowsNoWindow) {
  ModuleEmulator emulator(kOneModule);
  WindowsLoader loader(*desk, emulator, {"/NoPrompts", "/Updates", WindowsPath(file)});
  // Watched until its last line: no window of it is ever shown.
  std::atomic<bool> ended{false};
  std::atomic<int> looks{0};
  std::atomic<int> shown{0};
  std::thread watcher([&] {
    while (!ended) {
      if (desk->ShowsLoaderWindow()) ++shown;
      ++looks;
    }
  });
  const bool finished = loader.WaitForLine("044-Download successful!");
  ended = true;
  watcher.join();
  ASSERT_TRUE(finished);
  EXPECT_GT(looks, 0);
  EXPECT_EQ(shown, 0);
  ExpectSameRun(loader.Finish(), RunLoader(emulator, {"/NoPrompts", "/Updates", file}),
                "044-Download successful!");
}

}  // namespace
}  // namespace downloader::e2e
