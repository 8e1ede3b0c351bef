// The loader's windows on Windows, drawn with the system's own API and linked into the
// loader: what the window module is on Linux. They open on the first window a run needs,
// when the process has a window station a person sees.

#include <memory>
#include <string>
#include <vector>

#include "ui/forms.h"
#include "ui/win32/dialogs.h"
#include "ui/win32/information_window.h"
#include "ui/win32/progress_window.h"
#include "ui/win32/support.h"
#include "ui/window_module.h"

namespace downloader::win32 {

namespace {

class Win32WindowSystem final : public WindowSystem {
 public:
  bool Open(std::string& why) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_STANDARD_CLASSES;
    ::InitCommonControlsEx(&controls);
    if (!information_.Create(why) || !progress_.Create(why)) return false;
    InstallWaker();
    return true;
  }

  ~Win32WindowSystem() override { SetPostedHandlerWaker(nullptr); }

  void ErrorDialog(const std::string& text, const std::string& reasons) override {
    ShowErrorBox(Owner(), WithReasons(text, reasons));
  }
  void MessageDialog(const std::string& text) override {
    ShowTextDialog(Owner(), kApplicationTitle, text, TextLook::kColumns);
  }
  void MessageBox(const std::string& text) override {
    ShowTextDialog(Owner(), kApplicationTitle, text, TextLook::kPlain);
  }
  std::optional<std::string> OpenFileDialog(const OpenFileRequest& request) override {
    return ShowOpenFileDialog(Owner(), request);
  }
  int ShowInformationWindow(const InformationView& view) override {
    return information_.ShowModal(view);
  }

  void ShowProgressWindow(TProgressForm& form) override { progress_.ShowModeless(form); }
  int ShowProgressWindowModal(TProgressForm& form) override { return progress_.ShowModal(form); }
  void CloseProgressWindow(TProgressForm&) override { progress_.Close(); }
  void RepaintProgressWindow(TProgressForm& form) override { progress_.RepaintNow(form); }

  void Beep() override { ::MessageBeep(0); }
  void SetBusyCursor(bool busy) override { SetBusy(busy); }
  void BringToForeground() override {
    const HWND owner = Owner();
    ::SetForegroundWindow(owner != nullptr ? owner : information_.Handle());
  }
  void PumpEvents() override { PumpMessages(); }
  void WaitForEvents(std::chrono::milliseconds limit) override { WaitForWork(limit); }

 private:
  // The loader's visible window, which every dialog belongs to, so that a dialog opens
  // above the stay-on-top progress window; none when no window is shown.
  HWND Owner() const {
    if (progress_.Visible()) return progress_.Handle();
    if (information_.Visible()) return information_.Handle();
    return nullptr;
  }

  InformationWindow information_;
  ProgressWindow progress_;
};

// Whether a person sees this process's windows: a service's window station is not shown.
bool InteractiveWindowStation() {
  USEROBJECTFLAGS flags{};
  DWORD size = 0;
  const HWINSTA station = ::GetProcessWindowStation();
  if (station == nullptr ||
      !::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &size)) {
    return true;  // cannot tell: the windows say for themselves whether they open
  }
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

}  // namespace

}  // namespace downloader::win32

namespace downloader {

WindowSystem* LoadWindowModule(std::vector<std::string>& lines) {
  lines.clear();
  // Without a window station to see, the console forms answer, as without a display.
  if (!win32::InteractiveWindowStation()) return nullptr;
  auto windows = std::make_unique<win32::Win32WindowSystem>();
  std::string why;
  if (!windows->Open(why)) {
    lines.push_back(why);
    return nullptr;
  }
  return windows.release();  // lives to the end of the process
}

}  // namespace downloader
