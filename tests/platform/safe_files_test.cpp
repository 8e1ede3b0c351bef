// Files written where other users may write too: never through a link, into a FIFO, a
// device or a hard link, and never into another user's folder unless it is sticky and the
// file is ours.

#include "platform/safe_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/other_user.h"
#include "support/temp_dir.h"

namespace downloader {
namespace {

namespace fs = std::filesystem;
using testing::ReadFileBytes;

unsigned ModeOf(const fs::path& path) {
  struct stat st {};
  ::lstat(path.c_str(), &st);
  return st.st_mode & 07777;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class SafeFiles : public ::testing::Test {
 protected:
  SafeFiles() {
    secret_ = dir_.Write("secret", "root only\n");
    fs::permissions(secret_, fs::perms::owner_read | fs::perms::owner_write);
  }
  ~SafeFiles() override { EXPECT_EQ(ReadFileBytes(secret_), "root only\n"); }

  std::string Append(const std::string& path) {
    std::string error;
    std::FILE* file = OpenForAppending(path, 0600, error);
    if (file != nullptr) {
      std::fputs("appended\n", file);
      std::fclose(file);
    }
    return error;
  }

  testing::TempDir dir_;
  std::string secret_;
};

TEST_F(SafeFiles, NeverThroughALinkIntoAFifoADeviceOrAHardLink) {
  std::string error;
  fs::create_symlink(secret_, dir_.path() / "link");
  EXPECT_EQ(Append(dir_.File("link")), "it is a link");
  // A file replaced takes the link's place; what the link pointed to stays as it was.
  EXPECT_TRUE(ReplaceFileSafely(dir_.File("link"), "report\n", 0644, error)) << error;
  EXPECT_EQ(ReadFileBytes(dir_.File("link")), "report\n");
  EXPECT_FALSE(fs::is_symlink(dir_.path() / "link"));

  ASSERT_EQ(::mkfifo(dir_.File("fifo").c_str(), 0666), 0);
  EXPECT_EQ(Append(dir_.File("fifo")), "it is a FIFO");  // returns: nobody reads the FIFO
  std::string bytes;
  EXPECT_FALSE(ReadBoundedFile(dir_.File("fifo"), 100, bytes, error));
  EXPECT_EQ(error, "it is a FIFO");
  EXPECT_FALSE(ReadBoundedFile("/dev/zero", 100, bytes, error));
  EXPECT_EQ(error, "it is a device");

  ASSERT_EQ(::link(secret_.c_str(), dir_.File("hard").c_str()), 0);
  EXPECT_EQ(Append(dir_.File("hard")), "it has other names (a hard link)");
  EXPECT_TRUE(ReplaceFileSafely(dir_.File("hard"), "report\n", 0644, error)) << error;

  // Bounded reads take a file whole up to the limit, and refuse one longer.
  dir_.Write("long", std::string(101, 'x'));
  EXPECT_FALSE(ReadBoundedFile(dir_.File("long"), 100, bytes, error));
  EXPECT_EQ(error, "it has 101 bytes, more than 100");
  EXPECT_TRUE(ReadBoundedFile(dir_.File("long"), 101, bytes, error));
  EXPECT_EQ(bytes.size(), 101u);
  fs::create_symlink(secret_, dir_.path() / "entry");
  EXPECT_FALSE(ReadBoundedFile(dir_.File("entry"), 100, bytes, error, false));
  EXPECT_EQ(error, "it is a link");
}

TEST_F(SafeFiles, NewFilesGetTheirModeAndNoTemporaryIsLeft) {
  const mode_t umask = ::umask(022);
  std::string error;
  EXPECT_TRUE(ReplaceFileSafely(dir_.File("report.json"), "{}\n", 0644, error)) << error;
  EXPECT_TRUE(ReplaceFileSafely(dir_.File("dump.json"), "{}\n", 0600, error)) << error;
  EXPECT_EQ(Append(dir_.File("serial.trace")), "");
  EXPECT_EQ(Append(dir_.File("serial.trace")), "");  // a plain file of ours: appended to
  ::umask(umask);
  EXPECT_EQ(ModeOf(dir_.path() / "report.json"), 0644u);
  EXPECT_EQ(ModeOf(dir_.path() / "dump.json"), 0600u);
  EXPECT_EQ(ModeOf(dir_.path() / "serial.trace"), 0600u);
  EXPECT_EQ(ReadFileBytes(dir_.File("serial.trace")), "appended\nappended\n");
  EXPECT_TRUE(CanReplaceFileSafely(dir_.File("report.json"), error)) << error;
  EXPECT_FALSE(CanReplaceFileSafely(dir_.path().string(), error));
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_.path())) ++entries;
  EXPECT_EQ(entries, 4) << "a temporary file was left";
}

TEST_F(SafeFiles, AnotherUsersFolderOnlyWhenStickyAndTheFileIsOurs) {
  if (!testing::CanGiveFilesAway()) GTEST_SKIP() << "needs root to plant another user's files";
  std::string error;
  const fs::path theirs = testing::OtherUsersFolder(dir_.path(), "theirs", 0755);
  EXPECT_FALSE(ReplaceFileSafely((theirs / "report.json").string(), "{}\n", 0644, error));
  EXPECT_TRUE(Contains(error, "its folder " + theirs.string() + " belongs to user nobody"))
      << error;
  EXPECT_TRUE(Contains(Append((theirs / "serial.trace").string()), "belongs to user nobody"));
  EXPECT_TRUE(fs::is_empty(theirs));

  // A sticky folder (as /tmp): our own files only. What the other user put there, a link
  // or a file prepared for us to write into, is left alone.
  const fs::path shared = testing::OtherUsersFolder(dir_.path(), "shared", 01777);
  fs::create_symlink(secret_, shared / "report.json");
  testing::GiveToOtherUser(shared / "report.json");
  EXPECT_FALSE(ReplaceFileSafely((shared / "report.json").string(), "{}\n", 0644, error));
  EXPECT_EQ(error, "it belongs to user nobody");
  const std::string prepared = (shared / "serial.trace").string();
  {
    std::FILE* file = std::fopen(prepared.c_str(), "w");
    std::fclose(file);
    ::chmod(prepared.c_str(), 0666);
    testing::GiveToOtherUser(prepared);
  }
  EXPECT_EQ(Append(prepared), "it belongs to user nobody");
  EXPECT_EQ(ReadFileBytes(prepared), "");
  EXPECT_TRUE(ReplaceFileSafely((shared / "ours.json").string(), "{}\n", 0644, error)) << error;
  // A port map that loaders believe: this user's own folder alone.
  EXPECT_FALSE(CheckFolder(shared.string(), FolderRule::kOwnOnly, error));
  EXPECT_TRUE(CheckFolder(dir_.path().string(), FolderRule::kOwnOnly, error));

  // A folder named through the other user's link counts as theirs.
  fs::create_directory_symlink(dir_.path(), shared / "via");
  testing::GiveToOtherUser(shared / "via");
  EXPECT_FALSE(ReplaceFileSafely((shared / "via" / "report.json").string(), "{}\n", 0644, error));
  EXPECT_TRUE(Contains(error, "is a link of user nobody")) << error;
}

}  // namespace
}  // namespace downloader
