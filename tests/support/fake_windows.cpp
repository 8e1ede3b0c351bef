#include "support/fake_windows.h"

#include <filesystem>
#include <memory>
#include <stdexcept>

#include "platform/file_names.h"
#include "run/report.h"
#include "support/temp_dir.h"
#include "support/test_handles.h"
#include "ui/progress_form.h"

namespace downloader::testing {

void FakeWindowSystem::ErrorDialog(const std::string& text, const std::string& reasons) {
  errorDialogs.push_back(text);
  errorReasons.push_back(reasons);
  if (onErrorDialog) onErrorDialog();
}

std::optional<std::string> FakeWindowSystem::OpenFileDialog(const OpenFileRequest& request) {
  openFileRequests.push_back(request);
  return openFileAnswer;
}

int FakeWindowSystem::ShowInformationWindow(const InformationView& view) {
  informationViews.push_back(view);
  return informationAnswer;
}

int FakeWindowSystem::ShowProgressWindowModal(TProgressForm& form) {
  ++modalShows;
  return answerModal ? answerModal(form) : kModalCancel;
}

void FakeWindowSystem::RepaintProgressWindow(TProgressForm& form) {
  ++repaints;
  indicatorColours.push_back(form.TXStatus.FillColor);
  if (onRepaint) onRepaint(form);
}

FakeWindowSystem& InstallFakeWindows() {
  auto windows = std::make_unique<FakeWindowSystem>();
  FakeWindowSystem& installed = *windows;
  SetWindowSystem(std::move(windows));
  return installed;
}

StatusCapture::StatusCapture() : savedHandle_(WriteHandle) {
  name_ = NameOf(UniqueTempName("downloader-status-"));
  file_ = CreateTestFile(name_);
  if (file_ == kInvalidHandle) throw std::runtime_error("cannot create " + name_);
  WriteHandle = file_;
}

StatusCapture::~StatusCapture() {
  WriteHandle = savedHandle_;
  CloseTestHandle(file_);
  std::error_code ignored;
  std::filesystem::remove(PathOf(name_), ignored);
}

std::string StatusCapture::Bytes() const {
  return ReadFileBytes(name_);
}

std::vector<std::string> StatusCapture::Lines() const {
  std::vector<std::string> lines;
  const std::string bytes = Bytes();
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::size_t end = bytes.find("\r\n", pos);
    if (end == std::string::npos) {
      lines.push_back("unterminated:" + bytes.substr(pos));
      break;
    }
    std::size_t start = pos;
    if (bytes[start] == '\x01') ++start;
    lines.push_back(bytes.substr(start, end - start));
    pos = end + 2;
    if (pos < bytes.size() && bytes[pos] == '\x04') ++pos;
  }
  return lines;
}

}  // namespace downloader::testing
