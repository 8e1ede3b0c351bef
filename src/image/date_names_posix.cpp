#include <langinfo.h>
#include <locale.h>

#include <string_view>

#include "image/date_text.h"

namespace downloader {

namespace {

/// The character that follows the hour in the locale's time format, if it is a separator.
std::string TimeSeparatorOf(const char* format) {
  if (format == nullptr) return ":";
  const std::string_view f(format);
  for (std::size_t i = 0; i + 1 < f.size(); ++i) {
    if (f[i] != '%') continue;
    std::size_t j = i + 1;
    while (j < f.size() &&
           (f[j] == 'O' || f[j] == 'E' || f[j] == '-' || f[j] == '_' || f[j] == '0')) {
      ++j;
    }
    if (j >= f.size()) break;
    const char directive = f[j];
    if (directive == 'T' || directive == 'R' || directive == 'r') return ":";
    if (directive == 'H' || directive == 'I' || directive == 'k' || directive == 'l') {
      if (j + 1 < f.size() && f[j + 1] != '%' && f[j + 1] != ' ') return std::string(1, f[j + 1]);
      return ":";
    }
    i = j;
  }
  return ":";
}

}  // namespace

DateNames LoadUserDateNames() {
  DateNames names = EnglishDateNames();
  const locale_t locale = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
  if (locale == static_cast<locale_t>(nullptr)) return names;
  const auto take = [&](nl_item item, std::string& into) {
    const char* text = ::nl_langinfo_l(item, locale);
    if (text != nullptr && *text != '\0') into = text;
  };
  for (int i = 0; i < 7; ++i) take(DAY_1 + i, names.days[static_cast<std::size_t>(i)]);
  for (int i = 0; i < 12; ++i) take(MON_1 + i, names.months[static_cast<std::size_t>(i)]);
  names.timeSeparator = TimeSeparatorOf(::nl_langinfo_l(T_FMT, locale));
  ::freelocale(locale);
  return names;
}

}  // namespace downloader
