#pragma once

#include <chrono>
#include <functional>

namespace downloader {

/// Records the calling thread as the main thread (the driver calls it first thing).
void MarkMainThread();
bool IsMainThread();

/// Queues a handler to run on the main thread at its next message-loop step. Any thread.
void PostToMainThread(std::function<void()> handler);

/// Runs every handler posted so far, in the order posted, and those they post meanwhile.
/// Main thread only (each step of the message loop calls it).
void RunPostedHandlers();

/// Waits up to `limit` for a handler to be posted; returns at once when one is waiting.
/// Runs nothing. Main thread only.
void WaitForPostedHandler(std::chrono::milliseconds limit);

}  // namespace downloader
