#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "control/pipe.h"
#include "platform/wide_text.h"
#include "run/exceptions.h"
#include "run/report.h"
#include "run/run_state.h"
#include "run/standard_handles.h"
#include "serial/globals.h"

namespace downloader {

namespace {

HANDLE masterProcess = nullptr;

void CloseQuietly(HANDLE handle) {
  if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
}

// An inheritable copy of the loader's standard error for the master, or null when there
// is none to give.
HANDLE InheritableStandardError() {
  const Handle error = StandardError();
  HANDLE copy = nullptr;
  if (error == kInvalidHandle ||
      !::DuplicateHandle(::GetCurrentProcess(), reinterpret_cast<HANDLE>(error),
                         ::GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
    return nullptr;
  }
  return copy;
}

// Starts `program` with the standard handles given, in the current directory, with no
// arguments. Of all the loader's handles the master inherits exactly the ones in
// `inherited`. False when it could not be started, with the system's error code left as
// the last error.
bool CreateMaster(const std::wstring& program, HANDLE input, HANDLE output, HANDLE error,
                  HANDLE* inherited, DWORD inheritedCount, PROCESS_INFORMATION& process) {
  SIZE_T size = 0;
  ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::vector<std::max_align_t> storage(size / sizeof(std::max_align_t) + 1);
  auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
  if (!::InitializeProcThreadAttributeList(attributes, 1, 0, &size)) return false;
  bool started = false;
  if (::UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                  inheritedCount * sizeof(HANDLE), nullptr, nullptr)) {
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = error;
    startup.lpAttributeList = attributes;
    // The command line is the program's name alone, quoted so that a name with blanks
    // does not turn into arguments.
    std::wstring commandLine = L"\"" + program + L"\"";
    started = ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                               EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &startup.StartupInfo,
                               &process) != 0;
  }
  const DWORD why = ::GetLastError();
  ::DeleteProcThreadAttributeList(attributes);
  ::SetLastError(why);
  return started;
}

// Beside the described 007, standard error says why the system would not start the master.
void SayWhyNotStarted(const std::string& master, DWORD error) {
  std::string line =
      "downloader: cannot start the master program " + master + ": " + SystemErrorText(error);
  if (error == ERROR_BAD_EXE_FORMAT) {
    line +=
        " (Windows starts programs only; a script such as master.py needs a program"
        " in its place, such as examples\\master.exe)";
  }
  WriteReason(line);
}

}  // namespace

void StartMasterProgram() {
  // The pipes are created not inheritable; only the master's two ends are made so, and the
  // master is given exactly those (and a copy of standard error), so it never holds the
  // loader's own ends and sees the end of its input when the loader ends.
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.bInheritHandle = FALSE;
  HANDLE commandsRead = nullptr;  // master's standard output -> loader
  HANDLE commandsWrite = nullptr;
  HANDLE statusRead = nullptr;  // loader -> master's standard input
  HANDLE statusWrite = nullptr;
  if (!::CreatePipe(&commandsRead, &commandsWrite, &attributes, kPipeBufferSize) ||
      !::CreatePipe(&statusRead, &statusWrite, &attributes, kPipeBufferSize)) {
    CloseQuietly(commandsRead);
    CloseQuietly(commandsWrite);
    throw EPipeCreation("006-Cannot create In-Pipe or Out-Pipe.");
  }
  ::SetHandleInformation(commandsWrite, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  ::SetHandleInformation(statusRead, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  const HANDLE error = InheritableStandardError();
  HANDLE inherited[3] = {statusRead, commandsWrite, error};
  PROCESS_INFORMATION process{};
  const bool started = CreateMaster(WideFromUtf8(ObjectFileName), statusRead, commandsWrite, error,
                                    inherited, error != nullptr ? 3 : 2, process);
  const DWORD why = ::GetLastError();
  ::CloseHandle(commandsWrite);
  ::CloseHandle(statusRead);
  CloseQuietly(error);
  if (!started) {
    ::CloseHandle(commandsRead);
    ::CloseHandle(statusWrite);
    SayWhyNotStarted(ObjectFileName, why);
    throw EPipeCreation("007-Cannot create child process.");
  }

  ::CloseHandle(process.hThread);
  masterProcess = process.hProcess;
  ReadHandle = reinterpret_cast<Handle>(commandsRead);
  WriteHandle = reinterpret_cast<Handle>(statusWrite);
  PipeMode = true;
}

void ReapMasterProgram() {
  if (masterProcess != nullptr && ::WaitForSingleObject(masterProcess, 0) == WAIT_OBJECT_0) {
    ::CloseHandle(masterProcess);
    masterProcess = nullptr;
  }
}

}  // namespace downloader
