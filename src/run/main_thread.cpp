#include "run/main_thread.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "ui/window_system.h"

namespace downloader {

namespace {

// The longest stretch a timed wait leaves the windows without a step of the loop.
constexpr std::chrono::milliseconds kPumpStep{10};

std::thread::id mainThread = std::this_thread::get_id();
std::mutex queueMutex;
std::condition_variable queueChanged;
std::deque<std::function<void()>> queue;

void RunPosted() {
  for (;;) {
    std::function<void()> handler;
    {
      std::lock_guard lock(queueMutex);
      if (queue.empty()) return;
      handler = std::move(queue.front());
      queue.pop_front();
    }
    handler();
  }
}

}  // namespace

void MarkMainThread() {
  mainThread = std::this_thread::get_id();
}

bool IsMainThread() {
  return std::this_thread::get_id() == mainThread;
}

void PostToMainThread(std::function<void()> handler) {
  {
    std::lock_guard lock(queueMutex);
    queue.push_back(std::move(handler));
  }
  queueChanged.notify_all();
}

void ProcessMessages() {
  RunPosted();
  Windows().PumpEvents();
}

void WaitAndProcessMessages(std::chrono::milliseconds limit) {
  {
    std::unique_lock lock(queueMutex);
    queueChanged.wait_for(lock, limit, [] { return !queue.empty(); });
  }
  ProcessMessages();
}

void ProcessMessagesFor(std::chrono::milliseconds duration) {
  using std::chrono::steady_clock;
  const auto deadline = steady_clock::now() + duration;
  for (auto now = steady_clock::now(); now < deadline; now = steady_clock::now()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    WaitAndProcessMessages(std::min(left, kPumpStep));
  }
}

}  // namespace downloader
