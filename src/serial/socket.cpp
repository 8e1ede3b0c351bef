#include <algorithm>

#include "serial/socket.h"

namespace downloader::net {

int MsLeft(Deadline deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
          .count();
  return left > 0 ? static_cast<int>(std::min<long long>(left, 60000)) : 0;
}

}  // namespace downloader::net
