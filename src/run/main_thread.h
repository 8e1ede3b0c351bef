#pragma once

#include <chrono>
#include <functional>

namespace downloader {

/// Records the calling thread as the main thread (the driver calls it first thing).
void MarkMainThread();
bool IsMainThread();

/// Queues a handler to run on the main thread at its next message-loop step. Any thread.
void PostToMainThread(std::function<void()> handler);

/// Called on the posting thread after every PostToMainThread, so that a window system that
/// waits on its own events as well (Win32) wakes for the handler at once. nullptr: none.
using PostedHandlerWaker = void (*)();
void SetPostedHandlerWaker(PostedHandlerWaker waker);

/// Runs every handler posted so far, in the order posted, and those they post meanwhile.
/// Main thread only (each step of the message loop calls it).
void RunPostedHandlers();

/// Waits up to `limit` for a handler to be posted; returns at once when one is waiting.
/// Whether one is waiting. Runs nothing. Main thread only.
bool WaitForPostedHandler(std::chrono::milliseconds limit);

}  // namespace downloader
