#include "image/image_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace downloader {

namespace {

/// Owns one open descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int OpenReadOnly(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

/// Reads until the image is full; a failed read or the end of the file ends it early.
ImageRead ReadWhole(int fd, ObjectImage& image) {
  std::size_t filled = 0;
  while (filled < image.bytes.size()) {
    const ssize_t n = ::read(fd, image.bytes.data() + filled, image.bytes.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return ImageRead::kShort;
    filled += static_cast<std::size_t>(n);
  }
  return ImageRead::kRead;
}

}  // namespace

ImageRead ReadImageTail(const std::string& path, ObjectImage& image) {
  const FileDescriptor file(OpenReadOnly(path));
  if (file.get() < 0) return ImageRead::kCannotOpen;
  // A file shorter than an image cannot be positioned before its start: no image there.
  if (::lseek(file.get(), -static_cast<off_t>(image_layout::kSize), SEEK_END) < 0) {
    return ImageRead::kShort;
  }
  return ReadWhole(file.get(), image);
}

ImageRead ReadObjectFile(const std::string& name, ObjectImage& image) {
  const FileDescriptor file(OpenReadOnly(name));
  if (file.get() < 0) return ImageRead::kCannotOpen;
  return ReadWhole(file.get(), image);
}

bool ReadEmbeddedImage() {
  // /proc/self/exe names the running file even after it was renamed or replaced.
  return ReadImageTail("/proc/self/exe", ImageBuffer) == ImageRead::kRead &&
         CrcMatches(ImageBuffer);
}

}  // namespace downloader
