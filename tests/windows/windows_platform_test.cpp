// Windows file names on the loader's command line and in its questions (drive letters,
// backslashes and UNC names), the running program's own file, and the user's port map.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>

#include "platform/file_names.h"
#include "run/program_file.h"
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

}  // namespace
}  // namespace downloader
