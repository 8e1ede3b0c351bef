// Starts a program as the desktop does for a double-click, and waits for it and gives its
// exit code. A desktop program gets nothing inherited and no console, so it has no standard
// handles. A console program (--console) gets a console of its own, as Explorer gives it,
// but without a window, and this program's standard handles, so a test can read what it
// writes and answer it.
//
//   desktop_start.exe [--console] PROGRAM [ARGUMENT ...]

#include <windows.h>

#include <string>

namespace {

// One argument as the program's command line must hold it.
std::wstring Quoted(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const bool console = argc > 1 && std::wstring(argv[1]) == L"--console";
  const int first = console ? 2 : 1;
  if (argc <= first) return 2;
  std::wstring commandLine;
  for (int i = first; i < argc; ++i) commandLine += (i > first ? L" " : L"") + Quoted(argv[i]);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  HANDLE handles[3] = {::GetStdHandle(STD_INPUT_HANDLE), ::GetStdHandle(STD_OUTPUT_HANDLE),
                       ::GetStdHandle(STD_ERROR_HANDLE)};
  if (console) {
    for (HANDLE& handle : handles) {
      ::DuplicateHandle(::GetCurrentProcess(), handle, ::GetCurrentProcess(), &handle, 0, TRUE,
                        DUPLICATE_SAME_ACCESS);
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = handles[0];
    startup.hStdOutput = handles[1];
    startup.hStdError = handles[2];
  }
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, console,
                        console ? CREATE_NO_WINDOW : DETACHED_PROCESS, nullptr, nullptr, &startup,
                        &process)) {
    return 3;
  }
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<int>(code);
}
