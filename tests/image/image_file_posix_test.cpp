// Reading an object file as a user without write access to it (POSIX users and modes).

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "image/image_file.h"
#include "sample_images.h"
#include "support/temp_dir.h"

namespace downloader {
namespace {

using testing::Bytes;
using testing::SampleImage;
using testing::TempDir;

TEST(ReadObjectFile, OpensReadOnlyFilesAsAnotherUser) {
  TempDir dir;
  const std::string name = dir.Write("locked.obj", Bytes(SampleImage()));
  ASSERT_EQ(::chmod(name.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  // Root may write any file, so the read runs in a child that gave up root first; a file
  // opened for writing as well would fail there.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::geteuid() == 0 && ::setuid(65534) != 0) ::_exit(3);
    ObjectImage read;
    ::_exit(ReadObjectFile(name, read) == ImageRead::kRead && CrcMatches(read) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace downloader
