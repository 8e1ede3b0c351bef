#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace downloader {

/// The full name (UTF-8) of the running program's own file; empty when the system cannot
/// tell. POSIX: /proc/self/exe resolved; Windows: GetModuleFileNameW.
std::string RunningProgramPath();

/// The file `name` in the folder `directory` (both UTF-8). POSIX: directory/name. Windows:
/// the \\?\ form of the full name, the one form in which COM1..COM9, AUX, NUL and the
/// other names reserved for devices name a file, not the device.
std::filesystem::path FileInFolder(const std::string& directory, const std::string& name);

/// The value (UTF-8) of the environment variable `name`; nothing when it is unset.
/// Windows: the wide environment.
std::optional<std::string> EnvironmentValue(const char* name);

/// Sets the environment variable `name` to `value` (UTF-8), for this process and the
/// programs it starts.
void SetEnvironmentValue(const char* name, const std::string& value);

/// The process's arguments as UTF-8 texts, the program name first. POSIX: `argv` as given;
/// Windows: the wide command line, since `argv` holds it in the ANSI code page.
std::vector<std::string> ProgramArguments(int argc, const char* const* argv);

/// One file opened for reading only, closed when the object goes. Reads take the bytes in
/// order; a failed call leaves the position where it was.
class ReadOnlyFile {
 public:
  /// Opens `name` (UTF-8); IsOpen() tells whether that worked.
  explicit ReadOnlyFile(const std::string& name);
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  /// The running program's own file, whatever became of its name since it started
  /// (POSIX: /proc/self/exe).
  static ReadOnlyFile RunningProgram();

  bool IsOpen() const { return handle_ != kClosed; }
  /// Moves to `distance` bytes before the end; false (nothing moved) when the file is
  /// shorter than that.
  bool SeekFromEnd(uint64_t distance);
  /// Reads up to `count` bytes: the number read, 0 at the end of the file, -1 on failure.
  long Read(uint8_t* buffer, std::size_t count);

 private:
  static constexpr std::intptr_t kClosed = -1;
  struct Opened {
    std::intptr_t handle;
  };
  explicit ReadOnlyFile(Opened opened) : handle_(opened.handle) {}
  std::intptr_t handle_ = kClosed;  ///< POSIX: a descriptor; Windows: a HANDLE
};

}  // namespace downloader
