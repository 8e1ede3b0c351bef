#pragma once

#include <array>
#include <optional>
#include <string>

namespace downloader {

/// A date value: days since 1899-12-30 00:00. The integer part counts days (negative
/// before that day), the absolute value of the fraction is the time of day, so -1.25 is
/// 1899-12-29 06:00.
using DateValue = double;

/// The calendar fields of a date value.
struct DateTimeFields {
  int year = 0;       ///< 1..9999
  int month = 0;      ///< 1..12
  int day = 0;        ///< 1..31
  int dayOfWeek = 0;  ///< 0 Sunday .. 6 Saturday
  int hour = 0;       ///< 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

/// Earliest and latest day a date value can stand for: 0001-01-01 and 9999-12-31.
inline constexpr long kFirstDay = -693593;
inline constexpr long kLastDay = 2958465;

/// Decodes a date value the way the date type does: the value is rounded to the nearest
/// millisecond (halves to even), then split into day and time of day. Nothing for NaN,
/// infinities and values outside 0001-01-01 .. 9999-12-31 23:59:59.999.
std::optional<DateTimeFields> DecodeDateTime(DateValue value);

/// The date value of a calendar date and time (negative before 1899-12-30, with the time
/// subtracted); nothing when a field is out of range or the date does not exist.
std::optional<DateValue> EncodeDateTime(int year, int month, int day, int hour, int minute,
                                        int second, int millisecond);

/// Weekday and month names and the time separator that a date text uses.
struct DateNames {
  std::array<std::string, 7> days;     ///< Sunday first
  std::array<std::string, 12> months;  ///< January first
  std::string timeSeparator;
};

/// English names and ":".
const DateNames& EnglishDateNames();

/// The names of the user's time locale (LC_ALL, LC_TIME, LANG; on Windows the user's
/// locale), read once on first use; English where the locale is unknown or gives no name.
const DateNames& UserDateNames();

/// Reads the names of the user's time locale from the system, as UserDateNames keeps them.
DateNames LoadUserDateNames();

/// The compile date as users see it, "dddd, mmmm d, yyyy, hh:mm am/pm": full weekday and
/// month names, day without leading zero, four-digit year, two-digit hour on the 12-hour
/// clock (12 for hours 0 and 12), two-digit minutes, "am" or "pm" in lower case. 36526.75
/// gives "Saturday, January 1, 2000, 06:00 pm". Empty for values DecodeDateTime refuses.
std::string DateText(DateValue value, const DateNames& names = UserDateNames());

}  // namespace downloader
