#pragma once

namespace downloader {

/// From now on SIGINT (Ctrl-C), SIGTERM and SIGHUP end the process at once with exit code
/// 128 + the signal's number, after ReleaseEveryPortForExit: no lock file stays behind and
/// no status line is added (a caller sees the channel end without its EOT). Call it first
/// in main, before any thread starts: the threads inherit the signals blocked, and one
/// thread of its own waits for them. Windows: nothing (the system releases a process's
/// ports and locks as it ends).
void EndOnStopSignals();

}  // namespace downloader
