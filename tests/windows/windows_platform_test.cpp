// Windows file names on the loader's command line and in its questions (drive letters,
// backslashes and UNC names), the running program's own file, the user's and the
// machine's port map, and the lock objects of ports.

// windows.h first: sddl.h builds on it.
#include <windows.h>

#include <gtest/gtest.h>
#include <sddl.h>
#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_names.h"
#include "platform/system.h"
#include "platform/wide_text.h"
#include "run/program_file.h"
#include "serial/hints.h"
#include "serial/port_lock.h"
#include "serial/port_map.h"
#include "support/temp_dir.h"
#include "ui/console/console_io.h"

namespace downloader {
namespace {

TEST(WindowsFileNames, TheLastPartAfterAnySeparatorHoldsTheExtension) {
  EXPECT_FALSE(HasExtension("C:\\firmware.v2\\pump"));
  EXPECT_TRUE(HasExtension("C:\\firmware\\pump.obj"));
  EXPECT_FALSE(HasExtension("\\\\station\\share.old\\pump"));
  EXPECT_FALSE(HasExtension("C:pump"));
  EXPECT_TRUE(HasExtension("C:/firmware/pump.obj"));
  EXPECT_EQ(WithDefaultExtension("C:\\firmware.v2\\pump", ".obj"), "C:\\firmware.v2\\pump.obj");
  EXPECT_EQ(WithDefaultExtension("C:\\firmware\\", ".obj"), "C:\\firmware\\");
}

TEST(WindowsFileNames, TheProgramKnowsItsOwnFileAndFolder) {
  const std::string path = ProgramFilePath();
  ASSERT_GE(path.size(), 3u);
  EXPECT_EQ(path.substr(1, 2), ":\\") << path;
  EXPECT_EQ(ProgramFileName(), "control_test.exe");
  EXPECT_EQ(ProgramDirectory() + ProgramFileName(), path);
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(FileExists(ProgramDirectory()));
}

// Sets (or with nullopt removes) a variable of the C runtime's environment while it lives.
class ScopedVariable {
 public:
  ScopedVariable(std::wstring name, const std::optional<std::wstring>& value)
      : name_(std::move(name)) {
    if (const wchar_t* old = ::_wgetenv(name_.c_str())) old_ = old;
    Set(value);
  }
  ~ScopedVariable() { Set(old_); }

 private:
  void Set(const std::optional<std::wstring>& value) {
    ::_wputenv((name_ + L"=" + value.value_or(L"")).c_str());
  }
  std::wstring name_;
  std::optional<std::wstring> old_;
};

TEST(WindowsPortMap, WithoutDownloaderPortsTheMapIsInAppData) {
  testing::TempDir appData;
  const std::filesystem::path ports = appData.path() / "downloader" / "ports";
  std::filesystem::create_directories(ports);
  ScopedVariable noMap(L"DOWNLOADER_PORTS", std::nullopt);
  ScopedVariable user(L"APPDATA", appData.path().wstring());
  const PortMapEnvironment env = SystemPortMapEnvironment();
  EXPECT_FALSE(env.downloaderPorts);
  const auto folder = PortMapDirectory(env);
  ASSERT_TRUE(folder);
  EXPECT_TRUE(std::filesystem::equivalent(PathOf(*folder), ports)) << *folder;
  // Nothing in the map: the system's own port of that name, not opened here.
  const PortTarget target = ResolvePort("COM12", env);
  EXPECT_EQ(target.kind, PortTarget::Kind::kLocal);
  EXPECT_EQ(target.device, "\\\\.\\COM12");
}

// Any user can make %ProgramData%\downloader and a ports folder in it: such a map is passed
// over, with one line on standard error, until the administrators own it.
TEST(WindowsPortMap, AMachineWideMapThatAUserMadeIsPassedOver) {
  testing::TempDir programData;
  const std::filesystem::path ports = programData.path() / "downloader" / "ports";
  std::filesystem::create_directories(ports);
  std::ofstream(FileInFolder(NameOf(ports), "COM11")) << "rfc2217://127.0.0.1:7011\n";
  ScopedVariable noMap(L"DOWNLOADER_PORTS", std::nullopt);
  ScopedVariable noUserMap(L"APPDATA", programData.path().wstring() + L"\\none");
  ScopedVariable machine(L"ProgramData", programData.path().wstring());
  std::vector<std::string> hints;
  SetHintSink([&](const std::string& line) { hints.push_back(line); });
  const PortMapEnvironment env = SystemPortMapEnvironment();
  const auto folder = PortMapDirectory(env);
  const PortTarget target = ResolvePort("COM11", env);
  SetHintSink(nullptr);
  EXPECT_FALSE(folder);
  EXPECT_EQ(target.device, "\\\\.\\COM11");
  ASSERT_EQ(hints.size(), 1u);
  EXPECT_NE(hints[0].find("is not used: it belongs to "), std::string::npos) << hints[0];
}

// Any session may make a lock object that this user may not even open: it is told apart
// from the lock of one of this user's loaders, so that a local port's exclusive open, not
// the object, decides.
TEST(WindowsLocks, AnotherUsersLockObjectIsToldApart) {
  const std::string space = "downloader-test-" + std::to_string(::GetCurrentProcessId());
  PSECURITY_DESCRIPTOR nobody = nullptr;
  ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:", SDDL_REVISION_1,
                                                                     &nobody, nullptr));
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nobody, FALSE};
  const HANDLE theirs =
      ::CreateMutexW(&attributes, FALSE, WideFromUtf8("Local\\" + space + "/LCK..COM77").c_str());
  ::LocalFree(nobody);
  ASSERT_NE(theirs, nullptr);
  PortLock::Refusal refusal;
  EXPECT_FALSE(PortLock::Acquire("COM77", refusal, space));
  EXPECT_EQ(refusal.owner, PortLock::kAnotherUser);
  auto ours = PortLock::Acquire("COM78", refusal, space);
  ASSERT_TRUE(ours);
  EXPECT_FALSE(PortLock::Acquire("COM78", refusal, space));
  EXPECT_EQ(refusal.error, EBUSY);
  EXPECT_TRUE(refusal.owner.empty());
  ::CloseHandle(theirs);
}

}  // namespace
}  // namespace downloader
