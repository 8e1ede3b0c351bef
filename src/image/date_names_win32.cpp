#include <windows.h>

#include <iterator>
#include <string>

#include "image/date_text.h"
#include "platform/wide_text.h"

namespace downloader {

namespace {

std::string LocaleText(LCTYPE item) {
  wchar_t text[128];
  const int n =
      ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, item, text, static_cast<int>(std::size(text)));
  // n counts the terminating zero.
  return n > 1 ? Utf8FromWide(std::wstring_view(text, static_cast<std::size_t>(n - 1)))
               : std::string();
}

/// The character that follows the hours in the locale's time format ("HH:mm:ss"), if it
/// is a separator.
std::string TimeSeparatorOf(const std::string& format) {
  const auto hour = format.find_first_of("Hh");
  if (hour == std::string::npos) return ":";
  const auto after = format.find_first_not_of("Hh", hour);
  if (after == std::string::npos || format[after] == ' ' || format[after] == '\'') return ":";
  return std::string(1, format[after]);
}

}  // namespace

DateNames LoadUserDateNames() {
  DateNames names = EnglishDateNames();
  const auto take = [](LCTYPE item, std::string& into) {
    const std::string text = LocaleText(item);
    if (!text.empty()) into = text;
  };
  // The system counts weekdays from Monday (SDAYNAME1) to Sunday (SDAYNAME7).
  take(LOCALE_SDAYNAME7, names.days[0]);
  for (int i = 1; i < 7; ++i)
    take(LOCALE_SDAYNAME1 + i - 1, names.days[static_cast<std::size_t>(i)]);
  for (int i = 0; i < 12; ++i)
    take(LOCALE_SMONTHNAME1 + i, names.months[static_cast<std::size_t>(i)]);
  names.timeSeparator = TimeSeparatorOf(LocaleText(LOCALE_STIMEFORMAT));
  return names;
}

}  // namespace downloader
