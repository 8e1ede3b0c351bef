#include "run/helpers.h"

#include <chrono>
#include <limits>
#include <string>
#include <thread>

namespace downloader {

namespace {

int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9') {
    v = c - '0';
  } else if (base == 16 && c >= 'a' && c <= 'f') {
    v = c - 'a' + 10;
  } else if (base == 16 && c >= 'A' && c <= 'F') {
    v = c - 'A' + 10;
  }
  return v < base ? v : -1;
}

// Folds digits into a 64-bit accumulator that stops growing past the 32-bit range, so no
// input can overflow it.
constexpr int64_t kSaturation = int64_t{1} << 33;

int32_t Finish(int64_t magnitude, int base, bool negative) {
  if (base == 16) {
    if (magnitude > 0xFFFFFFFFLL) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(static_cast<uint32_t>(magnitude));
  }
  if (negative) {
    if (magnitude > int64_t{1} << 31) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(-magnitude);
  }
  if (magnitude > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(magnitude);
}

}  // namespace

Conversion ConvertInteger(std::string_view text) {
  Conversion result;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  if (i >= n) {
    result.errorPos = n == 0 ? 1 : n + 1;
    return result;
  }

  bool negative = false;
  int base = 10;
  if (text[i] == '-' || text[i] == '+') {
    negative = text[i] == '-';
    ++i;
  } else if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
    base = 16;
    ++i;
  } else if (text[i] == '0' && i + 1 < n && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= n) {
    // A text that ends right after a sign or a hexadecimal prefix has no digits.
    result.errorPos = n + 1;
    return result;
  }

  int64_t magnitude = 0;
  for (; i < n; ++i) {
    const int d = DigitValue(text[i], base);
    if (d < 0) {
      result.value = Finish(magnitude, base, false);
      result.errorPos = i + 1;
      return result;
    }
    if (magnitude < kSaturation) magnitude = magnitude * base + d;
  }
  result.value = Finish(magnitude, base, negative);
  result.errorPos = 0;
  return result;
}

int32_t ParseNumber(std::string_view text) {
  std::string work(text);
  Conversion c = ConvertInteger(work);
  while (c.value == 0 && c.errorPos != 0 && c.errorPos < work.size()) {
    work.erase(c.errorPos - 1, 1);
    c = ConvertInteger(work);
  }
  return c.value;
}

uint32_t GetTickCount() {
  using namespace std::chrono;
  const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  return static_cast<uint32_t>(ms);
}

void Delay(uint32_t ms) {
  // The real clock is read at full resolution so the wait is never shorter than asked,
  // which a whole-millisecond tick cannot promise.
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + milliseconds(ms);
  for (;;) {
    const auto now = steady_clock::now();
    if (now >= deadline) return;
    const auto left = deadline - now;
    if (left > milliseconds(1)) {
      std::this_thread::sleep_for(left - milliseconds(1));
    }
  }
}

void Delay(uint32_t ms, const TickSource& ticks) {
  const uint32_t start = ticks();
  while (static_cast<uint32_t>(ticks() - start) < ms) {
  }
}

}  // namespace downloader
