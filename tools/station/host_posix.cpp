// The station's processes, signals and files on POSIX systems.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string_view>
#include <vector>

#include "host.h"
#include "platform/safe_files.h"

extern char** environ;

namespace downloader::station {

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
// A loader run unattended must never open a window: one would wait for someone to close it.
const std::string_view kDisplayVariables[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};

// Signals reach the event loop as bytes on this pipe, so a wait in poll() sees them.
int signalPipe[2] = {-1, -1};

extern "C" void OnSignal(int signal) {
  const int saved = errno;
  const char byte = static_cast<char>(signal);
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
  errno = saved;
}

// The station's environment without the display variables.
std::vector<char*> LoaderEnvironment() {
  std::vector<char*> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    if (std::find(std::begin(kDisplayVariables), std::end(kDisplayVariables), name) ==
        std::end(kDisplayVariables)) {
      env.push_back(*entry);
    }
  }
  env.push_back(nullptr);
  return env;
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

std::string HowEnded(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    const char* name = ::strsignal(signal);
    return "signal " + std::to_string(signal) + (name ? std::string(", ") + name : "");
  }
  return "status " + std::to_string(status);
}

class PosixHost final : public Host {
 public:
  PosixHost() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) signalPipe[0] = signalPipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int s : kStopSignals) ::sigaction(s, &action, nullptr);
    // A terminal's new size: the table is drawn again to fit it.
    ::sigaction(SIGWINCH, &action, nullptr);
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    ::sigaction(SIGCHLD, &action, nullptr);
    // Output to a reader that has gone is a failed write, not the end of the station.
    ::signal(SIGPIPE, SIG_IGN);
    // Run in the background of a terminal, the station reads no line instead of stopping.
    ::signal(SIGTTIN, SIG_IGN);
  }

  ~PosixHost() override {
    for (auto& [id, child] : children_) {
      if (child.exited) continue;
      ::kill(child.pid, SIGKILL);
      ::waitpid(child.pid, nullptr, 0);
      CloseFds(child);
    }
    if (!privateFolder_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(privateFolder_, ec);
    }
  }

  int Start(const std::string& program, const std::vector<std::string>& args,
            std::string& error) override {
    int out[2];
    int err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
      error = ErrorText(errno);
      return -1;
    }
    if (::pipe2(err, O_CLOEXEC) != 0) {
      error = ErrorText(errno);
      ::close(out[0]);
      ::close(out[1]);
      return -1;
    }
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group: Ctrl-C on the terminal reaches the station alone, which then
    // stops every loader itself. Default signal handling and an empty mask, whatever the
    // station set for itself.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGTTIN);
    for (const int s : kStopSignals) sigaddset(&defaults, s);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(
        &attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = -1;
    const bool search = program.find('/') == std::string::npos;
    std::vector<char*> env = LoaderEnvironment();
    const int rc =
        search
            ? ::posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), env.data())
            : ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(out[1]);
    ::close(err[1]);
    if (rc != 0) {
      ::close(out[0]);
      ::close(err[0]);
      error = ErrorText(rc);
      return -1;
    }
    ::fcntl(out[0], F_SETFL, O_NONBLOCK);
    ::fcntl(err[0], F_SETFL, O_NONBLOCK);
    const int id = nextId_++;
    children_[id] = Child{pid, out[0], err[0], false, 0};
    return id;
  }

  void Stop(int id) override { Send(id, SIGTERM); }
  void Kill(int id) override { Send(id, SIGKILL); }

  std::vector<HostEvent> Wait(Clock::time_point deadline, bool watchOperator) override {
    std::vector<HostEvent> events;
    if (watchOperator && TakeOperatorEvent(events)) return events;
    for (;;) {
      std::vector<pollfd> fds;
      fds.push_back({signalPipe[0], POLLIN, 0});
      const bool readStdin = watchOperator && !stdinEnded_;
      if (readStdin) fds.push_back({STDIN_FILENO, POLLIN, 0});
      for (const auto& [id, child] : children_) {
        if (child.out >= 0) fds.push_back({child.out, POLLIN, 0});
        if (child.err >= 0) fds.push_back({child.err, POLLIN, 0});
      }
      int timeout = -1;
      if (deadline != Clock::time_point::max()) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
      }
      const int ready = ::poll(fds.data(), fds.size(), timeout);
      if (ready < 0 && errno != EINTR) break;
      if (ready > 0) {
        if (fds[0].revents != 0) ReadSignals(events);
        if (readStdin && fds[1].revents != 0) {
          ReadStdin();
          TakeOperatorEvent(events);
        }
        for (auto& [id, child] : children_) {
          for (const pollfd& p : fds) {
            if (p.revents == 0) continue;
            if (p.fd == child.out) Drain(id, child.out, HostEvent::Kind::kOutput, events);
            if (p.fd == child.err) Drain(id, child.err, HostEvent::Kind::kDiagnostic, events);
          }
        }
      }
      ReportEnded(events);
      if (!events.empty() || (timeout >= 0 && Clock::now() >= deadline)) break;
    }
    return events;
  }

  Clock::time_point Now() override { return Clock::now(); }

  // Read by the line's other programs, which may run as other users: readable to all.
  bool WriteFileAtomically(const std::string& path, std::string_view bytes,
                           std::string& error) override {
    return ReplaceFileSafely(path, bytes, 0644, error);
  }

  bool CanCreate(const std::string& path, std::string& error) override {
    return CanReplaceFileSafely(path, error);
  }

  // The unit log: opened as any file the station writes into a folder others may share
  // (OpenForAppending), each line in one write and on the disk before the call returns.
  bool AppendLine(const std::string& path, std::string_view line, std::string& error) override {
    std::FILE* file = OpenForAppending(path, 0644, error);
    if (file == nullptr) return false;
    std::string bytes(line);
    bytes += '\n';
    const int fd = ::fileno(file);
    // One write: with O_APPEND the line lands whole at the end, after any other writer's.
    ssize_t n;
    do {
      n = ::write(fd, bytes.data(), bytes.size());
    } while (n < 0 && errno == EINTR);
    bool ok = false;
    if (n < 0) {
      error = ErrorText(errno);
    } else if (n != static_cast<ssize_t>(bytes.size())) {
      error = "the line was cut short (is the disk full?)";
    } else if (::fdatasync(fd) != 0) {
      error = ErrorText(errno);
    } else {
      ok = true;
    }
    std::fclose(file);
    return ok;
  }

  bool DropHalfLine(const std::string& path, std::size_t& dropped, std::string& error) override {
    dropped = 0;
    if (::access(path.c_str(), F_OK) != 0 && errno == ENOENT) return true;
    std::FILE* file = OpenForAppending(path, 0644, error);
    if (file == nullptr) return false;
    const int fd = ::fileno(file);
    // The tail is read through a second descriptor, only when it is the file just checked.
    const int reader = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    struct stat seen {};
    bool ok = reader >= 0 && ::fstat(fd, &st) == 0 && ::fstat(reader, &seen) == 0 &&
              st.st_dev == seen.st_dev && st.st_ino == seen.st_ino;
    if (!ok) error = reader < 0 ? ErrorText(errno) : "it changed while it was opened";
    off_t end = ok ? st.st_size : 0;
    off_t keep = 0;
    // Back from the end, a block at a time, to the last line end.
    char block[4096];
    while (ok && end > 0) {
      const off_t from =
          end > static_cast<off_t>(sizeof block) ? end - static_cast<off_t>(sizeof block) : 0;
      const ssize_t n = ::pread(reader, block, static_cast<std::size_t>(end - from), from);
      if (n != end - from) {
        ok = false;
        error = n < 0 ? ErrorText(errno) : "it changed while it was read";
        break;
      }
      const std::string_view text(block, static_cast<std::size_t>(n));
      if (const auto newline = text.find_last_of('\n'); newline != std::string_view::npos) {
        keep = from + static_cast<off_t>(newline) + 1;
        break;
      }
      end = from;
    }
    if (ok && keep < st.st_size) {
      ok = ::ftruncate(fd, keep) == 0 && ::fsync(fd) == 0;
      if (ok) dropped = static_cast<std::size_t>(st.st_size - keep);
      if (!ok) error = ErrorText(errno);
    }
    if (reader >= 0) ::close(reader);
    std::fclose(file);
    return ok;
  }

  std::string HostName() override {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "";
    return name;
  }

  std::string DefaultLoader() override {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
      const auto beside = self.parent_path() / "downloader";
      if (::access(beside.c_str(), X_OK) == 0) return beside.string();
    }
    return "downloader";
  }

  bool PrivateCopy(std::string_view bytes, const std::string& name, std::string& path,
                   std::string& error) override {
    if (privateFolder_.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      std::string pattern =
          std::string(tmp != nullptr && *tmp == '/' ? tmp : "/tmp") + "/downloader-station.XXXXXX";
      // A new folder of mode 0700: no one else can put or replace a file in it.
      if (::mkdtemp(pattern.data()) == nullptr) {
        error = ErrorText(errno);
        return false;
      }
      privateFolder_ = pattern;
    }
    path = privateFolder_ + "/" + name;
    return ReplaceFileSafely(path, bytes, 0600, error, FolderRule::kOwnOnly);
  }

 private:
  struct Child {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    bool exited = false;
    int status = 0;
    bool reported = false;
  };

  void Send(int id, int signal) {
    const auto it = children_.find(id);
    // A child that has exited stays a zombie until reaped, so its pid is still its own.
    if (it != children_.end() && !it->second.exited) ::kill(it->second.pid, signal);
  }

  static void CloseFds(Child& child) {
    if (child.out >= 0) ::close(child.out);
    if (child.err >= 0) ::close(child.err);
    child.out = child.err = -1;
  }

  void ReadSignals(std::vector<HostEvent>& events) {
    char bytes[64];
    ssize_t n;
    while ((n = ::read(signalPipe[0], bytes, sizeof bytes)) > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        const int signal = bytes[i];
        if (signal == SIGCHLD) {
          Reap();
          continue;
        }
        HostEvent event;
        if (signal == SIGWINCH) {
          event.kind = HostEvent::Kind::kResized;
          events.push_back(std::move(event));
          continue;
        }
        event.kind = HostEvent::Kind::kInterrupt;
        event.signal = signal;
        event.how = signal == SIGINT ? "Ctrl-C" : "signal " + std::to_string(signal);
        events.push_back(std::move(event));
      }
    }
  }

  void Reap() {
    for (auto& [id, child] : children_) {
      if (child.exited) continue;
      int status = 0;
      if (::waitpid(child.pid, &status, WNOHANG) == child.pid) {
        child.exited = true;
        child.status = status;
      }
    }
  }

  // Reads what a pipe holds now; closes it at its end. `toEnd`: the child has exited, so
  // what the pipe holds now is all it wrote (a pipe kept open by anything it left behind
  // is closed all the same).
  void Drain(int id, int& fd, HostEvent::Kind kind, std::vector<HostEvent>& events,
             bool toEnd = false) {
    std::string bytes;
    char buffer[kReadChunk];
    for (;;) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (!toEnd && bytes.size() >= kReadChunk) break;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (toEnd || n == 0 || errno != EAGAIN) {
        ::close(fd);
        fd = -1;
      }
      break;
    }
    if (bytes.empty()) return;
    HostEvent event;
    event.kind = kind;
    event.id = id;
    event.bytes = std::move(bytes);
    events.push_back(std::move(event));
  }

  // A child that has exited ends once its pipes hold nothing more: everything it wrote
  // comes before its end.
  void ReportEnded(std::vector<HostEvent>& events) {
    for (auto& [id, child] : children_) {
      if (!child.exited || child.reported) continue;
      if (child.out >= 0) Drain(id, child.out, HostEvent::Kind::kOutput, events, true);
      if (child.err >= 0) Drain(id, child.err, HostEvent::Kind::kDiagnostic, events, true);
      child.reported = true;
      HostEvent event;
      event.kind = HostEvent::Kind::kEnded;
      event.id = id;
      event.how = HowEnded(child.status);
      events.push_back(std::move(event));
    }
  }

  void ReadStdin() {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n > 0) {
      stdinPending_.append(buffer, static_cast<std::size_t>(n));
    } else {
      stdinEnded_ = true;
    }
  }

  // One operator event at most per wait: lines typed ahead wait for the next round.
  bool TakeOperatorEvent(std::vector<HostEvent>& events) {
    if (endReported_) return false;
    HostEvent event;
    const std::size_t newline = stdinPending_.find('\n');
    if (newline != std::string::npos || (stdinEnded_ && !stdinPending_.empty())) {
      event.kind = HostEvent::Kind::kOperatorLine;
      event.bytes = stdinPending_.substr(0, newline);
      stdinPending_.erase(0, newline == std::string::npos ? newline : newline + 1);
      if (!event.bytes.empty() && event.bytes.back() == '\r') event.bytes.pop_back();
    } else if (stdinEnded_) {
      event.kind = HostEvent::Kind::kOperatorEnd;
      endReported_ = true;
    } else {
      return false;
    }
    events.push_back(std::move(event));
    return true;
  }

  std::map<int, Child> children_;
  int nextId_ = 0;
  std::string privateFolder_;  // PrivateCopy's, made at its first use
  bool stdinEnded_ = false;
  bool endReported_ = false;
  std::string stdinPending_;
};

}  // namespace

std::unique_ptr<Host> MakeSystemHost() {
  return std::make_unique<PosixHost>();
}

std::vector<std::string> StationArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

}  // namespace downloader::station
