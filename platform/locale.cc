#include "platform/locale.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace mirestal::locale {

std::string FormatShortDate(int year, int month, int day) {
  if (year < 0 || year > 9999 || month < 0 || month > 99 || day < 0 || day > 99) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d/%d/%d", year, month, day);
    return buf;
  }
  // Drawn for every date cell of the grid and every exported date: no printf here.
  char buf[10];
  int n = 0;
  buf[n++] = static_cast<char>('0' + year / 1000);
  buf[n++] = static_cast<char>('0' + year / 100 % 10);
  buf[n++] = static_cast<char>('0' + year / 10 % 10);
  buf[n++] = static_cast<char>('0' + year % 10);
  buf[n++] = '/';
  if (month >= 10) buf[n++] = static_cast<char>('0' + month / 10);
  buf[n++] = static_cast<char>('0' + month % 10);
  buf[n++] = '/';
  if (day >= 10) buf[n++] = static_cast<char>('0' + day / 10);
  buf[n++] = static_cast<char>('0' + day % 10);
  return std::string(buf, n);
}

std::string FormatLongTime(int hour, int minute, int second) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d:%02d:%02d", hour, minute, second);
  return buf;
}

std::string FormatDateTime(int year, int month, int day, int hour, int minute, int second) {
  return FormatShortDate(year, month, day) + " " + FormatLongTime(hour, minute, second);
}

std::string FormatFloat(double v) {
  // Common case first: the shortest round-trip digits in fixed notation are what "%.15G"
  // prints whenever they are at most 15 significant digits and the exponent is in [-4, 15).
  double a = std::fabs(v);
  if (v == 0) return "0";
  // Quickest of all: v is the double nearest to N / 10^d with |N| < 10^15 (at most 15 digits).
  // A decimal of at most 15 significant digits is the only one of that length that reads back
  // as v, so it is the shortest round-trip form, printed without to_chars. Dividing the exact
  // integer N by the exact power of ten rounds once, as reading the decimal text does.
  if (a >= 1e-4 && a < 1e15) {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9,
                                        1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};
    for (int d = 0; d <= 18 && a * kPow10[d] < 1e15; ++d) {
      // A candidate N off by one fails the check below; N * 10 then passes at d + 1 and prints
      // the same text once the fraction's trailing zeros go.
      const double scaled = v * kPow10[d];
      const auto n = static_cast<int64_t>(scaled + (scaled < 0 ? -0.5 : 0.5));
      if (static_cast<double>(n) / kPow10[d] != v) continue;
      char buf[48];
      char* end = buf + sizeof buf;
      char* p = end;
      const bool negative = n < 0;
      uint64_t u = negative ? static_cast<uint64_t>(-n) : static_cast<uint64_t>(n);
      int places = d;
      while (places > 0 && u % 10 == 0) {  // trailing zeros of the fraction go
        u /= 10;
        --places;
      }
      for (int i = 0; i < places; ++i, u /= 10) *--p = static_cast<char>('0' + u % 10);
      if (places > 0) *--p = '.';
      do {
        *--p = static_cast<char>('0' + u % 10);
        u /= 10;
      } while (u != 0);
      if (negative) *--p = '-';
      return std::string(p, end);
    }
  }
  if (a >= 1e-4 && a < 1e15) {
    char fixed[64];
    auto fr = std::to_chars(fixed, fixed + sizeof fixed, v, std::chars_format::fixed);
    int significant = 0;
    bool started = false;
    for (const char* p = fixed; p != fr.ptr; ++p) {
      if (*p < '0' || *p > '9') continue;
      started = started || *p != '0';
      if (started) ++significant;
    }
    if (fr.ec == std::errc() && significant <= 15) return std::string(fixed, fr.ptr);
  }
  char buf[40];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
  std::string s(buf, r.ptr);
  if (s == "inf" || s == "-inf" || s == "nan" || s == "-nan") {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  size_t e = s.find('e');
  if (e == std::string::npos) return s;
  std::string mantissa = s.substr(0, e);
  std::string exponent = s.substr(e + 1);
  bool negative = !exponent.empty() && exponent[0] == '-';
  size_t digits = exponent.find_first_not_of("+-0");
  return mantissa + "E" + (negative ? "-" : "") +
         (digits == std::string::npos ? "0" : exponent.substr(digits));
}

std::string FormatCurrencyUtf8(double value) {
  bool negative = value < 0;
  char digits[64];
  std::snprintf(digits, sizeof digits, "%.*f", kCurrencyDecimals, std::fabs(value));
  std::string s(digits);
  size_t point = s.find('.');
  size_t int_end = point == std::string::npos ? s.size() : point;
  std::string out = negative ? "-" : "";
  out += kCurrencySymbolUtf8;
  for (size_t i = 0; i < int_end; ++i) {
    if (i > 0 && (int_end - i) % 3 == 0) out += kThousandSeparator;
    out += s[i];
  }
  out.append(s, int_end, std::string::npos);
  return out;
}

}  // namespace mirestal::locale
