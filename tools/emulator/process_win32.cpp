#include <windows.h>

#include <mmsystem.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "process.h"

namespace emulator {

namespace {

std::mutex mutex;
std::condition_variable requested;
bool stop = false;

// Ctrl-C, Ctrl-Break and the console's closing, on a thread the system starts. For the
// closing, the system ends the program when this returns: it waits a little for the dump.
BOOL WINAPI OnControl(DWORD type) {
  RequestStop();
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) ::Sleep(2000);
  return TRUE;
}

}  // namespace

void RequestStop() {
  std::lock_guard lock(mutex);
  stop = true;
  requested.notify_all();
}

void PreciseTimers() {
  ::timeBeginPeriod(1);  // the system's timer then ticks every millisecond, not every 15.6
}

void TakeRequests() {
  ::SetConsoleCtrlHandler(OnControl, TRUE);
}

Request WaitForRequest() {
  std::unique_lock lock(mutex);
  requested.wait(lock, [] { return stop; });
  return Request::kStop;
}

bool ReadInput(std::string& chunk) {
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  char buffer[4096];
  DWORD got = 0;
  if (input == nullptr || input == INVALID_HANDLE_VALUE ||
      !::ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0) {
    return false;
  }
  chunk.assign(buffer, got);
  return true;
}

long ProcessId() {
  return static_cast<long>(::GetCurrentProcessId());
}

bool ProcessRuns(long pid) {
  const HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;
  const bool runs = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return runs;
}

const char kRunOnUsage[] = "[--until-stdin-closes]";

std::optional<int> Detach() {
  std::fprintf(stderr, "module-emulator: --detach is not available on Windows\n");
  return 2;
}

void Announce(const std::string& lines) {
  std::fwrite(lines.data(), 1, lines.size(), stdout);
  std::fflush(stdout);
}

}  // namespace emulator
