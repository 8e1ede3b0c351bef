// The Windows serial backend's arithmetic (error codes, device names, per-transfer
// timeouts) and Windows port names in the port map. Pure logic: it runs on every platform.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/system.h"
#include "serial/hints.h"
#include "serial/port_map.h"
#include "serial/serial_device.h"
#include "serial/win32_comm.h"
#include "support/temp_dir.h"

namespace downloader {
namespace {

TEST(Win32OpenError, MissingPortsAreTwoPortsInUseFiveOthersKeepTheirCode) {
  // ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_GEN_FAILURE (adapter unplugged),
  // ERROR_DEV_NOT_EXIST, ERROR_INVALID_NAME, ERROR_DEVICE_NOT_CONNECTED
  for (uint32_t missing : {2u, 3u, 31u, 55u, 123u, 1167u}) {
    EXPECT_EQ(win32::OpenErrorCode(missing), kErrorNotFound) << missing;
  }
  // ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_BUSY
  for (uint32_t inUse : {5u, 32u, 170u}) {
    EXPECT_EQ(win32::OpenErrorCode(inUse), kErrorAccessDenied) << inUse;
  }
  EXPECT_EQ(win32::OpenErrorCode(87), 87u);  // ERROR_INVALID_PARAMETER: "Reason is unknown."
}

TEST(Win32DeviceNames, ComNamesTakeTheDeviceNamespaceOthersStayAsTheyAre) {
  EXPECT_EQ(win32::DevicePath("COM7"), "\\\\.\\COM7");
  EXPECT_EQ(win32::DevicePath("com12"), "\\\\.\\com12");
  EXPECT_EQ(win32::DevicePath("\\\\.\\COM3"), "\\\\.\\COM3");
  EXPECT_EQ(win32::DevicePath("COM"), "COM");
  EXPECT_EQ(win32::DevicePath("COM1x"), "COM1x");
  EXPECT_EQ(win32::LockName("\\\\.\\COM12"), "COM12");
  EXPECT_EQ(win32::LockName("COM4"), "COM4");
}

TEST(Win32Timeouts, ZeroReadReturnsAtOnceZeroWriteStillHasALimit) {
  constexpr uint32_t kMaxDword = 0xFFFFFFFF;
  // All-zero read timeouts would wait for the whole count without end.
  EXPECT_EQ(win32::ReadTimeouts(0), (win32::CommTimeouts{kMaxDword, 0, 0, 0, 0}));
  EXPECT_EQ(win32::ReadTimeouts(40), (win32::CommTimeouts{0, 0, 40, 0, 0}));
  // Not the MAXDWORD interval-and-multiplier pair, which the system reads as "wait for one".
  EXPECT_EQ(win32::ReadTimeouts(kMaxDword), (win32::CommTimeouts{0, 0, kMaxDword, 0, 0}));
  EXPECT_EQ(win32::WriteTimeouts(1000), (win32::CommTimeouts{0, 0, 0, 0, 1000}));
  EXPECT_EQ(win32::WriteTimeouts(0), (win32::CommTimeouts{0, 0, 0, 0, 1}));
}

TEST(WindowsPortNames, APortWithoutEntryIsTheSystemsPortOfThatName) {
  testing::TempDir dir;
  // Named COM3 even where the system reserves that name for the device (a plain file name
  // would reach the port itself there, and so would the folder's removal).
  struct Entry {
    std::filesystem::path file;
    ~Entry() { std::filesystem::remove(file); }
  } entry{FileInFolder(dir.path().string(), "COM3")};
  std::ofstream(entry.file) << "rfc2217://127.0.0.1:4003\n";
  PortMapEnvironment env;
  env.xdgConfigHome = dir.path().string();  // no downloader/ports below it: no map
  env.systemDirectory = dir.File("none");
  env.namedSystemPorts = true;
  PortTarget target = ResolvePort("COM12", env);
  EXPECT_EQ(target.kind, PortTarget::Kind::kLocal);
  EXPECT_EQ(target.device, "\\\\.\\COM12");
  EXPECT_EQ(ResolvePort("LPT1", env).kind, PortTarget::Kind::kNone);

  env.downloaderPorts = dir.path().string();
  target = ResolvePort("COM3", env);
  EXPECT_EQ(target.kind, PortTarget::Kind::kNetwork);
  EXPECT_EQ(target.port, 4003);
  // A map named by DOWNLOADER_PORTS is complete there too.
  EXPECT_EQ(ResolvePort("COM12", env).kind, PortTarget::Kind::kNone);
}

// The machine-wide map counts only what may be believed (on Windows what the administrators
// own, since any user can make %ProgramData%\downloader): a folder or an entry that any user
// could have made is passed over, with one line on standard error.
TEST(WindowsPortNames, TheMachineWideMapCountsOnlyWhatItMayBelieve) {
  testing::TempDir dir;
  const std::string ports = dir.File("ports");
  std::filesystem::create_directories(ports);
  std::ofstream(FileInFolder(ports, "COM11")) << "rfc2217://127.0.0.1:7011\n";
  std::ofstream(FileInFolder(ports, "COM12")) << "rfc2217://127.0.0.1:7012\n";
  PortMapEnvironment env;
  env.systemDirectory = ports;
  env.namedSystemPorts = true;
  bool folderBelieved = true;
  env.machineWideTrusted = [&](const std::string& path, std::string& why) {
    if (path == ports ? folderBelieved : path.ends_with("COM11")) return true;
    why = "it belongs to a user";
    return false;
  };
  std::vector<std::string> hints;
  SetHintSink([&](const std::string& line) { hints.push_back(line); });
  EXPECT_EQ(ResolvePort("COM11", env).kind, PortTarget::Kind::kNetwork);
  const PortTarget planted = ResolvePort("COM12", env);
  EXPECT_EQ(planted.kind, PortTarget::Kind::kLocal);
  EXPECT_EQ(planted.device, "\\\\.\\COM12");
  ASSERT_FALSE(hints.empty());
  EXPECT_TRUE(hints[0].starts_with("downloader: the port map ")) << hints[0];
  EXPECT_TRUE(hints[0].ends_with("COM12 is not used: it belongs to a user")) << hints[0];
  EXPECT_EQ(MappedComNumbers(env), std::vector<int>{11});
  folderBelieved = false;
  EXPECT_FALSE(PortMapDirectory(env));
  EXPECT_EQ(ResolvePort("COM11", env).device, "\\\\.\\COM11");
  SetHintSink(nullptr);
  EXPECT_EQ(hints.back(),
            "downloader: the port map " + ports + " is not used: it belongs to a user");
}

}  // namespace
}  // namespace downloader
