#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "control/pipe.h"
#include "run/exceptions.h"
#include "run/report.h"
#include "run/run_state.h"
#include "serial/globals.h"

extern char** environ;

namespace downloader {

namespace {

pid_t masterPid = -1;

void CloseQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

// Beside the described 007, standard error says why the system would not start the master.
void SayWhyNotStarted(const std::string& master, int err) {
  std::string line = "downloader: cannot start the master program " + master + ": " +
                     std::generic_category().message(err);
  if (err == EACCES) {
    line += " (it needs the execute bit: chmod +x " + master + ")";
  } else if (err == ENOENT) {
    line += " (the interpreter its #! line names is not there)";
  } else if (err == ENOEXEC) {
    line += " (no program of this system, and no #! line)";
  }
  WriteReason(line);
}

}  // namespace

void StartMasterProgram() {
  // Both pipes are close-on-exec: the master gets only its own two ends, placed on its
  // standard input and output below, so it sees end of file when the loader ends.
  int commands[2] = {-1, -1};  // master's standard output -> loader
  int status[2] = {-1, -1};    // loader -> master's standard input
  if (::pipe2(commands, O_CLOEXEC) != 0 || ::pipe2(status, O_CLOEXEC) != 0) {
    CloseQuietly(commands[0]);
    CloseQuietly(commands[1]);
    throw EPipeCreation("006-Cannot create In-Pipe or Out-Pipe.");
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, status[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, commands[1], STDOUT_FILENO);

  // The loader ignores SIGPIPE and blocks its stop signals (a thread of its own takes
  // them); the master starts with the default disposition and no signal blocked.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  char* const argv[] = {const_cast<char*>(ObjectFileName.c_str()), nullptr};
  pid_t pid = -1;
  const int failed =
      ::posix_spawn(&pid, ObjectFileName.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);

  ::close(commands[1]);
  ::close(status[0]);
  if (failed != 0) {
    ::close(commands[0]);
    ::close(status[1]);
    SayWhyNotStarted(ObjectFileName, failed);
    throw EPipeCreation("007-Cannot create child process.");
  }

  masterPid = pid;
  ReadHandle = commands[0];
  WriteHandle = status[1];
  PipeMode = true;
}

void ReapMasterProgram() {
  if (masterPid > 0 && ::waitpid(masterPid, nullptr, WNOHANG) == masterPid) masterPid = -1;
}

}  // namespace downloader
