#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "support/other_user.h"

namespace downloader::testing {

bool CanGiveFilesAway() {
  return ::geteuid() == 0;
}

void GiveToOtherUser(const std::filesystem::path& path) {
  if (::lchown(path.c_str(), kOtherUserId, kOtherUserId) != 0) {
    throw std::runtime_error("cannot give " + path.string() + " to user " +
                             std::to_string(kOtherUserId));
  }
}

std::filesystem::path OtherUsersFolder(const std::filesystem::path& parent, const std::string& name,
                                       unsigned mode) {
  const std::filesystem::path folder = parent / name;
  std::filesystem::create_directory(folder);
  GiveToOtherUser(folder);
  ::chmod(folder.c_str(), mode);
  return folder;
}

}  // namespace downloader::testing
