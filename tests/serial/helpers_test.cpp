#include "run/helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>

namespace downloader {
namespace {

TEST(ParseNumber, DescribedTable) {
  EXPECT_EQ(ParseNumber("9600"), 9600);
  EXPECT_EQ(ParseNumber("8"), 8);
  EXPECT_EQ(ParseNumber("COM12"), 12);
  EXPECT_EQ(ParseNumber("024-EEPROM verify failure."), 24);
  EXPECT_EQ(ParseNumber("111-PORT=COM1 DEVICE=none"), 111);
  EXPECT_EQ(ParseNumber("None"), 0);
  EXPECT_EQ(ParseNumber("abc"), 0);
  EXPECT_EQ(ParseNumber(""), 0);
  EXPECT_EQ(ParseNumber("-5"), -5);
  EXPECT_EQ(ParseNumber("v1.2"), 1);
  EXPECT_EQ(ParseNumber("$1F"), 31);
}

TEST(ParseNumber, EdgeCases) {
  EXPECT_EQ(ParseNumber("COM"), 0);
  EXPECT_EQ(ParseNumber("12a"), 12);
  EXPECT_EQ(ParseNumber("a5"), 5);
  EXPECT_EQ(ParseNumber("X5"), 5);
  EXPECT_EQ(ParseNumber("x1f"), 31);
  EXPECT_EQ(ParseNumber("0x1F"), 31);
  EXPECT_EQ(ParseNumber("0X10"), 16);
  EXPECT_EQ(ParseNumber("  42"), 42);
  EXPECT_EQ(ParseNumber("+7"), 7);
  EXPECT_EQ(ParseNumber("03"), 3);
  EXPECT_EQ(ParseNumber("-"), 0);
  EXPECT_EQ(ParseNumber("$"), 0);
  EXPECT_EQ(ParseNumber("0x"), 0);
  EXPECT_EQ(ParseNumber("-$5"), -5);  // after a sign only decimal digits; the "$" is deleted
  EXPECT_EQ(ParseNumber("13"), 13);   // the version number of "v1.3"
  EXPECT_EQ(ParseNumber("100-x"), 100);
  EXPECT_EQ(ParseNumber("101-x"), 101);
}

TEST(ParseNumber, ConversionReportsErrorPositions) {
  EXPECT_EQ(ConvertInteger("").errorPos, 1u);
  EXPECT_EQ(ConvertInteger("12").errorPos, 0u);
  const Conversion c = ConvertInteger("12a");
  EXPECT_EQ(c.value, 12);
  EXPECT_EQ(c.errorPos, 3u);
  const Conversion negativeStopped = ConvertInteger("-12a");
  EXPECT_EQ(negativeStopped.value, 12);  // without the sign when the conversion stops early
  EXPECT_EQ(negativeStopped.errorPos, 4u);
}

TEST(ParseNumber, BeyondThirtyTwoBitsSaturates) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  EXPECT_EQ(ParseNumber("2147483647"), kMax);
  EXPECT_EQ(ParseNumber("2147483648"), kMax);
  EXPECT_EQ(ParseNumber("99999999999999999999999999999999"), kMax);
  EXPECT_EQ(ParseNumber("-2147483648"), kMin);
  EXPECT_EQ(ParseNumber("-99999999999999999999999"), kMin);
  EXPECT_EQ(ParseNumber("COM99999999999"), kMax);
  EXPECT_EQ(ParseNumber("$FFFFFFFF"), -1);  // a 32-bit pattern
  EXPECT_EQ(ParseNumber("$1FFFFFFFF"), kMax);
}

TEST(Min, Signed) {
  EXPECT_EQ(Min(4097, 4096), 4096);
  EXPECT_EQ(Min(-1, 0), -1);
  EXPECT_EQ(Min(3, 3), 3);
}

// A tick source that advances one millisecond per reading, starting wherever a test wants.
struct SteppingTicks {
  uint32_t now;
  int readings = 0;
  uint32_t operator()() {
    ++readings;
    return now++;
  }
};

TEST(Delay, WaitsAcrossTheTickWrap) {
  SteppingTicks ticks{0xFFFFFFF0u};
  Delay(50, std::ref(ticks));
  // First reading is the start; the wait ends at the first reading 50 ticks later.
  EXPECT_EQ(ticks.readings, 51);
  EXPECT_EQ(ticks.now, 0xFFFFFFF0u + 51u);  // wrapped past zero
}

TEST(Delay, SameLengthAtAnyTickValue) {
  for (uint32_t start : {0u, 12345u, 0xFFFFFFFFu, 0xFFFFFFCEu}) {
    SteppingTicks ticks{start};
    Delay(50, std::ref(ticks));
    EXPECT_EQ(ticks.readings, 51) << start;
  }
}

TEST(Delay, ZeroReturnsAfterOneFurtherReading) {
  SteppingTicks ticks{7};
  Delay(0, std::ref(ticks));
  EXPECT_EQ(ticks.readings, 2);
}

TEST(Delay, RealClockWaitsAtLeastTheTimeAsked) {
  using namespace std::chrono;
  for (uint32_t ms : {0u, 1u, 2u, 10u}) {
    const auto start = steady_clock::now();
    Delay(ms);
    EXPECT_GE(steady_clock::now() - start, milliseconds(ms));
  }
}

}  // namespace
}  // namespace downloader
