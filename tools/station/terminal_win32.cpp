// The station's console on Windows: virtual-terminal sequences for the live table when the
// console takes them, its size, and UTF-8 text written as the console's own wide text.

#include <stdlib.h>
#include <windows.h>

#include <string_view>

#include "host.h"
#include "text_win32.h"

namespace downloader::station {

namespace {

constexpr int kDefaultWidth = 80;
constexpr int kDefaultHeight = 24;

bool IsConsole(HANDLE handle, DWORD& mode) {
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// To a console as wide text, whatever its code page; to a file or pipe as the bytes.
void Write(HANDLE handle, bool console, std::string_view text) {
  if (console) {
    const std::wstring wide = Wide(text);
    DWORD written = 0;
    ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  while (!text.empty()) {
    DWORD written = 0;
    if (!::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written == 0) {
      return;
    }
    text.remove_prefix(written);
  }
}

class WindowsTerminal final : public Terminal {
 public:
  WindowsTerminal()
      : out_(::GetStdHandle(STD_OUTPUT_HANDLE)), err_(::GetStdHandle(STD_ERROR_HANDLE)) {
    DWORD mode = 0;
    outConsole_ = IsConsole(out_, mode);
    DWORD errMode = 0;
    errConsole_ = IsConsole(err_, errMode);
    // The table needs the console to read the cursor and colour sequences; a console that
    // refuses them (before Windows 10), or one that says it cannot show them (TERM=dumb),
    // gets the plain lines.
    const wchar_t* term = ::_wgetenv(L"TERM");
    if (outConsole_ && (term == nullptr || std::wstring_view(term) != L"dumb")) {
      savedOutMode_ = mode;
      live_ = ::SetConsoleMode(
                  out_, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
      const wchar_t* noColour = ::_wgetenv(L"NO_COLOR");
      colours_ = live_ && (noColour == nullptr || *noColour == L'\0');
    }
  }

  ~WindowsTerminal() override {
    if (live_) ::SetConsoleMode(out_, savedOutMode_);
  }

  bool Live() override { return live_; }
  bool InputIsTerminal() override {
    DWORD mode = 0;
    return IsConsole(::GetStdHandle(STD_INPUT_HANDLE), mode);
  }
  bool Colours() override { return colours_; }

  int Width() override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(out_, &info)) return kDefaultWidth;
    return info.srWindow.Right - info.srWindow.Left + 1;
  }

  int Height() override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(out_, &info)) return kDefaultHeight;
    return info.srWindow.Bottom - info.srWindow.Top + 1;
  }

  void Out(std::string_view text) override { Write(out_, outConsole_, text); }
  void Err(std::string_view text) override { Write(err_, errConsole_, text); }

  // A console shows typed keys only while a program reads it, and the host reads it only
  // between rounds: nothing to turn off.
  void Quiet(bool) override {}

  void FlushInput() override {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (IsConsole(input, mode)) ::FlushConsoleInputBuffer(input);
  }

 private:
  HANDLE out_;
  HANDLE err_;
  bool outConsole_ = false;
  bool errConsole_ = false;
  DWORD savedOutMode_ = 0;
  bool live_ = false;
  bool colours_ = false;
};

}  // namespace

std::unique_ptr<Terminal> MakeSystemTerminal() {
  return std::make_unique<WindowsTerminal>();
}

}  // namespace downloader::station
