// A master program for the loader's pipe mode on Windows, as a station would write one.
// It sends two command lines, "/GetInfo missing.obj" and "/GetInfo %DOWNLOADER_TEST_IMAGE%"
// (or those of %DOWNLOADER_TEST_COMMANDS%, separated by "|"), and after each reads the
// status lines up to the final one (the one ending in EOT). Then
// it closes its output, which ends the loader, and waits for the end of its input: that
// comes only if it holds no copy of the loader's end of the pipe. Everything it received,
// then "end of input" (or "no end of input"), goes to the file %DOWNLOADER_TEST_RESULT%.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

namespace {

HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);

std::wstring Environment(const wchar_t* name) {
  wchar_t value[1024];
  const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
  return length < 1024 ? std::wstring(value, length) : std::wstring();
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow.push_back(static_cast<char>(c));
  return narrow;
}

void Write(HANDLE handle, const std::string& bytes) {
  DWORD n = 0;
  ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
}

// The status lines up to and including the first final one; what came when the input ended.
std::string ReadUpToFinalLine() {
  std::string received;
  char c;
  DWORD n = 0;
  while (::ReadFile(in, &c, 1, &n, nullptr) && n == 1) {
    received.push_back(c);
    if (c == '\x04') break;
  }
  return received;
}

}  // namespace

int main() {
  std::string commands = Narrow(Environment(L"DOWNLOADER_TEST_COMMANDS"));
  if (commands.empty())
    commands = "/GetInfo missing.obj|/GetInfo " + Narrow(Environment(L"DOWNLOADER_TEST_IMAGE"));

  std::string received;
  for (std::size_t start = 0; start <= commands.size();) {
    const std::size_t end = std::min(commands.find('|', start), commands.size());
    Write(out, commands.substr(start, end - start));
    received += ReadUpToFinalLine();
    start = end + 1;
  }

  ::CloseHandle(out);
  // The loader ends when its read fails; its end of our input closes with it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    DWORD available = 0;
    if (!::PeekNamedPipe(in, nullptr, 0, nullptr, &available, nullptr)) {
      ended = ::GetLastError() == ERROR_BROKEN_PIPE;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  received += ended ? "end of input\n" : "no end of input\n";
  // Written whole under another name first, so the test never reads half of it.
  const std::wstring result = Environment(L"DOWNLOADER_TEST_RESULT");
  const std::wstring partial = result + L".partial";
  const HANDLE file = ::CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  Write(file, received);
  ::CloseHandle(file);
  ::MoveFileW(partial.c_str(), result.c_str());
  return 0;
}
