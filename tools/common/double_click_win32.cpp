// A console program's window opened by a double-click: the system made a console for the
// program alone, and closes it with the program.

#include <windows.h>

#include <string>

#include "double_click.h"

namespace downloader::tools {

namespace {

void Write(HANDLE handle, const std::string& text) {
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(handle, &mode)) {
    ::WriteConsoleA(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  } else {
    ::WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

// Reads until a line end or the end of the input.
void WaitForEnter(HANDLE input) {
  char c = 0;
  DWORD n = 0;
  while (::ReadFile(input, &c, 1, &n, nullptr) && n == 1 && c != '\n' && c != '\r') {
  }
}

}  // namespace

bool ExplainedToADoubleClick(std::string_view program, int argumentCount) {
  DWORD processes[2] = {};
  // This process alone on its console: nobody started it from a prompt.
  if (argumentCount > 0 || ::GetConsoleProcessList(processes, 2) != 1) return false;
  const std::string name(program);
  Write(::GetStdHandle(STD_OUTPUT_HANDLE),
        name +
            " is a command-line program: it runs in a command prompt, with options.\r\n"
            "Open \"Downloader Command Prompt\" in the Start menu (or a command prompt in\r\n"
            "this folder) and type:\r\n"
            "\r\n"
            "  " +
            name +
            " --help\r\n"
            "\r\n"
            "Press Enter to close this window.\r\n");
  WaitForEnter(::GetStdHandle(STD_INPUT_HANDLE));
  return true;
}

}  // namespace downloader::tools
