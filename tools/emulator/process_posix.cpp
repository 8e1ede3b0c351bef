#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "process.h"

namespace emulator {

namespace {

sigset_t Requests() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGUSR1);
  return signals;
}

// Where Announce writes: standard output, or the pipe to the caller after Detach.
int announce = STDOUT_FILENO;
bool detached = false;

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

void PreciseTimers() {
  ::prctl(PR_SET_TIMERSLACK, 1UL);  // a refusal keeps the default slack
}

void TakeRequests() {
  // Signals are taken by sigwait, never by a handler; the threads inherit the mask.
  const sigset_t signals = Requests();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  // Run in the background of a terminal, a read of it fails instead of stopping us.
  ::signal(SIGTTIN, SIG_IGN);
}

Request WaitForRequest() {
  const sigset_t signals = Requests();
  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    return signal == SIGUSR1 ? Request::kDump : Request::kStop;
  }
}

bool ReadInput(std::string& chunk) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    chunk.assign(buffer, static_cast<std::size_t>(n));
    return true;
  }
}

void RequestStop() {
  ::kill(::getpid(), SIGTERM);
}

long ProcessId() {
  return static_cast<long>(::getpid());
}

bool ProcessRuns(long pid) {
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

const char kRunOnUsage[] = "[--until-stdin-closes | --detach]";

std::optional<int> Detach() {
  int lines[2];
  if (::pipe2(lines, O_CLOEXEC) != 0) {
    std::fprintf(stderr, "module-emulator: cannot create a pipe\n");
    return 1;
  }
  const pid_t served = ::fork();
  if (served < 0) {
    std::fprintf(stderr, "module-emulator: cannot fork\n");
    return 1;
  }
  if (served == 0) {
    ::close(lines[0]);
    ::setsid();
    announce = lines[1];
    detached = true;
    return std::nullopt;
  }
  ::close(lines[1]);
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(lines[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  if (text.size() >= 6 && text.compare(text.size() - 6, 6, "ready\n") == 0) {
    if (WriteAll(STDOUT_FILENO, text + "pid " + std::to_string(served) + "\n")) return 0;
    ::kill(served, SIGTERM);  // nobody would learn which process to stop
    return 1;
  }
  // It ended before it was ready; its messages went to standard error.
  int status = 0;
  while (::waitpid(served, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) && WEXITSTATUS(status) != 0 ? WEXITSTATUS(status) : 1;
}

void Announce(const std::string& lines) {
  std::fflush(stdout);
  WriteAll(announce, lines);
  if (!detached) return;
  // The caller has what it waited for; nothing of its terminal or pipes is kept.
  ::close(announce);
  const int null = ::open("/dev/null", O_RDWR);
  for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
  if (null > 2) ::close(null);
}

}  // namespace emulator
