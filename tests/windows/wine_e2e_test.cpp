// downloader.exe under Wine against the Linux module-emulator, run beside the Linux
// loader on the same scenarios: the status lines of both must be the same bytes (the
// scan's lines in either order, as the probes end). Also /GetInfo on a self-contained
// downloader.exe, the console forms, and pipe mode with a Windows master program.
//
// A Linux program run by the Windows build's CTest, which names the Windows programs'
// folder (DOWNLOADER_WINDOWS_BIN) and how to run them (WINE_RUN, WINE_RUN_PREFIX).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "e2e/loader_run.h"
#include "support/child_process.h"
#include "support/emulator_fixture.h"
#include "support/json_schema.h"
#include "support/terminal_process.h"
#include "windows/wine_run.h"

namespace downloader::e2e {
namespace {

using namespace std::chrono_literals;
using testing::ModuleEmulator;
using testing::RunOptions;
using testing::RunResult;
using testing::TempDir;
using testing::Visible;

// The Linux loader with an empty port map.
RunResult RunLinux(std::vector<std::string> args) {
  RunOptions options;
  options.args = std::move(args);
  options.env = {{"DOWNLOADER_PORTS", "/nonexistent/downloader-ports"}};
  options.timeout = 20s;
  return RunProgram(testing::BinaryPath("downloader"), options);
}

class UnderWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(Setting("WINE_RUN").empty() || Setting("DOWNLOADER_WINDOWS_BIN").empty())
        << "run by the Windows build's tests (ctest --preset windows)";
  }

  /// Runs a Windows program under Wine with the port map of `emulator` (or an empty one).
  static RunResult RunWindows(std::vector<std::string> args, const ModuleEmulator* emulator,
                              std::string_view program = "downloader.exe",
                              std::map<std::string, std::string> env = {}) {
    RunOptions options;
    options.args = WineArguments(program, std::move(args));
    if (emulator != nullptr) env["DOWNLOADER_PORTS"] = WindowsPath(emulator->PortMapDir());
    options.env = std::move(env);
    // The first program of a test run may have to make the Wine prefix first.
    options.timeout = 120s;
    return RunProgram(Setting("WINE_RUN"), options);
  }
};

// One download scenario: the same image into the same emulated modules, first by
// downloader.exe, then by the Linux loader.
struct Scenario {
  const char* name;
  std::vector<std::string> modules;
  int imageType;
  const char* last;  // in the final line
};

TEST_F(UnderWine, DownloadsAndTheirFailuresGiveTheLinuxLoadersBytes) {
  const Scenario scenarios[] = {
      {"success",
       {"type=3,version=1.1,com=1", "type=2,noecho,com=2", "type=4,loopback,com=4"},
       3,
       "044-Download successful!"},
      {"no module of the type",
       {"type=3,version=1.0,com=1", "type=2,noecho,com=2"},
       4,
       "023-No Korvanetics D found."},
      {"two modules of the type",
       {"type=3,version=1.0,com=1", "type=3,version=1.1,com=3"},
       3,
       "026-Duplicate devices found."},
      {"verify failure",
       {"type=3,version=1.0,status=2@1:5,com=1"},
       3,
       "024-EEPROM verify failure."},
      {"silence instead of a status",
       {"type=3,version=1.0,silent@0:2,com=1"},
       3,
       "025-Hardware communication failure."},
  };
  TempDir dir;
  for (const Scenario& s : scenarios) {
    SCOPED_TRACE(s.name);
    const ImageDescription image = StandardImage(s.imageType, {3, 8});
    const std::string file = WriteImage(dir, image);
    ModuleEmulator emulator(s.modules);
    const RunResult windows = RunWindows({"/NoPrompts", "/Updates", WindowsPath(file)}, &emulator);
    if (std::string_view(s.name) == "success") ExpectHoldsImage(emulator.Snapshot().Com(1), image);
    const RunResult linux = RunLoader(emulator, {"/NoPrompts", "/Updates", file});
    ExpectSameRun(windows, linux, s.last);
  }
}

