// The windowing services for runs without a display. Standard output is the status
// channel, so every dialog text goes to standard error; a question is asked on the
// terminal when standard input is one and is otherwise answered as the window's Cancel.

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "ui/console/console_io.h"
#include "ui/main_form.h"
#include "ui/window_system.h"

namespace downloader {

namespace {

class ConsoleWindowSystem final : public WindowSystem {
 public:
  void ErrorDialog(const std::string& text) override { WriteDialogText(text); }
  void MessageDialog(const std::string& text) override { WriteDialogText(text); }
  void MessageBox(const std::string& text) override { WriteDialogText(text); }

  std::optional<std::string> OpenFileDialog(const OpenFileRequest& request) override {
    if (!StandardInputIsTerminal()) return std::nullopt;
    const auto answer = AskOnTerminal(request.title + " (in " + request.initialDirectory +
                                      ", empty to cancel): ");
    if (!answer || answer->empty()) return std::nullopt;
    return *answer;
  }

  int ShowInformationWindow(const InformationView& view) override {
    WriteDialogText(view.caption + "\nProduct:      " + view.product +
                    "\nFirmware:     " + view.firmware + "\nChecksum:     " + view.checksum +
                    "\nCompile Date: " + view.compileDate + "\nNotes:\n" + view.notes);
    if (!StandardInputIsTerminal()) return kModalCancel;
    // Like the window, whose default button is Cancel: only an explicit yes downloads.
    const auto answer = AskOnTerminal("Download? [y/N] ");
    const bool yes = answer && (*answer == "y" || *answer == "Y" || *answer == "yes" ||
                                *answer == "Yes" || *answer == "YES");
    return yes ? kModalOk : kModalCancel;
  }

  void ShowProgressWindow(TProgressForm&) override {}
  int ShowProgressWindowModal(TProgressForm&) override { return kModalCancel; }
  void CloseProgressWindow(TProgressForm&) override {}
  void RepaintProgressWindow(TProgressForm&) override {}

  void Beep() override {}
  void SetBusyCursor(bool) override {}
  void BringToForeground() override {}
  void PumpEvents() override {}
};

std::unique_ptr<WindowSystem>& Installed() {
  static std::unique_ptr<WindowSystem> installed = MakeConsoleWindowSystem();
  return installed;
}

}  // namespace

std::unique_ptr<WindowSystem> MakeConsoleWindowSystem() {
  return std::make_unique<ConsoleWindowSystem>();
}

WindowSystem& Windows() { return *Installed(); }

void SetWindowSystem(std::unique_ptr<WindowSystem> windows) {
  Installed() = windows ? std::move(windows) : MakeConsoleWindowSystem();
}

}  // namespace downloader
