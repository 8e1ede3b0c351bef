#include "serial/open_errors.h"

#include <cerrno>
#include <mutex>

#include "run/report.h"
#include "run/terminal_text.h"
#include "serial/hints.h"
#include "serial/port_lock.h"
#include "serial/serial_device.h"

namespace downloader {

namespace {

std::mutex sinkMutex;
HintSink sink;

std::string Label(const std::string& port, const std::string& comName) {
  return comName.empty() ? port : port + " (" + comName + ")";
}

}  // namespace

void SetHintSink(HintSink newSink) {
  std::lock_guard lock(sinkMutex);
  sink = std::move(newSink);
}

void WriteHint(const std::string& line) {
  // Hints carry names from files and the system (a process's name, a map entry's line).
  const std::string shown = TerminalText(line, false);
  std::lock_guard lock(sinkMutex);
  if (sink) {
    sink(shown);
    return;
  }
  WriteReason(shown);
}

uint32_t OpenErrorCode(int err) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
    case ENOTDIR:
    case ECONNREFUSED:
    case ECONNRESET:
    case EHOSTUNREACH:
    case ENETUNREACH:
    case ETIMEDOUT:
      return kErrorNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
      return kErrorAccessDenied;
    default:
      return err == EWOULDBLOCK ? kErrorAccessDenied : static_cast<uint32_t>(err);
  }
}

std::string PermissionHintText(const std::string& label, const std::string& group,
                               GroupStanding standing) {
  const std::string line = "downloader: no permission to open " + label + "; ";
  switch (standing) {
    case GroupStanding::kNotMember:
      return line + "join its group " + group + ": sudo usermod -aG " + group +
             " $USER, then log in again";
    case GroupStanding::kJoinedLater:
      return line + "you joined its group " + group +
             " after this login session began: log in again (or run: newgrp " + group + ")";
    case GroupStanding::kHasGroup:
      return line + "its group " + group +
             " may not read and write it; ask for read and write access to it";
    case GroupStanding::kNoGroup:
      break;
  }
  return line + "ask for read and write access to it";
}

std::string LockFileHint(const std::string& lockFile, const std::string& port,
                         const std::string& comName) {
  return "downloader: cannot take the lock file " + lockFile + " of " + Label(port, comName) +
         ": it belongs to another user and names no running program; remove it: sudo rm " +
         lockFile;
}

std::string BusyHint(const std::string& port, const std::string& comName, pid_t holder,
                     const std::string& procRoot) {
  std::string line = "downloader: " + Label(port, comName) + " is in use by ";
  if (holder <= 0) return line + "another program";
  const std::string name = ProcessName(holder, procRoot);
  line += "process " + std::to_string(holder);
  if (!name.empty()) line += " (" + name + ")";
  return line + "; end it or wait until it lets go of the port";
}

std::string LockRefusalHint(const PortLock::Refusal& refusal, const std::string& port,
                            const std::string& comName, const std::string& procRoot) {
  const std::string label = Label(port, comName);
  if (!refusal.problem.empty()) {
    return "downloader: cannot take the lock file " + refusal.path + " of " + label + ": " +
           refusal.problem +
           "; it was left as it is: if no program uses the port, remove it: "
           "sudo rm " +
           refusal.path;
  }
  if (refusal.error == EACCES || refusal.error == EPERM) {
    return LockFileHint(refusal.path, port, comName);
  }
  if (refusal.error != EBUSY) return {};
  if (refusal.holderConfirmed || refusal.holder <= 0) {
    return BusyHint(port, comName, refusal.holder, procRoot);
  }
  const std::string name = ProcessName(refusal.holder, procRoot);
  std::string line = "downloader: " + label + " is locked by the lock file " + refusal.path;
  if (!refusal.owner.empty()) line += " of " + refusal.owner;
  line += ", which names process " + std::to_string(refusal.holder);
  if (!name.empty()) line += " (" + name + ")";
  return line +
         "; that process may not use the port at all: if no program uses it, remove the "
         "file: sudo rm " +
         refusal.path;
}

}  // namespace downloader