TEST_F(UnderWine, ATraceFolderGetsOneFilePerPortNamedForNoDevice) {
  // "COM1.trace" would be the port COM1 itself on Windows.
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  TempDir traces;
  const RunResult run =
      RunWindows({"/NoPrompts", WindowsPath(WriteImage(dir, StandardImage(3, {1})))}, &emulator,
                 "downloader.exe", {{"DOWNLOADER_TRACE", WindowsPath(traces.path().string())}});
  EXPECT_NE(run.out.find("044-Download successful!"), std::string::npos) << Visible(run.out);
  EXPECT_NE(testing::ReadFileBytes(traces.File("port-COM1.trace")).find(" COM1 open -> ok"),
            std::string::npos)
      << run.err;
}

TEST_F(UnderWine, APortHeldByAnotherProgramIsInUseALocalPortThatIsNotThereIsInvalid) {
  ModuleEmulator emulator({"type=3,version=1.0,com=1", "type=3,version=1.1,com=2"});
  // A local port that does not exist: through the Win32 serial backend on Windows.
  std::ofstream(emulator.PortMapDir() + "/COM3") << "COM300\n";
  TempDir dir;
  const std::string file = WriteImage(dir, StandardImage(3, {2}));
  // Each loader meets a holder of its own platform: on Windows the lock is a named object.
  RunResult windows;
  {
    testing::ChildProcess holder(Setting("WINE_RUN"),
                                 WineArguments("serial_port_holder.exe", {"port", "COM2"}),
                                 {{"DOWNLOADER_PORTS", WindowsPath(emulator.PortMapDir())}});
    // Its C runtime ends the line with CR LF.
    ASSERT_EQ(holder.ReadLine(120s), "held\r");
    windows = RunWindows({"/NoPrompts", "/Updates", WindowsPath(file)}, &emulator);
    holder.CloseStdin();
    EXPECT_EQ(holder.Wait(20s), 0);
  }
  RunResult linux;
  {
    testing::ChildProcess holder(testing::BinaryPath("serial_port_holder"), {"port", "COM2"},
                                 emulator.Environment());
    ASSERT_EQ(holder.ReadLine(5s), "held");
    linux = RunLoader(emulator, {"/NoPrompts", "/Updates", file});
    holder.CloseStdin();
    EXPECT_EQ(holder.Wait(5s), 0);
  }
  ExpectSameRun(windows, linux, "044-Download successful!");
  EXPECT_NE(linux.out.find("COM2 DEVICE=can't open port; in use"), std::string::npos);
  EXPECT_NE(linux.out.find(InvalidPort("COM3")), std::string::npos);
  EXPECT_NE(windows.err.find("is in use by another program"), std::string::npos) << windows.err;
}

TEST_F(UnderWine, GetInfoOnAFileAndOnASelfContainedLoader) {
  TempDir dir;
  ImageDescription image = StandardImage(5, {1});
  image.product = "Dosing Pump DP-5";
  const std::string file = WriteImage(dir, image);
  const RunResult linux = RunLinux({"/GetInfo", file});
  ASSERT_NE(linux.out.find("051-COMPANY=Veltrana, Inc. PRODUCT=Dosing Pump DP-5"),
            std::string::npos)
      << Visible(linux.out);
  ExpectSameRun(RunWindows({"/GetInfo", WindowsPath(file)}, nullptr), linux, "051-");

  // objtool stamps the image onto a copy of downloader.exe; the copy needs no file.
  const std::string stamped = dir.File("pump-loader.exe");
  RunOptions options;
  options.args = {"embed", WindowsProgram("downloader.exe"), file, "-o", stamped};
  const RunResult embed = testing::RunProgram(testing::BinaryPath("objtool"), options);
  ASSERT_EQ(embed.exitCode, 0) << embed.err;
  options.args = {Setting("WINE_RUN_PREFIX"), stamped, "/GetInfo"};
  options.env = {{"DOWNLOADER_PORTS", WindowsPath(dir.path())}};
  options.timeout = 120s;
  ExpectSameRun(testing::RunProgram(Setting("WINE_RUN"), options), linux, "051-");
}

// Wine without a display opens no window: one line says so, and the console forms answer
// as on Linux without a display.
constexpr std::string_view kNoWindow = "downloader: cannot open a window: ";
constexpr std::string_view kConsoleServes = "; the console serves instead\n";

// What a Windows run wrote on standard error after the line that says why no window opened.
std::string AfterNoWindowLine(const std::string& err) {
  EXPECT_TRUE(err.starts_with(kNoWindow)) << err;
  const std::size_t end = err.find(kConsoleServes);
  return end == std::string::npos ? err : err.substr(end + kConsoleServes.size());
}

