#include "support/terminal_process.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace downloader::testing {

namespace {

winsize Size(int columns, int rows) {
  return winsize{static_cast<unsigned short>(rows), static_cast<unsigned short>(columns), 0, 0};
}

}  // namespace

TerminalProcess::TerminalProcess(const std::string& program, const std::vector<std::string>& args,
                                 const std::map<std::string, std::string>& env, int columns,
                                 int rows) {
  // Everything the child needs is made before the fork: after it, only exec.
  std::vector<std::string> strings = {program};
  strings.insert(strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  std::vector<std::string> variables;
  for (const auto& [name, value] : env) variables.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  winsize size = Size(columns, rows);
  pid_ = ::forkpty(&master_, nullptr, nullptr, &size);
  if (pid_ == 0) {
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
}

TerminalProcess::~TerminalProcess() {
  if (pid_ > 0 && !ended_) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (master_ >= 0) ::close(master_);
}

void TerminalProcess::Resize(int columns, int rows) {
  winsize size = Size(columns, rows);
  ::ioctl(master_, TIOCSWINSZ, &size);
}

bool TerminalProcess::Type(std::string_view keys) {
  return ::write(master_, keys.data(), keys.size()) == static_cast<ssize_t>(keys.size());
}

bool TerminalProcess::ReadSome(std::chrono::milliseconds wait) {
  pollfd ready{master_, POLLIN, 0};
  if (::poll(&ready, 1, static_cast<int>(wait.count())) <= 0) return true;
  char buffer[4096];
  const ssize_t n = ::read(master_, buffer, sizeof buffer);
  // The terminal's other side closed: every program on it has ended (EIO).
  if (n <= 0) return false;
  output_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

bool TerminalProcess::Shows(std::string_view text, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::size_t at;
  while ((at = output_.find(text, seen_)) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (!ReadSome(std::chrono::milliseconds(100))) {
      if ((at = output_.find(text, seen_)) != std::string::npos) break;
      return false;
    }
  }
  seen_ = at + text.size();
  return true;
}

bool TerminalProcess::Ends(std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!ended_) {
    // The output is read on, so a program writing as it ends is never held by a full
    // terminal.
    ReadSome(std::chrono::milliseconds(50));
    if (::waitpid(pid_, &status_, WNOHANG) == pid_) {
      ended_ = true;
    } else if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
  }
  return true;
}

int TerminalProcess::Wait(std::chrono::milliseconds timeout) {
  if (!Ends(timeout)) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status_, 0);
    ended_ = true;
  }
  // What is still on its way.
  for (pollfd ready{master_, POLLIN, 0}; ::poll(&ready, 1, 0) > 0;) {
    if (!ReadSome(std::chrono::milliseconds(0))) break;
  }
  return WIFEXITED(status_) ? WEXITSTATUS(status_) : -WTERMSIG(status_);
}

}  // namespace downloader::testing
