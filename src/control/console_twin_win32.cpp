// downloader.com: the console twin of downloader.exe. downloader.exe is a desktop program,
// and a command prompt does not wait for one: "downloader ... > out.txt" would return
// before the file is written. A prompt given "downloader" runs downloader.com, since .COM
// comes before .EXE in PATHEXT: this console program starts the downloader.exe beside it
// with the same arguments and standard handles, waits for it and returns its exit status.
// Double-clicks and shortcuts start downloader.exe itself.
//
// A console handle serves only processes attached to its console, which a desktop
// program is not: what downloader.exe writes to a console goes through a pipe that this
// program copies to its console. Files and pipes are handed over as they are.

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/wide_text.h"

namespace {

// How a program that could not be started ends, as a shell's "command not found" does.
constexpr DWORD kNotStarted = 127;
// The exit status of a console program ended by Ctrl-C.
constexpr DWORD kStoppedByCtrlC = 0xC000013A;
// How long output still coming after the loader has ended is copied: a master program it
// started may hold standard error a little longer.
constexpr DWORD kDrainMilliseconds = 2000;

HANDLE child = nullptr;

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// The rest of the command line after the program's own name, as the system splits it:
// a quoted name ends at the next quote, an unquoted one at the first blank.
std::wstring ArgumentsText() {
  const wchar_t* line = ::GetCommandLineW();
  if (*line == L'"') {
    ++line;
    while (*line != L'\0' && *line != L'"') ++line;
    if (*line == L'"') ++line;
  } else {
    while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
  }
  return line;
}

// downloader.exe beside this program: its own name with .exe for .com.
std::wstring DesktopProgram() {
  std::vector<wchar_t> name(32768);
  const DWORD length = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
  std::wstring path(name.data(), length);
  const std::size_t dot = path.find_last_of(L".\\/");
  if (dot != std::wstring::npos && path[dot] == L'.') path.erase(dot);
  return path + L".exe";
}

void WriteError(const std::string& text) {
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (IsConsole(error)) {
    const std::wstring wide = downloader::WideFromUtf8(text);
    ::WriteConsoleW(error, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
  } else if (error != nullptr && error != INVALID_HANDLE_VALUE) {
    ::WriteFile(error, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
}

struct Copy {
  HANDLE pipe;
  HANDLE console;
};

// Copies the loader's UTF-8 output from a pipe to a console as the console's own wide text,
// until the pipe's last writer has gone.
DWORD WINAPI CopyToConsole(void* parameter) {
  const auto [pipe, console] = *static_cast<Copy*>(parameter);
  delete static_cast<Copy*>(parameter);
  std::string pending;
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    pending.append(buffer, n);
    // A character cut by the end of a read waits for the rest of it.
    std::size_t whole = pending.size();
    for (std::size_t back = 1; back <= 3 && back <= pending.size(); ++back) {
      const auto byte = static_cast<unsigned char>(pending[pending.size() - back]);
      if ((byte & 0xC0) == 0x80) continue;
      const std::size_t needed = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      if (needed > back) whole = pending.size() - back;
      break;
    }
    const std::wstring wide = downloader::WideFromUtf8(std::string_view(pending).substr(0, whole));
    DWORD written = 0;
    ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    pending.erase(0, whole);
  }
  ::CloseHandle(pipe);
  return 0;
}

// The loader's copy of one of this program's standard handles, inheritable: the handle
// itself duplicated, or, for a console, the write end of a pipe that a thread copies to it.
HANDLE HandleForLoader(DWORD which, std::vector<HANDLE>& copiers) {
  const HANDLE own = ::GetStdHandle(which);
  if (own == nullptr || own == INVALID_HANDLE_VALUE) return nullptr;
  if (IsConsole(own)) {
    // The loader reads no console: it asks its questions in windows.
    if (which == STD_INPUT_HANDLE) return nullptr;
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (!::CreatePipe(&read, &write, &attributes, 0)) return nullptr;
    ::SetHandleInformation(write, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    const HANDLE copier =
        ::CreateThread(nullptr, 0, CopyToConsole, new Copy{read, own}, 0, nullptr);
    if (copier == nullptr) {
      ::CloseHandle(read);
      ::CloseHandle(write);
      return nullptr;
    }
    copiers.push_back(copier);
    return write;
  }
  HANDLE copy = nullptr;
  if (!::DuplicateHandle(::GetCurrentProcess(), own, ::GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// Ctrl-C and Ctrl-Break reach this program, not the desktop program, which has no console:
// it ends the loader as the key ends a console program, and this one reports that.
BOOL WINAPI OnConsoleControl(DWORD) {
  if (child != nullptr) ::TerminateProcess(child, kStoppedByCtrlC);
  return TRUE;
}

// Starts `program` with `arguments` and the three handles, inheriting exactly those.
bool Start(const std::wstring& program, const std::wstring& arguments, HANDLE (&handles)[3],
           PROCESS_INFORMATION& process) {
  std::vector<HANDLE> inherited;
  for (HANDLE handle : handles) {
    if (handle != nullptr) inherited.push_back(handle);
  }
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<std::max_align_t> storage(size / sizeof(std::max_align_t) + 1);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return false;
  // An empty list is refused: then nothing is inherited at all.
  const bool listed =
      !inherited.empty() && ::UpdateProcThreadAttribute(
                                attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                inherited.size() * sizeof(HANDLE), nullptr, nullptr);
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  startup.StartupInfo.hStdInput = handles[0];
  startup.StartupInfo.hStdOutput = handles[1];
  startup.StartupInfo.hStdError = handles[2];
  startup.lpAttributeList = listed ? attributes : nullptr;
  std::wstring commandLine = L"\"" + program + L"\"" + arguments;
  const bool started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                                        listed, listed ? EXTENDED_STARTUPINFO_PRESENT : 0, nullptr,
                                        nullptr, &startup.StartupInfo, &process) != 0;
  const DWORD error = ::GetLastError();
  ::DeleteProcThreadAttributeList(attributes);
  ::SetLastError(error);
  return started;
}

}  // namespace

int wmain() {
  const std::wstring program = DesktopProgram();
  std::vector<HANDLE> copiers;
  HANDLE handles[3] = {HandleForLoader(STD_INPUT_HANDLE, copiers),
                       HandleForLoader(STD_OUTPUT_HANDLE, copiers),
                       HandleForLoader(STD_ERROR_HANDLE, copiers)};
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  PROCESS_INFORMATION process{};
  const bool started = Start(program, ArgumentsText(), handles, process);
  const DWORD error = ::GetLastError();
  // The loader holds its own copies now; the pipes end when it (and what it started) ends.
  for (HANDLE handle : handles) {
    if (handle != nullptr) ::CloseHandle(handle);
  }
  DWORD status = kNotStarted;
  if (started) {
    child = process.hProcess;
    ::CloseHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &status);
  }
  // A pipe that a program the loader started still holds is not waited for long: its
  // copier ends with this process.
  if (!copiers.empty()) {
    ::WaitForMultipleObjects(static_cast<DWORD>(copiers.size()), copiers.data(), TRUE,
                             kDrainMilliseconds);
  }
  if (!started) {
    WriteError("downloader: cannot start " + downloader::Utf8FromWide(program) + ": " +
               downloader::SystemErrorText(error) + "\n");
  }
  return static_cast<int>(status);
}