TEST_F(UnderWine, WithoutADisplayTheInformationWindowIsCancelledOnStandardError) {
  TempDir dir;
  const std::string file = WriteImage(dir, StandardImage(2, {1}));
  const RunResult windows = RunWindows({WindowsPath(file)}, nullptr);
  const RunResult linux = RunLinux({file});
  ExpectSameRun(windows, linux, "042-User cancelled information dialog.");
  EXPECT_EQ(AfterNoWindowLine(windows.err), linux.err);
  EXPECT_NE(windows.err.find("Product:      Korvanetics B"), std::string::npos) << windows.err;
}

TEST_F(UnderWine, PipeModeServesAWindowsMasterProgram) {
  TempDir dir;
  const std::string file = WriteImage(dir, StandardImage(6, {1}));
  const RunResult info = RunLinux({"/GetInfo", file});
  const std::string result = dir.File("master-result");
  // The master is found in the loader's folder, ".exe" added.
  const RunResult run = RunWindows({"/Pipe", "pipe_master"}, nullptr, "downloader.exe",
                                   {{"DOWNLOADER_TEST_IMAGE", WindowsPath(file)},
                                    {"DOWNLOADER_TEST_RESULT", WindowsPath(result)}});
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "") << "status lines go to the master only";
  EXPECT_EQ(AfterNoWindowLine(run.err), "#011\nFile not found: 'missing.obj'.\n")
      << "the error dialog's text";
  // The master sees the end of its input only after the loader has ended.
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (!std::filesystem::exists(result) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
  }
  EXPECT_EQ(testing::ReadFileBytes(result),
            testing::StatusLine("ERR:", "011-File not found: 'missing.obj'.", true) + info.out +
                "end of input\n");

  // A master that cannot be started: the line reaches the loader's own standard output,
  // and standard error says why, in the system's words.
  const std::string notAProgram = dir.Write("notes.exe", "not a program");
  const RunResult refused = RunWindows({"/Pipe", WindowsPath(notAProgram)}, nullptr);
  ExpectSameRun(refused, RunLinux({"/Pipe", notAProgram}), "007-Cannot create child process.");
  const std::string why =
      "downloader: cannot start the master program " + WindowsPath(notAProgram) + ": ";
  const std::size_t at = refused.err.find(why);
  ASSERT_NE(at, std::string::npos) << refused.err;
  EXPECT_GT(refused.err.find('\n', at), at + why.size() + 5) << "the system's text follows";
}

TEST_F(UnderWine, TheExampleMasterRunsOnWindowsAsMasterPyOnLinux) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const std::string file = WriteImage(dir, StandardImage(3, {2}));
  const std::string master = Setting("DOWNLOADER_WINDOWS_BIN") + "/../examples/master.exe";
  RunResult windows = RunWindows({"/Pipe", WindowsPath(master)}, &emulator, "downloader.exe",
                                 {{"IMAGE", WindowsPath(file)}});
  EXPECT_EQ(windows.exitCode, 0) << windows.err;
  RunOptions options;
  options.args = {"/Pipe", std::string(DOWNLOADER_SOURCE_DIR) + "/examples/master/master.py"};
  options.env = emulator.Environment();
  options.env["IMAGE"] = file;
  const RunResult linux = testing::RunProgram(testing::BinaryPath("downloader"), options);
  ASSERT_NE(linux.err.find("  EVT: 044-Download successful!\n"), std::string::npos) << linux.err;
  // The same requests and lines, the image named as each system names it; the C runtime
  // ends the Windows master's lines with CR LF.
  std::string seen = windows.err.substr(std::min(windows.err.find("master> "), windows.err.size()));
  std::erase(seen, '\r');
  for (std::size_t at = seen.find(WindowsPath(file)); at != std::string::npos;
       at = seen.find(WindowsPath(file))) {
    seen.replace(at, WindowsPath(file).size(), file);
  }
  EXPECT_EQ(WithRunsSorted(seen, "  INF: 111-"), WithRunsSorted(linux.err, "  INF: 111-"));
}

