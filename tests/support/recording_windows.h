#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/window_system.h"

namespace downloader::testing {

/// A window system that shows nothing and records what it was asked, for unit tests.
/// Modal questions get the answers queued in the public fields.
class RecordingWindows : public WindowSystem {
 public:
  struct Log {
    std::vector<std::string> errorDialogs;
    std::vector<std::string> messageDialogs;
    std::vector<std::string> messageBoxes;
    int beeps = 0;
    int informationWindows = 0;
  };

  /// Installs a RecordingWindows as Windows() and returns its log, which lives until the
  /// next Install.
  static Log& Install(std::optional<std::string> openFileAnswer = std::nullopt,
                      int informationAnswer = kModalCancel);

  void ErrorDialog(const std::string& text) override { log_.errorDialogs.push_back(text); }
  void MessageDialog(const std::string& text) override { log_.messageDialogs.push_back(text); }
  void MessageBox(const std::string& text) override { log_.messageBoxes.push_back(text); }
  std::optional<std::string> OpenFileDialog(const OpenFileRequest&) override {
    return openFileAnswer_;
  }
  int ShowInformationWindow(const InformationView&) override {
    ++log_.informationWindows;
    return informationAnswer_;
  }
  void ShowProgressWindow(TProgressForm&) override {}
  int ShowProgressWindowModal(TProgressForm&) override { return kModalCancel; }
  void CloseProgressWindow(TProgressForm&) override {}
  void RepaintProgressWindow(TProgressForm&) override {}
  void Beep() override { ++log_.beeps; }
  void SetBusyCursor(bool) override {}
  void BringToForeground() override {}
  void PumpEvents() override {}

 private:
  RecordingWindows(Log& log, std::optional<std::string> openFileAnswer, int informationAnswer)
      : log_(log),
        openFileAnswer_(std::move(openFileAnswer)),
        informationAnswer_(informationAnswer) {}
  Log& log_;
  std::optional<std::string> openFileAnswer_;
  int informationAnswer_;
};

}  // namespace downloader::testing
