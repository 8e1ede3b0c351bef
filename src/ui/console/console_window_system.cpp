// The windowing services for runs without a display. Standard output is the status
// channel, so every dialog text goes to standard error; a question is asked on the
// terminal when standard input is one and is otherwise answered as the window's Cancel.

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>

#include "run/helpers.h"
#include "run/report.h"
#include "serial/globals.h"
#include "ui/console/console_io.h"
#include "ui/console/console_selection.h"
#include "ui/main_form.h"
#include "ui/progress_form.h"
#include "ui/window_system.h"

namespace downloader {

namespace {

class ConsoleWindowSystem final : public WindowSystem {
 public:
  // The reasons are on standard error already, just before.
  void ErrorDialog(const std::string& text, const std::string&) override { WriteDialogText(text); }
  void MessageDialog(const std::string& text) override { WriteDialogText(text); }
  void MessageBox(const std::string& text) override { WriteDialogText(text); }

  std::optional<std::string> OpenFileDialog(const OpenFileRequest& request) override {
    if (!StandardInputIsTerminal()) return std::nullopt;
    const auto answer =
        AskOnTerminal(request.title + " (in " + request.initialDirectory + ", empty to cancel): ");
    if (!answer || answer->empty()) return std::nullopt;
    return WithDefaultExtension(*answer, request.defaultExtension);
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
  // The selection dialog is asked on the terminal; without one it counts as closed.
  int ShowProgressWindowModal(TProgressForm& form) override {
    if (!StandardInputIsTerminal()) return kModalCancel;
    return AskForTargetRow(form, AskOnTerminal);
  }
  void CloseProgressWindow(TProgressForm&) override {}
  void RepaintProgressWindow(TProgressForm&) override {}

  void Beep() override {}
  void SetBusyCursor(bool) override {}
  void BringToForeground() override {}
  void PumpEvents() override {}
};

std::string UpperAscii(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == ':')) text.remove_suffix(1);
  return std::string(text);
}

// The grid row of the marked port that `answer` names, or 0.
int MarkedRowNamed(const TProgressForm& form, std::string_view answer) {
  std::string wanted = UpperAscii(Trimmed(answer));
  if (!wanted.empty() && wanted.find_first_not_of("0123456789") == std::string::npos) {
    wanted = "COM" + std::to_string(ParseNumber(wanted));
  }
  for (int row = 1; row < form.PortStatus.RowCount(); ++row) {
    const std::size_t index = static_cast<std::size_t>(row - 1);
    if (form.PortStatus.Cell(6, row) == "+" && index < PortList.size() &&
        UpperAscii(PortList[index]) == wanted) {
      return row;
    }
  }
  return 0;
}

std::unique_ptr<WindowSystem>& Installed() {
  static std::unique_ptr<WindowSystem> installed = MakeConsoleWindowSystem();
  return installed;
}

}  // namespace

int AskForTargetRow(TProgressForm& form, const ConsoleAsker& ask) {
  std::string listing;
  for (const std::string& line : form.EMessage.Lines) listing += line + "\n";
  for (int row = 1; row < form.PortStatus.RowCount(); ++row) {
    if (form.PortStatus.Cell(6, row) != "+") continue;
    listing += "  " + form.PortStatus.Cell(0, row) + " " + form.PortStatus.Cell(1, row);
    if (!form.PortStatus.Cell(2, row).empty()) listing += " " + form.PortStatus.Cell(2, row);
    listing += "\n";
  }
  if (!listing.empty()) listing.pop_back();  // WriteDialogText adds the last line break
  WriteDialogText(listing);
  for (;;) {
    const auto answer = ask("Port to download to (empty to cancel): ");
    if (!answer || Trimmed(*answer).empty()) return kModalCancel;
    const int row = MarkedRowNamed(form, *answer);
    if (row > 0) {
      form.PortStatus.Selection = TGridRect{1, row, 4, row};
      form.DownloadButton.Enabled = true;
      return kModalDownload;
    }
    WriteDialogText("No device to choose on " + Trimmed(*answer) + ".");
  }
}

std::unique_ptr<WindowSystem> MakeConsoleWindowSystem() {
  return std::make_unique<ConsoleWindowSystem>();
}

WindowSystem& Windows() {
  return *Installed();
}

void SetWindowSystem(std::unique_ptr<WindowSystem> windows) {
  Installed() = windows ? std::move(windows) : MakeConsoleWindowSystem();
  SetErrorDialogHook(ShowErrorDialog);
}

void ShowErrorDialog(const std::string& text, const std::string& reasons) {
  Windows().BringToForeground();
  Windows().Beep();
  Windows().ErrorDialog(text, reasons);
}

}  // namespace downloader