// cmd as a person types into it (not a batch file, for which cmd waits even for a desktop
// program): its input from a file, in the folder of the Windows programs.
RunResult TypeIntoCmd(const std::string& lines, const ModuleEmulator& emulator,
                      const TempDir& dir) {
  const std::string input = dir.Write("typed.txt", lines + "exit\r\n");
  RunOptions options;
  options.args = {"-c", "exec \"$0\" \"$@\" < \"$TYPED\"", Setting("WINE_RUN"),
                  Setting("WINE_RUN_PREFIX"), "cmd"};
  options.env = {{"TYPED", input}, {"DOWNLOADER_PORTS", WindowsPath(emulator.PortMapDir())}};
  options.workingDirectory = Setting("DOWNLOADER_WINDOWS_BIN");
  options.timeout = 120s;
  return testing::RunProgram("/bin/sh", options);
}

TEST_F(UnderWine, ACommandPromptWaitsForDownloaderAndGetsItsExitStatus) {
  // "downloader" is downloader.com: the file the status lines went to is complete at the
  // next command, and DOWNLOADER_EXIT_STATUS reaches %ERRORLEVEL%.
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const std::string image = WindowsPath(WriteImage(dir, StandardImage(3, {2})));
  const std::string out = WindowsPath(dir.File("out.txt"));
  const RunResult run = TypeIntoCmd(
      "downloader /NoPrompts /Updates " + image + " > " + out + "\r\n" + "type " + out + "\r\n" +
          "set DOWNLOADER_EXIT_STATUS=1\r\n" +
          "downloader /NoPrompts /GetInfo missing.obj > nul\r\n" + "echo status %ERRORLEVEL%\r\n",
      emulator, dir);
  EXPECT_FALSE(run.timedOut);
  // cmd does not echo what it reads from a file: the lines are those that "type" printed.
  const std::size_t status = run.out.find("status 1\r\n");
  EXPECT_NE(status, std::string::npos) << run.out;
  EXPECT_LT(run.out.find("EVT:044-Download successful!\r\n"), status) << run.out;
}

