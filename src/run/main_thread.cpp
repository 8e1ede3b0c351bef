#include "run/main_thread.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace downloader {

namespace {

std::thread::id mainThread = std::this_thread::get_id();
std::mutex queueMutex;
std::condition_variable queueChanged;
std::deque<std::function<void()>> queue;
std::atomic<PostedHandlerWaker> waker{nullptr};

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
  if (const PostedHandlerWaker wake = waker.load()) wake();
}

void SetPostedHandlerWaker(PostedHandlerWaker wake) {
  waker.store(wake);
}

void RunPostedHandlers() {
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

bool WaitForPostedHandler(std::chrono::milliseconds limit) {
  std::unique_lock lock(queueMutex);
  return queueChanged.wait_for(lock, limit, [] { return !queue.empty(); });
}

}  // namespace downloader
