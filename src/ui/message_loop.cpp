#include "ui/message_loop.h"

#include <algorithm>

#include "ui/window_system.h"

namespace downloader {

namespace {

// The longest stretch a timed wait leaves the windows without a step of the loop.
constexpr std::chrono::milliseconds kPumpStep{10};

}  // namespace

void ProcessMessages() {
  RunPostedHandlers();
  Windows().PumpEvents();
}

void WaitAndProcessMessages(std::chrono::milliseconds limit) {
  Windows().WaitForEvents(limit);
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