// A Windows program under Wine with its output on a terminal, which Wine makes its
// console: what the terminal received, once the program has ended. Standard input is
// `input`, or the terminal.
struct ConsoleRun {
  std::string screen;
  int exitCode = -1;
};
ConsoleRun RunOnConsole(const std::vector<std::string>& args,
                        const std::map<std::string, std::string>& env,
                        const std::string& input = "") {
  ConsoleRun result;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return result;
  const std::string terminal = ::ptsname(master);
  std::vector<std::string> argStrings{Setting("WINE_RUN"), Setting("WINE_RUN_PREFIX")};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& arg : argStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    const int tty = ::open(terminal.c_str(), O_RDWR);
    const int in = input.empty() ? tty : ::open(input.c_str(), O_RDONLY);
    if (tty < 0 || in < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(tty, 1);
    ::dup2(tty, 2);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  const auto deadline = std::chrono::steady_clock::now() + 120s;
  int status = 0;
  for (bool ended = false; !ended;) {
    ended = ::waitpid(pid, &status, WNOHANG) == pid;
    if (!ended && std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      ended = true;
    }
    pollfd ready{master, POLLIN, 0};
    while (::poll(&ready, 1, ended ? 0 : 50) > 0) {
      char buffer[4096];
      const ssize_t n = ::read(master, buffer, sizeof buffer);
      if (n <= 0) break;
      result.screen.append(buffer, static_cast<std::size_t>(n));
    }
  }
  ::close(master);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

TEST_F(UnderWine, OnAConsoleDownloaderComCopiesTheLoadersOutputToIt) {
  // A desktop program cannot write to a console it is not attached to: downloader.com
  // copies what it writes there, before the prompt comes back.
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const std::string input =
      dir.Write("typed.txt", "downloader --version\r\necho after\r\nexit\r\n");
  const ConsoleRun run = RunOnConsole(
      {"cmd", "/k", "cd /d " + WindowsPath(Setting("DOWNLOADER_WINDOWS_BIN"))}, {}, input);
  const std::size_t version = run.screen.find("downloader " DOWNLOADER_VERSION);
  ASSERT_NE(version, std::string::npos) << Visible(run.screen);
  EXPECT_LT(version, run.screen.find("after")) << Visible(run.screen);
}

TEST_F(UnderWine, DownloaderStationExePlainGivesLinesOnAConsoleThatShowsSequencesAsText) {
  // Wine's console takes the virtual-terminal mode and passes the table's sequences on.
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const std::string image = WindowsPath(WriteImage(dir, StandardImage(3, {1})));
  const std::map<std::string, std::string> env = {
      {"DOWNLOADER_PORTS", WindowsPath(emulator.PortMapDir())}};
  const std::string station = WindowsProgram("downloader-station.exe");
  auto dumb = env;
  dumb["TERM"] = "dumb";
  for (const ConsoleRun& run :
       {RunOnConsole({station, "--plain", image}, env), RunOnConsole({station, image}, dumb)}) {
    EXPECT_EQ(run.exitCode, 0) << Visible(run.screen);
    EXPECT_NE(run.screen.find("COM1: succeeded: 044-Download successful!"), std::string::npos)
        << Visible(run.screen);
    EXPECT_EQ(run.screen.find("\x1b[2K"), std::string::npos) << "no table: " << Visible(run.screen);
  }
}

TEST_F(UnderWine, ACommandLineProgramStartedByADoubleClickSaysSoAndWaitsForEnter) {
  for (const char* program : {"downloader-station.exe", "module-emulator.exe", "objtool.exe"}) {
    SCOPED_TRACE(program);
    // Started as Explorer starts it: a console of its own.
    testing::ChildProcess started(Setting("WINE_RUN"),
                                  WineArguments("desktop_start.exe", {"--console", program}));
    std::string said;
    for (auto line = started.ReadLine(120s); line; line = started.ReadLine(20s)) {
      said += *line + "\n";
      if (line->starts_with("Press Enter")) break;
    }
    const std::string name = std::string(program).substr(0, std::string(program).size() - 4);
    EXPECT_NE(said.find(name + " is a command-line program"), std::string::npos) << said;
    EXPECT_NE(said.find("  " + name + " --help"), std::string::npos) << said;
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(started.Running()) << "it waits for Enter";
    started.Write("\r\n");
    EXPECT_EQ(started.Wait(20s), 2);
  }
  // Started from a prompt (here: no console at all), objtool says what it says without
  // arguments.
  const RunResult plain = RunWindows({}, nullptr, "objtool.exe");
  EXPECT_EQ(plain.exitCode, 2);
  EXPECT_EQ(plain.out.find("command-line program"), std::string::npos);
}

TEST_F(UnderWine, ModuleEmulatorExeListsOnlyWhatWindowsHas) {
  const RunResult help = RunWindows({"--help"}, nullptr, "module-emulator.exe");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("[--until-stdin-closes]"), std::string::npos) << help.out;
  EXPECT_EQ(help.out.find("--detach"), std::string::npos) << help.out;
}

// Each port's final status number in a station report, by port name.
std::map<std::string, int> FinalNumbers(const std::string& report) {
  std::map<std::string, int> numbers;
  const auto json = nlohmann::json::parse(report);
  for (const auto& port : json["rounds"][0]["ports"]) {
    numbers[port["port"]] = port["status"].is_null() ? -1 : port["status"]["number"].get<int>();
  }
  return numbers;
}

TEST_F(UnderWine, DownloaderStationExeFlashesEveryModuleAndFailsOneOfAnotherType) {
  TempDir dir;
  const ImageDescription image = StandardImage(3, {2, 3});
  const std::string file = WriteImage(dir, image);
  const std::string report = dir.File("report.json");
  {
    ModuleEmulator emulator(
        {"type=3,version=1.1,com=1", "type=3,version=1.0,com=2", "type=3,version=1.1,com=3"});
    const RunResult run = RunWindows({WindowsPath(file), "--report", WindowsPath(report)},
                                     &emulator, "downloader-station.exe");
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    EXPECT_EQ(FinalNumbers(testing::ReadFileBytes(report)),
              (std::map<std::string, int>{{"COM1", 44}, {"COM2", 44}, {"COM3", 44}}));
    const auto dump = emulator.Stop();
    for (int com = 1; com <= 3; ++com) ExpectHoldsImage(dump.Com(com), image);
  }
  ModuleEmulator emulator({"type=3,version=1.1,com=1", "type=2,version=1.0,com=2"});
  const RunResult run = RunWindows({WindowsPath(file), "--report", WindowsPath(report)}, &emulator,
                                   "downloader-station.exe");
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  EXPECT_EQ(FinalNumbers(testing::ReadFileBytes(report)),
            (std::map<std::string, int>{{"COM1", 44}, {"COM2", 23}}));
  EXPECT_NE(run.out.find("COM2: failed: 023-No Korvanetics C found.\n"), std::string::npos)
      << run.out;
}

// A loader named without a folder is looked up on the PATH alone, never in the folder the
// station was started in, where anybody may have left a downloader.exe.
TEST_F(UnderWine, DownloaderStationExeStartsNoLoaderFromTheCurrentFolder) {
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  std::filesystem::copy_file(WindowsProgram("downloader.exe"), dir.File("downloader.exe"));
  RunOptions options;
  options.args = WineArguments(
      "downloader-station.exe",
      {WindowsPath(WriteImage(dir, StandardImage(3, {1}))), "--loader", "downloader.exe"});
  options.env = {{"DOWNLOADER_PORTS", WindowsPath(emulator.PortMapDir())}};
  options.workingDirectory = dir.path().string();
  options.timeout = 120s;
  const RunResult run = RunProgram(Setting("WINE_RUN"), options);
  EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
  EXPECT_NE(run.err.find("downloader-station: cannot start the loader downloader.exe: "),
            std::string::npos)
      << run.err;
  EXPECT_EQ(emulator.Stop().Com(1).connections, 0);
}

TEST_F(UnderWine, CtrlCStopsEveryLoaderOfDownloaderStationExeAndTheReportIsWritten) {
  // Paced at 1,200 baud, each download takes seconds; Wine turns SIGINT into Ctrl-C.
  ModuleEmulator emulator({"type=3,version=1.1,com=1", "type=3,version=1.1,com=2"},
                          {"--pace", "1200"});
  TempDir dir;
  const std::string report = dir.File("report.json");
  testing::ChildProcess station(
      Setting("WINE_RUN"),
      WineArguments("downloader-station.exe", {WindowsPath(WriteImage(dir, StandardImage(3, {20}))),
                                               "--report", WindowsPath(report)}),
      {{"DOWNLOADER_PORTS", WindowsPath(emulator.PortMapDir())}});
  int downloading = 0;
  while (downloading < 2) {
    const auto line = station.ReadLine(120s);
    if (!line) break;
    if (line->ends_with(": downloading")) ++downloading;
  }
  ASSERT_EQ(downloading, 2);
  station.Signal(SIGINT);
  EXPECT_EQ(station.Wait(20s), 130);
  const auto json = nlohmann::json::parse(testing::ReadFileBytes(report));
  EXPECT_TRUE(json["rounds"][0]["interrupted"]);
  for (const auto& port : json["rounds"][0]["ports"]) {
    EXPECT_EQ(port["failure"]["text"], "stopped (Ctrl-C)") << port.dump();
  }
}

TEST_F(UnderWine, TheOperatorsKeysAtTheQuestionBetweenRoundsOfDownloaderStationExe) {
  // On a terminal, as an operator runs it from a command prompt: the station reads the keys
  // typed there from Wine's console. q and Enter ends; Ctrl-C stops, whether or not the
  // console ends the read that waits for the line (Windows does, Wine does not).
  ModuleEmulator emulator({"type=3,version=1.1,com=1"});
  TempDir dir;
  const std::string image = WindowsPath(WriteImage(dir, StandardImage(3, {1})));
  std::map<std::string, std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    env[text.substr(0, text.find('='))] = text.substr(text.find('=') + 1);
  }
  env["DOWNLOADER_PORTS"] = WindowsPath(emulator.PortMapDir());
  const std::pair<const char*, int> cases[] = {{"q\r", 0}, {"\x03", 130}};
  for (const auto& [keys, status] : cases) {
    testing::TerminalProcess station(Setting("WINE_RUN"),
                                     WineArguments("downloader-station.exe", {image, "--repeat"}),
                                     env, 100);
    ASSERT_TRUE(station.Shows("Press Enter to flash again", 120s)) << station.Output();
    // Wine's console loses keys typed at once after the prompt, at times (measured: never
    // half a second later); typed again, they change nothing more.
    for (int attempt = 0; attempt < 10 && !station.Ends(2s); ++attempt) station.Type(keys);
    EXPECT_EQ(station.Wait(30s), status) << station.Output();
  }
  EXPECT_EQ(emulator.Stop().Com(1).connections, 4) << "one round each: a scan and a download";
}

