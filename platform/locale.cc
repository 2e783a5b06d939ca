#include "platform/locale.h"

#include <cmath>
#include <cstdio>

namespace mirestal::locale {

std::string FormatShortDate(int year, int month, int day) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d/%d/%d", year, month, day);
  return buf;
}

std::string FormatLongTime(int hour, int minute, int second) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d", hour, minute, second);
  return buf;
}

std::string FormatDateTime(int year, int month, int day, int hour, int minute, int second) {
  return FormatShortDate(year, month, day) + " " + FormatLongTime(hour, minute, second);
}

std::string FormatCurrencyUtf8(double value) {
  bool negative = value < 0;
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.*f", kCurrencyDecimals, std::fabs(value));
  std::string s(digits);
  size_t point = s.find('.');
  size_t int_end = point == std::string::npos ? s.size() : point;
  std::string grouped;
  for (size_t i = 0; i < int_end; ++i) {
    if (i > 0 && (int_end - i) % 3 == 0) grouped += kThousandSeparator;
    grouped += s[i];
  }
  grouped += s.substr(int_end);
  return (negative ? "-" : "") + std::string(kCurrencySymbolUtf8) + grouped;
}

}  // namespace mirestal::locale
