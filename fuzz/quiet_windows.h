#pragma once

#include <memory>

#include "ui/window_system.h"

namespace downloader::fuzz {

/// A window system that shows nothing and answers every question with Cancel, so that a
/// target that reaches the help or an error dialog stays quiet and fast.
class QuietWindows final : public WindowSystem {
 public:
  void ErrorDialog(const std::string&, const std::string&) override {}
  void MessageDialog(const std::string&) override {}
  void MessageBox(const std::string&) override {}
  std::optional<std::string> OpenFileDialog(const OpenFileRequest&) override { return {}; }
  int ShowInformationWindow(const InformationView&) override { return kModalCancel; }
  void ShowProgressWindow(TProgressForm&) override {}
  int ShowProgressWindowModal(TProgressForm&) override { return kModalCancel; }
  void CloseProgressWindow(TProgressForm&) override {}
  void RepaintProgressWindow(TProgressForm&) override {}
  void Beep() override {}
  void SetBusyCursor(bool) override {}
  void BringToForeground() override {}
  void PumpEvents() override {}
};

/// Installs QuietWindows once.
inline void InstallQuietWindows() {
  static const bool installed = [] {
    SetWindowSystem(std::make_unique<QuietWindows>());
    return true;
  }();
  (void)installed;
}

}  // namespace downloader::fuzz
