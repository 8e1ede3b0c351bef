#include "support/recording_windows.h"

#include <memory>

namespace downloader::testing {

RecordingWindows::Log& RecordingWindows::Install(std::optional<std::string> openFileAnswer,
                                                 int informationAnswer) {
  static Log log;
  log = Log{};
  SetWindowSystem(std::unique_ptr<WindowSystem>(
      new RecordingWindows(log, std::move(openFileAnswer), informationAnswer)));
  return log;
}

}  // namespace downloader::testing