TEST_F(UnderWine, DownloaderStationExeRunsAProductionLine) {
  // Its checks are downloader.exe --watch, each a Windows process under Wine.
  ModuleEmulator emulator({"type=3,version=1.1,com=1", "type=3,version=1.1,com=2"});
  ASSERT_EQ(emulator.Command("unplug 2"), "COM2 unplugged");
  TempDir dir;
  const std::string log = dir.File("units.jsonl");
  testing::ChildProcess station(
      Setting("WINE_RUN"),
      WineArguments("downloader-station.exe", {WindowsPath(WriteImage(dir, StandardImage(3, {3}))),
                                               "--continuous", "--log", WindowsPath(log)}),
      {{"DOWNLOADER_PORTS", WindowsPath(emulator.PortMapDir())}});
  const auto waitFor = [&station](const std::string& wanted) {
    while (const auto line = station.ReadLine(120s)) {
      if (*line == wanted) return true;
    }
    return false;
  };
  ASSERT_TRUE(waitFor("COM1: PASS, remove the module: 044-Download successful!"));
  ASSERT_EQ(emulator.Command("plug 2"), "COM2 plugged type=3 version=1.1");
  ASSERT_TRUE(waitFor("COM2: PASS, remove the module: 044-Download successful!"));
  ASSERT_EQ(emulator.Command("unplug 1"), "COM1 unplugged");
  ASSERT_TRUE(waitFor("COM1: waiting for a module"));
  station.Write("q\n");
  EXPECT_EQ(station.Wait(60s), 0);
  const std::string records = testing::ReadFileBytes(log);
  EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 2) << records;
  EXPECT_EQ(testing::SchemaErrors("unit-log.schema.json", records, true), "");
  EXPECT_NE(records.find("\"host\":\""), std::string::npos) << "the station's host name";
  const auto dump = emulator.Stop();
  EXPECT_EQ(dump.Com(1).units[0].downloads.size(), 1u);
  EXPECT_EQ(dump.Com(2).units[1].downloads.size(), 1u);
}

