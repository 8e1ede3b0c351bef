#pragma once

#include <chrono>

#include "run/main_thread.h"

namespace downloader {

/// One step of the message loop: runs every handler posted so far, then the toolkit's own
/// pending events. Main thread only.
void ProcessMessages();

/// Like ProcessMessages, but first waits up to `limit` for a handler to be posted (or, with
/// windows that can wake it, for one of their events), so a main thread that waits for
/// workers does not spin a processor.
void WaitAndProcessMessages(std::chrono::milliseconds limit);

/// Keeps the message loop running for `duration`, at least: a wait of the main thread that
/// leaves the windows responsive and runs the handlers posted meanwhile.
void ProcessMessagesFor(std::chrono::milliseconds duration);

}  // namespace downloader
