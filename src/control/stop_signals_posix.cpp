#include <signal.h>
#include <unistd.h>

#include <thread>

#include "control/stop_signals.h"
#include "serial/pool.h"

namespace downloader {

void EndOnStopSignals() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  sigaddset(&stop, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);
  // Taken by sigwait, not by a handler: the cleanup runs as ordinary code on this thread,
  // while the scan's workers may still hold their ports.
  std::thread([stop] {
    int signal = 0;
    while (sigwait(&stop, &signal) != 0) {
    }
    ReleaseEveryPortForExit();
    ::_exit(128 + signal);
  }).detach();
}

}  // namespace downloader