TEST_F(UnderWine, DownloaderExeIntoModuleEmulatorExe) {
  TempDir dir;
  const ImageDescription image = StandardImage(4, {3, 5});
  const std::string file = WriteImage(dir, image);
  const std::string map = dir.File("map");
  const std::string dump = dir.File("dump.json");
  const std::vector<std::string> modules = {"type=4,version=1.1,com=2", "type=2,com=3"};
  std::vector<std::string> args;
  for (const std::string& spec : modules) args.insert(args.end(), {"--module", spec});
  args.insert(args.end(), {"--port-map", WindowsPath(map), "--dump", WindowsPath(dump),
                           "--until-stdin-closes"});
  testing::ChildProcess emulator(Setting("WINE_RUN"), WineArguments("module-emulator.exe", args));
  std::string announced;
  for (auto line = emulator.ReadLine(120s); line && *line != "ready\r";
       line = emulator.ReadLine(20s)) {
    announced += *line + "\n";
  }
  ASSERT_NE(announced.find("COM2 rfc2217://127.0.0.1:"), std::string::npos) << announced;

  const RunResult windows = RunWindows({"/NoPrompts", "/Updates", WindowsPath(file)}, nullptr,
                                       "downloader.exe", {{"DOWNLOADER_PORTS", WindowsPath(map)}});
  emulator.CloseStdin();
  EXPECT_EQ(emulator.Wait(30s), 0) << "its end, with the dump written";
  ExpectHoldsImage(testing::ParseDump(testing::ReadFileBytes(dump)).Com(2), image);

  // The same lines as the Linux loader's into the Linux emulator.
  ModuleEmulator linuxEmulator(modules);
  ExpectSameRun(windows, RunLoader(linuxEmulator, {"/NoPrompts", "/Updates", file}),
                "044-Download successful!");
}

// com<n> of the Wine prefix as a new pseudo-terminal while the object lives. wine-run
// starts no program while a com link exists, so its lock is held all that time (programs
// started meanwhile wait); then the place gets its directory back.
class PseudoTerminalPort {
 public:
  PseudoTerminalPort(const std::string& prefix, int com)
      : link_(prefix + "/dosdevices/com" + std::to_string(com)) {
    lock_ = ::open((prefix + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock_ < 0 || ::flock(lock_, LOCK_EX) != 0) return;
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const std::string device = ::ptsname(master_);
    // Raw, and kept open here, so no byte waits for a line end or is lost meanwhile.
    slave_ = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (slave_ < 0 || ::tcgetattr(slave_, &raw) != 0) return;
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_, TCSANOW, &raw);
    std::error_code error;
    std::filesystem::remove_all(link_, error);
    std::filesystem::create_symlink(device, link_, error);
    linked_ = !error;
  }
  ~PseudoTerminalPort() {
    std::error_code error;
    std::filesystem::remove(link_, error);
    std::filesystem::create_directory(link_, error);
    std::ofstream(link_ + "/no-device");
    for (int fd : {slave_, master_, lock_}) {
      if (fd >= 0) ::close(fd);
    }
  }

