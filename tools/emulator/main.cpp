// module-emulator: emulated Korvanetics modules served as RFC 2217 ports on 127.0.0.1.
//
//   module-emulator --module SPEC [--module SPEC ...] [--pace BAUD] [--port-map DIR]
//                   [--dump FILE] [--until-stdin-closes | --detach]
//
// Prints "COM<n> rfc2217://127.0.0.1:<port> type=<t> version=<v>" per module, then "ready"
// (with --detach then "pid <n>", and returns while that process serves on).
// SIGTERM, SIGINT or SIGHUP end it (writing --dump, removing its port map entries);
// SIGUSR1 writes --dump and prints "dumped".
// The dump lists each module's connections ("sessions") with the times they were opened,
// last heard from and closed, in microseconds since the program started.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "module_spec.h"
#include "port_map_entries.h"
#include "server.h"

namespace {

constexpr const char* kUsage =
    "usage: module-emulator --module SPEC [--module SPEC ...] [--pace BAUD]\n"
    "                       [--port-map DIR] [--dump FILE] [--until-stdin-closes | --detach]\n"
    "       module-emulator --help | --version\n"
    "SPEC: comma-separated port=N, type=2..6, version=M.N | reply=BYTE, variant=24|40,\n"
    "      loopback, dsr=on, noecho, badreply, status=CODE@SLOT:PACKET, silent@SLOT:PACKET,\n"
    "      drop@SLOT:PACKET, statusdelay=MS, chatter, com=N\n"
    "      hangup@SLOT:PACKET (at PACKET = the slot's packet count: its closing zero),\n"
    "      chatter=BYTE@SLOT:PACKET (one unasked byte before that packet's echo)\n"
    "      (type 2 gets no slot byte: its transfers on one connection are slots 0, 1, ...)\n";

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

bool Running(long pid) {
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// --detach: the program forks before any thread starts. The caller's process waits for the
// served one's start-up lines on a pipe, passes them on with the served process's ID, and
// ends; an exit code for it, nothing in the served process, which gets `announce` (the
// pipe) for its lines and a session of its own.
std::optional<int> Detach(int& announce) {
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

int Fail(const std::string& message) {
  std::fprintf(stderr, "module-emulator: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// Written whole to a temporary name first, so a reader never sees half a file.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
  const std::string temporary = path + ".tmp" + std::to_string(::getpid());
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) return false;
  }
  return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool WriteDump(const std::string& path,
               const std::vector<std::unique_ptr<emulator::ModuleServer>>& servers) {
  nlohmann::json dump;
  dump["modules"] = nlohmann::json::array();
  for (const auto& server : servers) dump["modules"].push_back(server->Dump());
  return WriteFileAtomically(path, dump.dump(1) + "\n");
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<emulator::ModuleSpec> specs;
  uint32_t byteTimeUs = 0;
  std::string portMap;
  std::string dumpFile;
  bool untilStdinCloses = false;
  bool detach = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string text;
    if (arg == "--module") {
      if (!value(text)) return Fail("--module needs a SPEC");
      emulator::ModuleSpec spec;
      std::string error;
      if (!emulator::ParseModuleSpec(text, spec, error))
        return Fail("--module " + text + ": " + error);
      specs.push_back(spec);
    } else if (arg == "--pace") {
      if (!value(text)) return Fail("--pace needs a baud rate");
      const long baud = std::strtol(text.c_str(), nullptr, 10);
      if (baud < 50 || baud > 4000000) return Fail("--pace " + text + ": not a baud rate");
      // Ten bits a byte: start, eight data bits, stop.
      byteTimeUs = static_cast<uint32_t>(10'000'000 / baud);
    } else if (arg == "--port-map") {
      if (!value(portMap)) return Fail("--port-map needs a folder");
    } else if (arg == "--dump") {
      if (!value(dumpFile)) return Fail("--dump needs a file name");
    } else if (arg == "--help") {
      std::printf("%s", kUsage);
      return 0;
    } else if (arg == "--version") {
      std::printf("module-emulator " DOWNLOADER_VERSION "\n");
      return 0;
    } else if (arg == "--until-stdin-closes") {
      untilStdinCloses = true;
    } else if (arg == "--detach") {
      detach = true;
    } else {
      return Fail("unknown argument " + arg);
    }
  }
  if (specs.empty()) return Fail("no --module given");
  if (detach && untilStdinCloses)
    return Fail("--detach and --until-stdin-closes exclude each other");

  // Signals are taken by sigwait below, never by a handler; the threads inherit the mask.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  int announce = STDOUT_FILENO;
  if (detach) {
    if (const auto callersExit = Detach(announce)) return *callersExit;
  }

  int stopPipe[2];
  if (::pipe2(stopPipe, O_CLOEXEC) != 0) return Fail("cannot create a pipe");

  std::vector<std::unique_ptr<emulator::ModuleServer>> servers;
  const auto epoch = emulator::ModuleServer::Clock::now();
  for (std::size_t i = 0; i < specs.size(); ++i) {
    const int com = specs[i].com != 0 ? specs[i].com : static_cast<int>(i + 1);
    for (const auto& other : servers) {
      if (other->Com() == com) return Fail("COM" + std::to_string(com) + " given twice");
    }
    auto server =
        std::make_unique<emulator::ModuleServer>(specs[i], com, byteTimeUs, stopPipe[0], epoch);
    std::string error;
    if (!server->Listen(error)) {
      std::fprintf(stderr, "module-emulator: cannot listen on %s\n", error.c_str());
      return 1;
    }
    servers.push_back(std::move(server));
  }

  std::vector<std::thread> threads;
  for (auto& server : servers) threads.emplace_back([&s = *server] { s.Run(); });
  const auto stopServers = [&] {
    [[maybe_unused]] const ssize_t n = ::write(stopPipe[1], "x", 1);
    for (auto& t : threads) t.join();
  };

  // The entries appear only now that every module listens and is served, and go first
  // when it ends, so a loader never finds an entry that leads nowhere.
  std::optional<emulator::PortMapEntries> entries;
  if (!portMap.empty()) {
    entries.emplace(portMap, static_cast<long>(::getpid()), Running);
    for (const auto& server : servers) {
      const std::string url = "rfc2217://127.0.0.1:" + std::to_string(server->Port());
      std::string error;
      if (!entries->Write(server->Com(), url, error)) {
        std::fprintf(stderr, "module-emulator: %s\n", error.c_str());
        entries.reset();
        stopServers();
        return 1;
      }
    }
  }

  std::string lines;
  for (const auto& server : servers) {
    lines += "COM" + std::to_string(server->Com()) +
             " rfc2217://127.0.0.1:" + std::to_string(server->Port()) +
             " type=" + std::to_string(server->Spec().type) +
             " version=" + emulator::VersionText(server->Spec()) + "\n";
  }
  WriteAll(announce, lines + "ready\n");
  if (detach) {
    // The caller has what it waited for; nothing of its terminal or pipes is kept.
    ::close(announce);
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd <= 2; ++fd) ::dup2(null, fd);
    if (null > 2) ::close(null);
  }

  if (untilStdinCloses) {
    // A watcher turns end-of-file on standard input into SIGTERM: a test that dies takes
    // its emulator with it.
    std::thread([] {
      char buffer[256];
      while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
      }
      ::kill(::getpid(), SIGTERM);
    }).detach();
  }

  for (;;) {
    int signal = 0;
    if (sigwait(&signals, &signal) != 0) continue;
    if (signal == SIGUSR1) {
      if (!dumpFile.empty() && WriteDump(dumpFile, servers)) std::printf("dumped\n");
      std::fflush(stdout);
      continue;
    }
    break;
  }
  entries.reset();
  stopServers();
  if (!dumpFile.empty() && !WriteDump(dumpFile, servers)) {
    std::fprintf(stderr, "module-emulator: cannot write %s\n", dumpFile.c_str());
    return 1;
  }
  return 0;
}
