// COM names on Linux: the port map, the UUCP locks, and the local backend's error codes
// and hints, all without a real serial device.

#include "serial/port_map.h"

#include <errno.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "serial/globals.h"
#include "serial/hints.h"
#include "serial/open_errors.h"
#include "serial/pool.h"
#include "serial/port_lock.h"
#include "serial/serial_device.h"
#include "serial/serial_device_local.h"
#include "support/child_process.h"
#include "support/emulator_fixture.h"
#include "support/other_user.h"
#include "support/run_process.h"
#include "support/temp_dir.h"

namespace downloader {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Kind = PortTarget::Kind;

// Returns once process `pid` runs the program `name`: a spawn may return before the new
// program has replaced the spawner's copy of itself.
void WaitUntilRunning(pid_t pid, const std::string& name) {
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (ProcessName(pid) != name && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
  }
}

std::unique_ptr<testing::ChildProcess> StartSleeper() {
  auto child =
      std::make_unique<testing::ChildProcess>("/bin/sleep", std::vector<std::string>{"10"});
  WaitUntilRunning(child->pid(), "sleep");
  return child;
}

class PortMap : public ::testing::Test {
 protected:
  PortMap() {
    map_ = dir_.path() / "map";
    fs::create_directories(map_);
    env_.downloaderPorts = map_.string();
    env_.enumeratePorts = [this] {
      ++enumerations_;
      return enumerated_;
    };
  }
  void Entry(const std::string& name, const std::string& text) {
    std::ofstream(map_ / name) << text;
  }
  PortTarget Resolve(const std::string& name) { return ResolvePort(name, env_); }