  bool Linked() const { return linked_; }

  /// What the program wrote to the port, until `wanted` is in it or 5 s have passed.
  std::string ReadUntil(std::string_view wanted) const {
    std::string got;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (got.find(wanted) == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{master_, POLLIN, 0};
      if (::poll(&ready, 1, 100) <= 0) continue;
      char buffer[64];
      const ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }
  bool Send(std::string_view bytes) const {
    return ::write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  /// Waits, at most 5 s, until the terminal's input queue holds `count` bytes: the kernel
  /// moves what the master wrote to that queue a little later, and only then does the
  /// program behind the port see it waiting.
  bool Queued(int count) const {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    int waiting = 0;
    while (::ioctl(slave_, FIONREAD, &waiting) == 0 && waiting < count &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(1ms);
    }
    return waiting >= count;
  }

 private:
  std::string link_;
  int lock_ = -1;
  int master_ = -1;
  int slave_ = -1;
  bool linked_ = false;
};

// One number of a probe line "NAME A B".
long Field(const std::string& line, int index) {
  std::istringstream words(line);
  std::string word;
  for (int i = 0; i <= index; ++i) words >> word;
  return std::strtol(word.c_str(), nullptr, 10);
}

TEST_F(UnderWine, TheWin32SerialBackendOnAPseudoTerminal) {
  // What Wine can show of a real COM port: opening, the lock, the settings, per-transfer
  // timeouts, transfers and the drain (DTR, RTS and BREAK it refuses on a pseudo-terminal).
  ASSERT_NE(RunWindows({}, nullptr, "serial_probe.exe").out.find("ready"), std::string::npos);
  TempDir map;
  map.Write("COM1", "COM50\n");
  PseudoTerminalPort port(Setting("WINE_RUN_PREFIX"), 50);
  ASSERT_TRUE(port.Linked());
  testing::ChildProcess probe("/usr/lib/wine/wine64", {WindowsProgram("serial_probe.exe"), "steps"},
                              {{"WINEPREFIX", Setting("WINE_RUN_PREFIX")},
                               {"WINEDEBUG", "-all"},
                               {"DOWNLOADER_PORTS", WindowsPath(map.path())}});
  const auto next = [&probe] {
    std::string line = probe.ReadLine(20s).value_or("(nothing)");
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  };
  EXPECT_EQ(next(), "open 0");
  EXPECT_EQ(next(), "second 5") << "the port's lock";
  EXPECT_EQ(next(), "configure 1");
  const std::string atOnce = next();
  EXPECT_EQ(atOnce.rfind("read0 0 ", 0), 0u) << atOnce;
  EXPECT_LT(Field(atOnce, 2), 100) << "a read of timeout 0 returns at once";
  const std::string waited = next();
  EXPECT_EQ(waited.rfind("read200 0 ", 0), 0u) << waited;
  EXPECT_GE(Field(waited, 2), 195) << "it waits its timeout";
  EXPECT_NE(port.ReadUntil("hello").find("hello"), std::string::npos);
  ASSERT_TRUE(port.Send("abcd"));
  EXPECT_EQ(next(), "write 1");
  EXPECT_EQ(next(), "read3 3 abc");
  const std::string shortRead = next();
  EXPECT_EQ(shortRead.rfind("short 1 ", 0), 0u) << "what came, when the timeout ended";
  EXPECT_GE(Field(shortRead, 2), 295) << shortRead;
  ASSERT_TRUE(port.Send("0123456789"));
  ASSERT_TRUE(port.Queued(10));
  probe.Write("go\n");
  EXPECT_EQ(next(), "drain 10");
  EXPECT_EQ(next().rfind("lines ", 0), 0u);
  EXPECT_EQ(next(), "done");
  EXPECT_EQ(probe.Wait(20s), 0);
}

}  // namespace
}  // namespace downloader::e2e
