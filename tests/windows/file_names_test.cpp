// Windows file names on the loader's command line and in its questions: drive letters,
// backslashes and UNC names, and the running program's own file.

#include <gtest/gtest.h>

#include "control/program_file.h"
#include "platform/file_names.h"
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

}  // namespace
}  // namespace downloader
