#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace downloader {

/// Tolerant text-to-integer conversion: junk in front of a number is deleted one character
/// at a time, junk behind it ends the number. "COM12" gives 12, "v1.2" gives 1, "$1F" 31,
/// "None" 0. Values beyond 32 bits saturate at the 32-bit limits (hexadecimal values up to
/// 0xFFFFFFFF are taken as their 32-bit two's-complement pattern).
int32_t ParseNumber(std::string_view text);

/// One pass of the integer conversion under ParseNumber. `errorPos` is 0 when the whole
/// text converted, else the 1-based position of the first character that did not.
struct Conversion {
  int32_t value = 0;
  std::size_t errorPos = 0;
};
Conversion ConvertInteger(std::string_view text);

/// The smaller of the two (signed comparison).
constexpr int32_t Min(int32_t a, int32_t b) {
  return a > b ? b : a;
}

/// Milliseconds from a monotonic clock, wrapping at 2^32.
uint32_t GetTickCount();

/// A millisecond tick source; tests inject one to run Delay across the 32-bit wrap.
using TickSource = std::function<uint32_t()>;

/// Waits at least `ms` milliseconds and returns promptly after. Elapsed time is
/// computed modulo 2^32, so a wait across the tick counter's wrap is as long as any other.
/// Sleeps until about a millisecond before the deadline and spins for the rest, so four
/// waiting threads do not starve a small machine. Any thread may call it.
void Delay(uint32_t ms);

/// Delay on an injected tick source: a pure spin on that source, no sleeping.
/// Delay(0) returns after one further reading.
void Delay(uint32_t ms, const TickSource& ticks);

}  // namespace downloader
