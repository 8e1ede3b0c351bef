#include "control/stop_signals.h"

namespace downloader {

void EndOnStopSignals() {
  // Ctrl-C ends the process; the system closes its ports and drops its lock mutexes.
}

}  // namespace downloader
