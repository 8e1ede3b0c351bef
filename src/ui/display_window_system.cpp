// The window system a loader run starts with: the console forms until a window is first
// needed, then the window module's, when a display exists.

#include <cstdio>
#include <vector>

#include "ui/window_module.h"

namespace downloader {

namespace {

// The module's window system once loaded. It is never destroyed: tearing the toolkit down
// while the process exits would run after the toolkit's own globals are gone.
WindowSystem* moduleWindows = nullptr;

void WriteError(const std::string& line) {
  std::fputs(("downloader: " + line + "\n").c_str(), stderr);
  std::fflush(stderr);
}

class DisplayWindowSystem final : public WindowSystem {
 public:
  void ErrorDialog(const std::string& text, const std::string& reasons) override {
    Windowed().ErrorDialog(text, reasons);
  }
  void MessageDialog(const std::string& text) override { Windowed().MessageDialog(text); }
  void MessageBox(const std::string& text) override { Windowed().MessageBox(text); }
  std::optional<std::string> OpenFileDialog(const OpenFileRequest& request) override {
    return Windowed().OpenFileDialog(request);
  }
  int ShowInformationWindow(const InformationView& view) override {
    return Windowed().ShowInformationWindow(view);
  }
  void ShowProgressWindow(TProgressForm& form) override { Windowed().ShowProgressWindow(form); }
  int ShowProgressWindowModal(TProgressForm& form) override {
    return Windowed().ShowProgressWindowModal(form);
  }
  void CloseProgressWindow(TProgressForm& form) override { Current().CloseProgressWindow(form); }
  void RepaintProgressWindow(TProgressForm& form) override {
    Current().RepaintProgressWindow(form);
  }
  void Beep() override { Windowed().Beep(); }
  void SetBusyCursor(bool busy) override {
    busy_ = busy;
    Current().SetBusyCursor(busy);
  }
  void BringToForeground() override { Windowed().BringToForeground(); }
  void PumpEvents() override { Current().PumpEvents(); }
  void WaitForEvents(std::chrono::milliseconds limit) override { Current().WaitForEvents(limit); }

 private:
  WindowSystem& Current() { return moduleWindows ? *moduleWindows : *console_; }

  // The window system for something a person sees: the module's, loaded on first need.
  WindowSystem& Windowed() {
    if (!tried_) {
      tried_ = true;
      // One line for each module refused, the last one also saying what serves instead.
      std::vector<std::string> lines;
      moduleWindows = LoadWindowModule(lines);
      if (!moduleWindows && !lines.empty()) lines.back() += "; the console serves instead";
      for (const std::string& line : lines) WriteError(line);
      if (moduleWindows && busy_) moduleWindows->SetBusyCursor(true);
    }
    return Current();
  }

  std::unique_ptr<WindowSystem> console_ = MakeConsoleWindowSystem();
  bool tried_ = false;
  bool busy_ = false;
};

}  // namespace

std::unique_ptr<WindowSystem> MakeDisplayWindowSystem() {
  return std::make_unique<DisplayWindowSystem>();
}

}  // namespace downloader
