#include "run/program_file.h"

#include "platform/file_names.h"
#include "platform/system.h"

namespace downloader {

std::string ProgramFilePath() {
  return RunningProgramPath();
}

std::string ProgramDirectory() {
  // Appending an empty name adds the trailing separator (none to an empty path).
  return NameOf(PathOf(ProgramFilePath()).parent_path() / "");
}

std::string ProgramFileName() {
  return NameOf(PathOf(ProgramFilePath()).filename());
}

}  // namespace downloader
