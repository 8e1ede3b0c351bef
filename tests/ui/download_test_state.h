#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/window_system.h"

namespace downloader::testing {

/// A window system that shows nothing and records what it was asked to do. Modal
/// selection dialogs are answered by `answerModal` (closed, result 2, when unset).
class FakeWindowSystem final : public WindowSystem {
 public:
  std::vector<std::string> errorDialogs;
  std::vector<std::string> messageBoxes;
  int shows = 0;
  int modalShows = 0;
  int closes = 0;
  int repaints = 0;
  int beeps = 0;
  int foregrounds = 0;
  bool busyCursor = false;
  /// TXStatus's fill colour at every repaint.
  std::vector<uint32_t> indicatorColours;
  std::function<int(TProgressForm&)> answerModal;
  /// Called at every repaint (tests watch the window during a transfer).
  std::function<void(TProgressForm&)> onRepaint;

  /// Called when an error dialog is shown (tests check what happened before it).
  std::function<void()> onErrorDialog;

  void ErrorDialog(const std::string& text) override {
    errorDialogs.push_back(text);
    if (onErrorDialog) onErrorDialog();
  }
  void MessageDialog(const std::string& text) override { messageBoxes.push_back(text); }
  void MessageBox(const std::string& text) override { messageBoxes.push_back(text); }
  std::optional<std::string> OpenFileDialog(const OpenFileRequest&) override { return {}; }
  int ShowInformationWindow(const InformationView&) override { return kModalCancel; }
  void ShowProgressWindow(TProgressForm&) override { ++shows; }
  int ShowProgressWindowModal(TProgressForm& form) override {
    ++modalShows;
    return answerModal ? answerModal(form) : kModalCancel;
  }
  void CloseProgressWindow(TProgressForm&) override { ++closes; }
  void RepaintProgressWindow(TProgressForm& form) override;
  void Beep() override { ++beeps; }
  void SetBusyCursor(bool busy) override { busyCursor = busy; }
  void BringToForeground() override { ++foregrounds; }
  void PumpEvents() override {}
};

/// Starts a test from the state of a fresh process: serial unit, command-line state,
/// device names, an empty image, new forms, this thread as the main thread, and a
/// FakeWindowSystem installed, which is returned (valid until the next reset).
FakeWindowSystem& ResetDownloaderState();

/// Sets RunFlags and the switches that give them (ReportError reads the switches).
void UseRunFlags(uint16_t runFlags);

/// Fills ImageBuffer: target type, names, and one slot per entry of `packetCounts`;
/// packet k of slot s holds bytes s, k, 0, 1, ..., 15.
void SetTestImage(uint8_t targetDevice, const std::vector<int>& packetCounts,
                  std::string_view product = "", std::string_view company = "");

/// The standard name of `type`, for images that carry no name of their own.
std::string StandardName(int type);

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
  int fd_ = -1;
  int savedHandle_;
};

}  // namespace downloader::testing
