#include "image/date_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace downloader {
namespace {

std::string English(double value) {
  return DateText(value, EnglishDateNames());
}

constexpr double kMillisecond = 1.0 / 86400000;

TEST(DateText, CalendarAndClock) {
  EXPECT_EQ(English(36526.75), "Saturday, January 1, 2000, 06:00 pm");
  EXPECT_EQ(English(0), "Saturday, December 30, 1899, 12:00 am");
  EXPECT_EQ(English(0.5), "Saturday, December 30, 1899, 12:00 pm");
  EXPECT_EQ(English(0.5 + 1.0 / 24), "Saturday, December 30, 1899, 01:00 pm");
  EXPECT_EQ(English(1.0 / 24 + 5.0 / 1440), "Saturday, December 30, 1899, 01:05 am");
  EXPECT_EQ(English(45351.99), "Thursday, February 29, 2024, 11:45 pm");
  EXPECT_EQ(English(2.0), "Monday, January 1, 1900, 12:00 am");
}

TEST(DateText, NegativeValuesCountDaysBackAndKeepTheTime) {
  // The integer part is the day before 1899-12-30, the fraction's magnitude the time.
  EXPECT_EQ(English(-1.25), "Friday, December 29, 1899, 06:00 am");
  EXPECT_EQ(English(-1.75), "Friday, December 29, 1899, 06:00 pm");
  EXPECT_EQ(English(-0.25), "Saturday, December 30, 1899, 06:00 am");
  EXPECT_EQ(English(-1), "Friday, December 29, 1899, 12:00 am");
  EXPECT_EQ(English(-36522), "Wednesday, January 1, 1800, 12:00 am");
  EXPECT_EQ(English(-1.0 - 23.0 / 24 - 59.0 / 1440), "Friday, December 29, 1899, 11:59 pm");
}

TEST(DateText, RoundsToTheMillisecondBeforeCuttingMinutes) {
  // Less than half a millisecond short of 18:00 is 18:00; more is still 17:59.
  EXPECT_EQ(English(36526.75 - 0.4 * kMillisecond), "Saturday, January 1, 2000, 06:00 pm");
  EXPECT_EQ(English(36526.75 - 0.6 * kMillisecond), "Saturday, January 1, 2000, 05:59 pm");
  EXPECT_EQ(English(36526.75 - 30000 * kMillisecond), "Saturday, January 1, 2000, 05:59 pm");
  // The last moment of a day rounds into the next one.
  EXPECT_EQ(English(36526.0 - 0.1 * kMillisecond), "Saturday, January 1, 2000, 12:00 am");
  // Before 1899-12-30 the value is rounded as a number, so the last moment of
  // 1899-12-29 (-1.99999...) becomes -2.0, the start of 1899-12-28, as the date type has it.
  EXPECT_EQ(English(-2.0 + 0.1 * kMillisecond), "Thursday, December 28, 1899, 12:00 am");
  EXPECT_EQ(English(-2.0 + 0.6 * kMillisecond), "Friday, December 29, 1899, 11:59 pm");
  // Exact halves go to the even millisecond.
  EXPECT_EQ(DecodeDateTime(1.0 / 2048)->millisecond, 188);  // 42187.5 ms
  EXPECT_EQ(DecodeDateTime(3.0 / 2048)->millisecond, 562);  // 126562.5 ms
}

TEST(DateText, EdgesOfTheCalendarAndValuesWithoutADate) {
  EXPECT_EQ(English(kFirstDay), "Monday, January 1, 0001, 12:00 am");
  EXPECT_EQ(English(kFirstDay - 0.5), "Monday, January 1, 0001, 12:00 pm");
  EXPECT_EQ(English(kLastDay + 0.9999), "Friday, December 31, 9999, 11:59 pm");
  for (double value :
       {double(kFirstDay - 1), kLastDay + 1.0, kLastDay + 1 - 0.1 * kMillisecond, 1e7, -1e7, 1e300,
        -1e300, std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest(),
        std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    EXPECT_EQ(English(value), "") << value;
  }
  EXPECT_EQ(English(std::numeric_limits<double>::denorm_min()),
            "Saturday, December 30, 1899, 12:00 am");
}

TEST(DateText, AnyBitPatternGivesATextOrNothing) {
  std::mt19937_64 random(20240229);
  for (int i = 0; i < 200000; ++i) {
    const double value = std::bit_cast<double>(random());
    const std::string text = English(value);
    const bool inRange = std::isfinite(value) && value > kFirstDay - 1 && value < kLastDay + 1;
    if (!inRange) {
      ASSERT_EQ(text, "") << value;
    } else if (!text.empty()) {
      ASSERT_TRUE(text.ends_with(" am") || text.ends_with(" pm")) << text;
    }
  }
}

TEST(DateText, UsesTheNamesAndSeparatorItIsGiven) {
  DateNames german = EnglishDateNames();
  german.days[6] = "Samstag";
  german.months[0] = "Januar";
  german.timeSeparator = ".";
  EXPECT_EQ(DateText(36526.75, german), "Samstag, Januar 1, 2000, 06.00 pm");
}

TEST(EncodeDateTime, RoundTripsThroughDecode) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> year(1, 9999), month(1, 12), day(1, 28), hour(0, 23),
      minute(0, 59), second(0, 59), ms(0, 999);
  for (int i = 0; i < 20000; ++i) {
    const int y = year(random), mo = month(random), d = day(random), h = hour(random),
              mi = minute(random), s = second(random), m = ms(random);
    const auto value = EncodeDateTime(y, mo, d, h, mi, s, m);
    ASSERT_TRUE(value);
    const auto f = DecodeDateTime(*value);
    ASSERT_TRUE(f);
    ASSERT_EQ(std::tie(f->year, f->month, f->day, f->hour, f->minute, f->second, f->millisecond),
              std::tie(y, mo, d, h, mi, s, m))
        << *value;
  }
}

TEST(EncodeDateTime, KnownValuesAndImpossibleDates) {
  EXPECT_EQ(EncodeDateTime(2000, 1, 1, 18, 0, 0, 0), 36526.75);
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
  EXPECT_EQ(EncodeDateTime(1, 1, 1, 0, 0, 0, 0), double(kFirstDay));
  EXPECT_TRUE(EncodeDateTime(2000, 2, 29, 0, 0, 0, 0));
  EXPECT_FALSE(EncodeDateTime(1900, 2, 29, 0, 0, 0, 0));
  EXPECT_FALSE(EncodeDateTime(2023, 4, 31, 0, 0, 0, 0));
  EXPECT_FALSE(EncodeDateTime(0, 12, 31, 0, 0, 0, 0));
  EXPECT_FALSE(EncodeDateTime(10000, 1, 1, 0, 0, 0, 0));
  EXPECT_FALSE(EncodeDateTime(2000, 1, 1, 24, 0, 0, 0));
}

}  // namespace
}  // namespace downloader
