#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "run/report.h"
#include "ui/main_form.h"
#include "ui/window_system.h"

namespace downloader::testing {

/// A window system that shows nothing and records what it was asked to do. Questions are
/// answered from the public fields: the open-file dialog with `openFileAnswer` (cancelled
/// when unset), the information window with `informationAnswer`, a modal selection dialog
/// by `answerModal` (closed, result 2, when unset).
class FakeWindowSystem final : public WindowSystem {
 public:
  std::vector<std::string> errorDialogs;
  std::vector<std::string> errorReasons;  ///< each error dialog's reasons
  std::vector<std::string> messageDialogs;
  std::vector<std::string> messageBoxes;
  std::vector<OpenFileRequest> openFileRequests;
  std::vector<InformationView> informationViews;
  int shows = 0;
  int modalShows = 0;
  int closes = 0;
  int repaints = 0;
  int beeps = 0;
  int foregrounds = 0;
  bool busyCursor = false;
  /// TXStatus's fill colour at every repaint.
  std::vector<uint32_t> indicatorColours;

  std::optional<std::string> openFileAnswer;
  int informationAnswer = kModalCancel;
  std::function<int(TProgressForm&)> answerModal;
  /// Called at every repaint (tests watch the window during a transfer).
  std::function<void(TProgressForm&)> onRepaint;
  /// Called when an error dialog is shown (tests check what happened before it).
  std::function<void()> onErrorDialog;

  void ErrorDialog(const std::string& text, const std::string& reasons) override;
  void MessageDialog(const std::string& text) override { messageDialogs.push_back(text); }
  void MessageBox(const std::string& text) override { messageBoxes.push_back(text); }
  std::optional<std::string> OpenFileDialog(const OpenFileRequest& request) override;
  int ShowInformationWindow(const InformationView& view) override;
  void ShowProgressWindow(TProgressForm&) override { ++shows; }
  int ShowProgressWindowModal(TProgressForm& form) override;
  void CloseProgressWindow(TProgressForm&) override { ++closes; }
  void RepaintProgressWindow(TProgressForm& form) override;
  void Beep() override { ++beeps; }
  void SetBusyCursor(bool busy) override { busyCursor = busy; }
  void BringToForeground() override { ++foregrounds; }
  void PumpEvents() override {}
};

/// Installs a new FakeWindowSystem as Windows() and returns it; it lives until the next
/// SetWindowSystem.
FakeWindowSystem& InstallFakeWindows();

/// Points WriteHandle at a temporary file for its lifetime and reads back what the status
/// lines wrote.
class StatusCapture {
 public:
  StatusCapture();
  ~StatusCapture();
  StatusCapture(const StatusCapture&) = delete;
  StatusCapture& operator=(const StatusCapture&) = delete;

  /// Every byte written so far.
  std::string Bytes() const;
  /// The lines written so far as prefix + text ("INF:111-PORT=COM1 ..."), framing removed.
  std::vector<std::string> Lines() const;

 private:
  std::string name_;
  Handle file_ = kInvalidHandle;
  Handle savedHandle_;
};

}  // namespace downloader::testing
