#include "image/date_text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace downloader {

namespace {

constexpr int64_t kMillisecondsPerDay = 86400000;
// Days from 1899-12-30 to 1970-01-01.
constexpr int64_t kUnixEpochDay = 25569;

/// Civil date of a day count relative to 1970-01-01 (proleptic Gregorian calendar).
void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

/// Day count relative to 1970-01-01 of a civil date.
int64_t DaysFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool IsLeapYear(int year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

std::string TwoDigits(int value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02d", value);
  return text;
}

}  // namespace

std::optional<DateTimeFields> DecodeDateTime(DateValue value) {
  // Far outside the calendar range: refused before any integer conversion can overflow.
  if (!std::isfinite(value) || std::fabs(value) > 1.0e7) return std::nullopt;
  // The date type multiplies in extended precision and rounds to nearest, halves to even
  // (the default rounding mode), so a time a hair below a minute shows that minute.
  const auto total =
      static_cast<int64_t>(std::nearbyint(static_cast<long double>(value) * kMillisecondsPerDay));
  const int64_t days = total / kMillisecondsPerDay;  // truncates toward zero, as the type does
  const int64_t time = (total < 0 ? -total : total) % kMillisecondsPerDay;
  if (days < kFirstDay || days > kLastDay) return std::nullopt;

  DateTimeFields fields;
  CivilFromDays(days - kUnixEpochDay, fields.year, fields.month, fields.day);
  // 1899-12-30 was a Saturday.
  fields.dayOfWeek = static_cast<int>(((days % 7) + 7 + 6) % 7);
  fields.hour = static_cast<int>(time / 3600000);
  fields.minute = static_cast<int>(time / 60000 % 60);
  fields.second = static_cast<int>(time / 1000 % 60);
  fields.millisecond = static_cast<int>(time % 1000);
  return fields;
}

std::optional<DateValue> EncodeDateTime(int year, int month, int day, int hour, int minute,
                                        int second, int millisecond) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, month) || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
      second < 0 || second > 59 || millisecond < 0 || millisecond > 999) {
    return std::nullopt;
  }
  const auto days = static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochDay);
  const double time =
      static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + millisecond) /
      static_cast<double>(kMillisecondsPerDay);
  return days >= 0 ? days + time : days - time;
}

const DateNames& EnglishDateNames() {
  static const DateNames english{
      {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
      {"January", "February", "March", "April", "May", "June", "July", "August", "September",
       "October", "November", "December"},
      ":"};
  return english;
}

const DateNames& UserDateNames() {
  static const DateNames user = LoadUserDateNames();
  return user;
}

std::string DateText(DateValue value, const DateNames& names) {
  const auto fields = DecodeDateTime(value);
  if (!fields) return {};
  char year[8];
  std::snprintf(year, sizeof year, "%04d", fields->year);
  const int hour12 = fields->hour % 12 == 0 ? 12 : fields->hour % 12;
  return names.days[static_cast<std::size_t>(fields->dayOfWeek)] + ", " +
         names.months[static_cast<std::size_t>(fields->month - 1)] + " " +
         std::to_string(fields->day) + ", " + year + ", " + TwoDigits(hour12) +
         names.timeSeparator + TwoDigits(fields->minute) + (fields->hour < 12 ? " am" : " pm");
}

}  // namespace downloader
