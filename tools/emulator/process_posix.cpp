#include <signal.h>
#include <unistd.h>

#include <thread>

#include "process.h"

namespace emulator {

namespace {

sigset_t Requests() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGUSR1);
  return signals;
}

}  // namespace

void TakeRequests() {
  // Signals are taken by sigwait, never by a handler; the threads inherit the mask.
  const sigset_t signals = Requests();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
}

Request WaitForRequest() {
  const sigset_t signals = Requests();
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    return signal == SIGUSR1 ? Request::kDump : Request::kStop;
  }
}

void StopAtEndOfInput() {
  // A watcher turns end-of-file on standard input into SIGTERM.
  std::thread([] {
    char buffer[256];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    ::kill(::getpid(), SIGTERM);
  }).detach();
}

long ProcessId() {
  return static_cast<long>(::getpid());
}

}  // namespace emulator
