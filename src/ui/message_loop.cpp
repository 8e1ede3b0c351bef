#include "ui/message_loop.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "ui/window_system.h"

namespace downloader {

namespace {

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

}  // namespace downloader
