#include <algorithm>
#include <future>
#include <memory>
#include <thread>

#include "serial/socket.h"

namespace downloader::net {

int MsLeft(Deadline deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
          .count();
  return left > 0 ? static_cast<int>(std::min<long long>(left, 60000)) : 0;
}

bool RunBefore(Deadline deadline, std::function<void()> work) {
  auto finished = std::make_shared<std::promise<void>>();
  std::future<void> done = finished->get_future();
  std::thread([work = std::move(work), finished] {
    work();
    finished->set_value();
  }).detach();
  return done.wait_until(deadline) == std::future_status::ready;
}

}  // namespace downloader::net