  testing::TempDir dir_;
  fs::path map_;
  PortMapEnvironment env_;
  std::vector<std::string> enumerated_ = {"/dev/ttyS1", "/dev/ttyS0", "/dev/ttyUSB0"};
  int enumerations_ = 0;
};

TEST_F(PortMap, EntriesAreLinksOrFirstLines) {
  const fs::path device = dir_.path() / "dev" / "ttyFAKE3";
  fs::create_directories(device.parent_path());
  std::ofstream(device) << "";
  fs::create_symlink(device, dir_.path() / "by-id-link");
  fs::create_symlink(dir_.path() / "by-id-link", map_ / "COM1");  // a chain of links
  fs::create_symlink(dir_.path() / "missing", map_ / "COM2");
  Entry("COM3", "/dev/ttyUSB7\nignored second line\n");
  Entry("COM4", "rfc2217://127.0.0.1:4001\r\n");
  Entry("COM5", "rfc2217://[::1]:65535?logging=debug\n");
  Entry("COM6", "rfc2217://no-port-here\n");
  Entry("COM10", "  /dev/ttyACM0  \n");

  PortTarget t = Resolve("COM1");
  EXPECT_EQ(t.kind, Kind::kLocal);
  EXPECT_EQ(t.device, fs::canonical(device).string());
  t = Resolve("COM2");  // dangling: kept as it is, so the open fails as a missing port
  EXPECT_EQ(t.kind, Kind::kLocal);
  EXPECT_EQ(t.device, (map_ / "COM2").string());
  EXPECT_EQ(Resolve("COM3").device, "/dev/ttyUSB7");
  t = Resolve("COM4");
  EXPECT_EQ(t.kind, Kind::kNetwork);
  EXPECT_EQ(t.host, "127.0.0.1");
  EXPECT_EQ(t.port, 4001);
  t = Resolve("COM5");
  EXPECT_EQ(t.kind, Kind::kNetwork);
  EXPECT_EQ(t.host, "::1");
  EXPECT_EQ(t.port, 65535);
  EXPECT_EQ(Resolve("COM6").kind, Kind::kNone);
  EXPECT_EQ(Resolve("COM10").device, "/dev/ttyACM0");
}

TEST_F(PortMap, EmptyOrNoneHidesAPortOnPurpose) {
  Entry("COM1", "");
  Entry("COM2", "none\n");
  Entry("COM3", "\n/dev/ttyUSB0\n");
  for (const char* name : {"COM1", "COM2", "COM3"}) {
    EXPECT_EQ(Resolve(name).kind, Kind::kHidden) << name;
  }
  // Hidden entries never fall through to the system's ports, even without a complete map.
  env_.downloaderPorts.reset();
  env_.xdgConfigHome = dir_.path().string();
  fs::create_directories(dir_.path() / "downloader");
  fs::rename(map_, dir_.path() / "downloader" / "ports");
  EXPECT_EQ(Resolve("COM1").kind, Kind::kHidden);
  EXPECT_EQ(Resolve("COM2").kind, Kind::kHidden);
  EXPECT_EQ(enumerations_, 0);
}

TEST_F(PortMap, AMapGivenByTheEnvironmentIsComplete) {
  Entry("COM2", "/dev/ttyUSB1\n");
  EXPECT_EQ(Resolve("COM1").kind, Kind::kNone);
  EXPECT_EQ(Resolve("COM2").kind, Kind::kLocal);
  env_.downloaderPorts = (dir_.path() / "does-not-exist").string();
  EXPECT_EQ(Resolve("COM1").kind, Kind::kNone);
  env_.downloaderPorts = "";
  EXPECT_EQ(Resolve("COM1").kind, Kind::kNone);
  EXPECT_EQ(enumerations_, 0) << "a complete map must never look at the system's ports";
}

TEST_F(PortMap, WithoutAnEntryTheNthSystemPortExceptTheConsole) {
  env_.downloaderPorts.reset();
  env_.home = (dir_.path() / "home").string();
  env_.systemDirectory = (dir_.path() / "etc").string();
  env_.consoleNames = {"tty0", "ttyS0"};
  EXPECT_EQ(Resolve("COM1").device, "/dev/ttyS1");
  EXPECT_EQ(Resolve("COM2").device, "/dev/ttyUSB0");
  EXPECT_EQ(Resolve("COM3").kind, Kind::kNone);
  EXPECT_EQ(CountedPorts({"/dev/ttyS0", "/dev/ttyS2"}, {"ttyS0"}),
            (std::vector<std::string>{"/dev/ttyS2"}));
  EXPECT_TRUE(CountedPorts({"/dev/ttyS0"}, {"ttyS0"}).empty());
  // A map entry wins over the count.
  fs::create_directories(env_.systemDirectory);
  std::ofstream(env_.systemDirectory + "/COM1") << "rfc2217://localhost:2000\n";
  EXPECT_EQ(Resolve("COM1").kind, Kind::kNetwork);
  EXPECT_EQ(Resolve("COM2").device, "/dev/ttyUSB0");
}

TEST_F(PortMap, TheUsersFolderComesBeforeTheSystemsAndOnlyWhenItExists) {
  env_.downloaderPorts.reset();
  env_.systemDirectory = (dir_.path() / "etc").string();
  fs::create_directories(env_.systemDirectory);
  env_.home = (dir_.path() / "home").string();
  EXPECT_EQ(PortMapDirectory(env_), env_.systemDirectory);
  fs::create_directories(*env_.home + "/.config/downloader/ports");
  EXPECT_EQ(PortMapDirectory(env_), *env_.home + "/.config/downloader/ports");
  env_.xdgConfigHome = (dir_.path() / "xdg").string();
  EXPECT_EQ(PortMapDirectory(env_), env_.systemDirectory);  // $XDG_CONFIG_HOME replaces ~/.config
  fs::create_directories(*env_.xdgConfigHome + "/downloader/ports");
  EXPECT_EQ(PortMapDirectory(env_), *env_.xdgConfigHome + "/downloader/ports");
  env_.xdgConfigHome = "";  // empty counts as unset
  EXPECT_EQ(PortMapDirectory(env_), *env_.home + "/.config/downloader/ports");
  fs::remove_all(env_.systemDirectory);
  env_.home.reset();
  EXPECT_FALSE(PortMapDirectory(env_));
}

TEST_F(PortMap, OnlyComNamesResolve) {
  Entry("com1", "/dev/ttyUSB0\n");
  Entry("COM01", "/dev/ttyUSB0\n");
  for (const char* name : {"com1", "COM", "COM0", "COMx", "COM1 ", "LPT1", "COM01x"}) {
    EXPECT_EQ(Resolve(name).kind, Kind::kNone) << name;
  }
  std::string host;
  uint16_t port = 0;
  EXPECT_FALSE(ParseRfc2217Url("rfc2217://host:0", host, port));
  EXPECT_FALSE(ParseRfc2217Url("rfc2217://host:65536", host, port));
  EXPECT_FALSE(ParseRfc2217Url("rfc2217://:80", host, port));
  EXPECT_FALSE(ParseRfc2217Url("telnet://host:80", host, port));
  EXPECT_TRUE(ParseRfc2217Url("rfc2217://ser2net.local:3001/", host, port));
  EXPECT_EQ(host, "ser2net.local");
  EXPECT_EQ(port, 3001);
}

// ---------------------------------------------------------------------------------------
// Locks, error codes and hints.

TEST(PortLocks, OneHolderAtATimeAcrossProcessesAndDeadHoldersAreTakenOver) {
  testing::TempDir dir;
  const std::string lockDir = dir.path().string();
  PortLock::Refusal refusal;
  {
    testing::ChildProcess holder(PORT_HOLDER, {"lock", "ttyFAKE0", lockDir});
    ASSERT_EQ(holder.ReadLine(5s), "held");
    EXPECT_FALSE(PortLock::Acquire("ttyFAKE0", refusal, lockDir));
    EXPECT_EQ(refusal.error, EBUSY);
    EXPECT_EQ(refusal.holder, holder.pid());
    // Killed without a chance to clean up: its lock file stays, naming a dead process.
    holder.Signal(SIGKILL);
    holder.Wait(5s);
  }
  ASSERT_TRUE(fs::exists(lockDir + "/LCK..ttyFAKE0"));
  auto lock = PortLock::Acquire("ttyFAKE0", refusal, lockDir);
  ASSERT_TRUE(lock);
  std::string text;
  std::getline(std::ifstream(lock->path()), text);
  EXPECT_EQ(text,
            std::string(10 - std::to_string(getpid()).size(), ' ') + std::to_string(getpid()));
  // A second lock in this same process is refused too, and the file goes with the holder.
  EXPECT_FALSE(PortLock::Acquire("ttyFAKE0", refusal, lockDir));
  lock.reset();
  EXPECT_FALSE(fs::exists(lockDir + "/LCK..ttyFAKE0"));
  EXPECT_TRUE(PortLock::Acquire("ttyFAKE0", refusal, lockDir));
}

TEST(PortLocks, LockFilesOfOtherProgramsAreHonoured) {
  testing::TempDir dir;
  const std::string lockDir = dir.path().string();
  testing::ChildProcess other("/bin/sleep", {"10"});
  PortLock::Refusal refusal;
  // ASCII as minicom writes it, and the 4-byte binary form of old programs.
  dir.Write("LCK..ttyS5", "     " + std::to_string(other.pid()) + "\n");
  EXPECT_FALSE(PortLock::Acquire("ttyS5", refusal, lockDir));
  EXPECT_EQ(refusal.holder, other.pid());
  const int32_t binary = other.pid();
  dir.Write("LCK..ttyS6", std::string(reinterpret_cast<const char*>(&binary), 4));
  EXPECT_FALSE(PortLock::Acquire("ttyS6", refusal, lockDir));
  EXPECT_EQ(refusal.holder, other.pid());
  // Four bytes of text are text: "  1\n" names init, which always runs.
  dir.Write("LCK..ttyS8", "  1\n");
  EXPECT_FALSE(PortLock::Acquire("ttyS8", refusal, lockDir));
  EXPECT_EQ(refusal.holder, 1);
  // Garbage or an empty file names nobody, and a file naming this process is stale.
  dir.Write("LCK..ttyS7", "garbage\n");
  EXPECT_TRUE(PortLock::Acquire("ttyS7", refusal, lockDir));
  dir.Write("LCK..ttyS9", std::to_string(getpid()) + "\n");
  EXPECT_TRUE(PortLock::Acquire("ttyS9", refusal, lockDir));
}

TEST(PortLocks, ALockFileThatIsNoPlainFileIsRefusedAndLeftAsItIs) {
  testing::TempDir dir;
  const std::string lockDir = dir.path().string();
  const std::string secret = dir.Write("secret", "not a lock\n");
  ASSERT_EQ(::link(secret.c_str(), (lockDir + "/LCK..ttyH0").c_str()), 0);
  fs::create_symlink(secret, lockDir + "/LCK..ttyL0");
  ASSERT_EQ(::mkfifo((lockDir + "/LCK..ttyF0").c_str(), 0644), 0);
  PortLock::Refusal refusal;
  const std::pair<const char*, const char*> cases[] = {
      {"ttyH0", "it has other names (a hard link)"},
      {"ttyL0", "it is a link"},
      {"ttyF0", "it is not a plain file"}};
  for (const auto& [target, problem] : cases) {
    EXPECT_FALSE(PortLock::Acquire(target, refusal, lockDir)) << target;
    EXPECT_EQ(refusal.problem, problem);
    EXPECT_EQ(OpenErrorCode(refusal.error), kErrorAccessDenied) << target;
  }
  EXPECT_EQ(testing::ReadFileBytes(secret), "not a lock\n");
  EXPECT_TRUE(fs::is_fifo(lockDir + "/LCK..ttyF0"));
  const std::string hint = LockRefusalHint(refusal, "/dev/ttyF0", "COM2");
  EXPECT_NE(hint.find("it is not a plain file; it was left as it is"), std::string::npos) << hint;
}

// A lock file naming a living process that neither holds its flock nor runs this program
// may have nothing to do with the port (anybody can write "1" into one): the hint names
// the file and its owner, never "end it".
TEST(PortLocks, ALockOfAProcessThatIsNotOursIsReportedWithItsOwner) {
  testing::TempDir dir;
  const std::string lockDir = dir.path().string();
  const std::string file = dir.Write("LCK..ttyS4", "1\n");
  const bool givenAway = testing::CanGiveFilesAway();
  if (givenAway) testing::GiveToOtherUser(file);
  PortLock::Refusal refusal;
  EXPECT_FALSE(PortLock::Acquire("ttyS4", refusal, lockDir));
  EXPECT_EQ(refusal.holder, 1);
  EXPECT_FALSE(refusal.holderConfirmed);
  const std::string hint = LockRefusalHint(refusal, "/dev/ttyS4", "COM1");
  EXPECT_EQ(hint.find("end it"), std::string::npos) << hint;
  EXPECT_NE(hint.find("is locked by the lock file " + file + " of user "), std::string::npos)
      << hint;
  EXPECT_NE(hint.find(", which names process 1 ("), std::string::npos) << hint;
  if (givenAway) {
    EXPECT_EQ(refusal.owner, "user nobody");
  }

  // One whose flock is held is the holder's own.
  testing::ChildProcess holder(PORT_HOLDER, {"lock", "ttyS5", lockDir});
  ASSERT_EQ(holder.ReadLine(5s), "held");
  EXPECT_FALSE(PortLock::Acquire("ttyS5", refusal, lockDir));
  EXPECT_TRUE(refusal.holderConfirmed);
  EXPECT_NE(LockRefusalHint(refusal, "/dev/ttyS5", "COM1").find("; end it or wait"),
            std::string::npos);
}

// Where /run/lock cannot be written by everyone, users lock in /tmp and root in /run/lock:
// a lock is looked for in the other folder too.
TEST(PortLocks, ALockInTheOtherFolderKeepsOut) {
  testing::TempDir runLock;
  testing::TempDir tmp;
  const std::string mine = runLock.path().string();
  const std::string other = tmp.path().string();
  PortLock::Refusal refusal;
  {
    testing::ChildProcess holder(PORT_HOLDER, {"lock", "ttyUSB3", other});
    ASSERT_EQ(holder.ReadLine(5s), "held");
    EXPECT_FALSE(PortLock::Acquire("ttyUSB3", refusal, mine, {other}));
    EXPECT_EQ(refusal.error, EBUSY);
    EXPECT_EQ(refusal.path, other + "/LCK..ttyUSB3");
    EXPECT_FALSE(fs::exists(mine + "/LCK..ttyUSB3")) << "its own file stayed behind";
    // The holder, looking the other way, is kept out by ours.
    auto lock = PortLock::Acquire("ttyUSB4", refusal, mine);
    ASSERT_TRUE(lock);
    EXPECT_FALSE(PortLock::Acquire("ttyUSB4", refusal, other, {mine}));
    holder.Signal(SIGKILL);
    holder.Wait(5s);
  }
  // A file left by a process that has gone keeps nobody out.
  EXPECT_TRUE(PortLock::Acquire("ttyUSB3", refusal, mine, {other}));
}

TEST(OpenErrors, CodesKeepTheirMeaning) {
  for (int err : {ENOENT, ENODEV, ENXIO, EIO, ECONNREFUSED, EHOSTUNREACH, ETIMEDOUT}) {
    EXPECT_EQ(OpenErrorCode(err), kErrorNotFound) << err;
  }
  for (int err : {EACCES, EPERM, EBUSY, EWOULDBLOCK}) {
    EXPECT_EQ(OpenErrorCode(err), kErrorAccessDenied) << err;
  }
  EXPECT_EQ(OpenErrorCode(EINVAL), static_cast<uint32_t>(EINVAL));
}

TEST(OpenErrors, HintsNameTheGroupOrTheHoldingProcess) {
  testing::TempDir dir;
  const std::string device = dir.Write("ttyFAKE1", "");
  // The group of the device is the one to join.
  group* dialout = ::getgrnam("dialout");
  if (dialout != nullptr && ::chown(device.c_str(), 0, dialout->gr_gid) == 0) {
    const std::string hint = PermissionHint(device, "COM3");
    EXPECT_NE(hint.find("COM3"), std::string::npos) << hint;
    EXPECT_NE(hint.find("usermod -aG dialout"), std::string::npos) << hint;
  }
  // The process that has the device open is found under /proc...
  testing::ChildProcess holder("/bin/sh",
                               {"-c", "exec 3<" + device + "; echo open; exec sleep 10"});
  ASSERT_EQ(holder.ReadLine(5s), "open");
  WaitUntilRunning(holder.pid(), "sleep");
  EXPECT_EQ(FindDeviceHolder(device), holder.pid());
  const std::string hint = BusyHint(device, "COM3", FindDeviceHolder(device));
  EXPECT_NE(hint.find("process " + std::to_string(holder.pid()) + " (sleep)"), std::string::npos)
      << hint;
  // ... or under any folder laid out like it.
  const fs::path proc = dir.path() / "proc";
  fs::create_directories(proc / "4242" / "fd");
  fs::create_symlink(device, proc / "4242" / "fd" / "7");
  std::ofstream(proc / "4242" / "comm") << "minicom\n";
  EXPECT_EQ(FindDeviceHolder(device, proc.string()), 4242);
  EXPECT_NE(BusyHint(device, "COM3", 4242, proc.string()).find("4242 (minicom)"),
            std::string::npos);
  EXPECT_NE(BusyHint(device, "", 0).find("another program"), std::string::npos);
  // A process's name comes from the system: a hint shows it escaped.
  fs::create_directories(proc / "4243");
  std::ofstream(proc / "4243" / "comm") << "evil\x1b]0;owned\x07\n";
  std::vector<std::string> hints;
  SetHintSink([&](const std::string& line) { hints.push_back(line); });
  WriteHint(BusyHint(device, "COM3", 4243, proc.string()));
  SetHintSink(nullptr);
  ASSERT_EQ(hints.size(), 1u);
  EXPECT_NE(hints[0].find("process 4243 (evil\\x1B]0;owned\\x07)"), std::string::npos) << hints[0];

  // A user who joined the group is told to log in again; one who has it, to ask for access.
  EXPECT_NE(PermissionHintText("x", "dialout", GroupStanding::kJoinedLater)
                .find("log in again (or run: newgrp dialout)"),
            std::string::npos);
  EXPECT_NE(PermissionHintText("x", "dialout", GroupStanding::kHasGroup).find("ask for"),
            std::string::npos);
}

// As an unprivileged user (root passes every permission check): another user's lock file
// and an unreadable port map entry fail the open with a hint that names the fix.
TEST(OpenErrors, HintsForAnotherUsersLockFileAndAnUnreadableMapEntry) {
  // Only root can run a program as another user: ./scripts/test cannot mend that.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  testing::TempDir dir;
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  const std::string holder = dir.File("holder");
  fs::copy_file(PORT_HOLDER, holder);
  const fs::path map = dir.path() / "map";
  fs::create_directory(map);
  fs::permissions(map, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  // The folder the other user's lock files go to.
  struct stat runLock {};
  const bool shared = ::stat("/run/lock", &runLock) == 0 && (runLock.st_mode & S_IWOTH) != 0;
  const std::string lockDir = shared ? "/run/lock" : "/tmp";
  const auto other = StartSleeper();
  std::vector<std::string> lockFiles;
  auto open = [&](int com, const std::string& lockPid) {
    const int port = 20000 + static_cast<int>(::getpid() % 20000) + com;
    std::ofstream(map / ("COM" + std::to_string(com))) << "rfc2217://127.0.0.1:" << port << "\n";
    if (!lockPid.empty()) {
      lockFiles.push_back(lockDir + "/LCK..rfc2217-127.0.0.1-" + std::to_string(port));
      std::ofstream(lockFiles.back()) << "      " << lockPid << "\n";
    }
    testing::RunOptions options;
    options.args = {"--reuid=65534", "--regid=65534", "--clear-groups",
                    holder,          "port",          "COM" + std::to_string(com)};
    options.env["DOWNLOADER_PORTS"] = map.string();
    return testing::RunProgram("/usr/bin/setpriv", options);
  };
  const auto stale = open(1, "99999999");
  const auto held = open(2, std::to_string(other->pid()));
  std::ofstream(map / "COM3") << "none\n";
  fs::permissions(map / "COM3", fs::perms::owner_read | fs::perms::owner_write);
  const auto unreadable = open(3, "");
  for (const auto& file : lockFiles) ::unlink(file.c_str());

  EXPECT_EQ(stale.out, "failed 5\n");
  EXPECT_NE(stale.err.find(": it belongs to another user and names no running program; "
                           "remove it: sudo rm " +
                           lockFiles.at(0)),
            std::string::npos)
      << stale.err;
  EXPECT_EQ(held.out, "failed 5\n");
  // A sleeper holds no port: its lock file is reported with its owner, never "end it".
  EXPECT_NE(held.err.find(" of user root, which names process " + std::to_string(other->pid()) +
                          " (sleep)"),
            std::string::npos)
      << held.err;
  EXPECT_EQ(unreadable.out, "failed 2\n");
  EXPECT_NE(unreadable.err.find("make it readable: chmod a+r " + (map / "COM3").string()),
            std::string::npos)
      << unreadable.err;
}

// The local backend on things that are not serial ports: every failure is a missing port,
// and a device that another program has locked is in use, with a hint naming it.
TEST(LocalBackend, FilesThatAreNoSerialPortsAndLockedDevices) {
  InitSerialUnit();
  testing::TempDir dir;
  const std::string file = dir.Write("ttyNOTATTY9", "plain file");
  fs::create_directories(dir.path() / "map");
  fs::create_symlink(file, dir.path() / "map" / "COM1");
  fs::create_symlink(dir.path() / "gone", dir.path() / "map" / "COM2");
  std::ofstream(dir.path() / "map" / "COM3") << dir.path().string() << "\n";  // a folder
  std::ofstream(dir.path() / "map" / "COM4") << "none\n";
  testing::ScopedEnv ports("DOWNLOADER_PORTS", (dir.path() / "map").string());
  for (const char* name : {"COM1", "COM2", "COM3", "COM4", "COM5"}) {
    uint32_t error = 0;
    EXPECT_EQ(AcquirePort(name, error), kNoPort) << name;
    EXPECT_EQ(error, kErrorNotFound) << name;
  }

  std::vector<std::string> hints;
  SetHintSink([&](const std::string& line) { hints.push_back(line); });
  const auto other = StartSleeper();
  const std::string lockFile = LockDirectory() + "/LCK..ttyNOTATTY9";
  std::ofstream(lockFile) << "      " << other->pid() << "\n";
  const DeviceOpenResult result = OpenLocalDevice(file, "COM1");
  ::unlink(lockFile.c_str());
  SetHintSink(nullptr);
  EXPECT_EQ(result.device, nullptr);
  EXPECT_EQ(result.error, kErrorAccessDenied);
  ASSERT_EQ(hints.size(), 1u);
  EXPECT_NE(hints[0].find("process " + std::to_string(other->pid()) + " (sleep)"),
            std::string::npos)
      << hints[0];
}

}  // namespace
}  // namespace downloader
