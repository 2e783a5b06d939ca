#include "xls/convert.h"

#include <charconv>
#include <cmath>

#include "platform/calendar.h"
#include "platform/text.h"

namespace mirestal::xls {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Digits from `*pos`, at most `max_digits`; false when there are none.
bool ReadInt(std::string_view s, size_t* pos, int max_digits, int* out) {
  int v = 0, n = 0;
  while (*pos < s.size() && IsDigit(s[*pos]) && n < max_digits) {
    v = v * 10 + (s[*pos] - '0');
    ++*pos;
    ++n;
  }
  if (n == 0 || (*pos < s.size() && IsDigit(s[*pos]))) return false;
  *out = v;
  return true;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool ParseTime(std::string_view s, size_t* pos, DateTimeParts* p) {
  if (!ReadInt(s, pos, 2, &p->hour) || *pos >= s.size() || s[*pos] != ':') return false;
  ++*pos;
  if (!ReadInt(s, pos, 2, &p->minute)) return false;
  if (*pos < s.size() && s[*pos] == ':') {
    ++*pos;
    if (!ReadInt(s, pos, 2, &p->second)) return false;
  }
  return p->hour < 24 && p->minute < 60 && p->second < 60;
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  // Only the plain decimal forms: digits, one point, an exponent (no "inf", "nan", hex).
  size_t i = text[0] == '-' ? 1 : 0;
  bool digits = false;
  while (i < text.size() && IsDigit(text[i])) ++i, digits = true;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, digits = true;
  }
  if (!digits) return std::nullopt;
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (i >= text.size() || !IsDigit(text[i])) return std::nullopt;
    while (i < text.size() && IsDigit(text[i])) ++i;
  }
  if (i != text.size()) return std::nullopt;
  double v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) {
    return std::nullopt;
  }
  return v;
}

BigintParse ParseBigint(std::string_view text, double* value) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t v = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || r.ptr != text.data() + text.size()) return BigintParse::kNotInteger;
  if (r.ec == std::errc::result_out_of_range) return BigintParse::kNotExact;
  if (r.ec != std::errc()) return BigintParse::kNotInteger;
  constexpr int64_t kExactLimit = int64_t{1} << 53;
  if (v > kExactLimit || v < -kExactLimit) {
    double d = static_cast<double>(v);
    // 2^63 itself is beyond int64_t: such a value was rounded up.
    if (d >= 9223372036854775808.0 || static_cast<int64_t>(d) != v) {
      return BigintParse::kNotExact;
    }
  }
  *value = static_cast<double>(v);
  return BigintParse::kExact;
}

double DateTimeParts::Serial() const {
  double days = 0;
  if (year != 0) days = static_cast<double>(DaysFromCivil(year, month, day) + 25569);
  double time = (hour * 3600 + minute * 60 + second) / 86400.0;
  // Before the epoch the day counts down while the time of day still counts up.
  return days < 0 ? days - time : days + time;
}

std::optional<DateTimeParts> ParseDateTime(std::string_view text) {
  DateTimeParts p;
  size_t pos = 0;
  if (text.find('/') == std::string_view::npos) {
    if (!ParseTime(text, &pos, &p) || pos != text.size()) return std::nullopt;
    return p;
  }
  if (!ReadInt(text, &pos, 4, &p.year) || pos >= text.size() || text[pos] != '/') {
    return std::nullopt;
  }
  ++pos;
  if (!ReadInt(text, &pos, 2, &p.month) || pos >= text.size() || text[pos] != '/') {
    return std::nullopt;
  }
  ++pos;
  if (!ReadInt(text, &pos, 2, &p.day)) return std::nullopt;
  if (p.year < 1 || p.month < 1 || p.month > 12 || p.day < 1 ||
      p.day > DaysInMonth(p.year, p.month)) {
    return std::nullopt;
  }
  if (pos < text.size()) {
    if (text[pos] != ' ') return std::nullopt;
    ++pos;
    if (!ParseTime(text, &pos, &p)) return std::nullopt;
  }
  if (pos != text.size()) return std::nullopt;
  return p;
}

std::string FormatDateTimeText(std::string_view format, const DateTimeParts& v) {
  static const char* kMonths[12] = {"January",   "February", "March",    "April",
                                    "May",       "June",     "July",     "August",
                                    "September", "October",  "November", "December"};
  std::string out;
  bool after_hour = false;
  auto number = [&](int value, int width) {
    std::string digits = std::to_string(value);
    if (static_cast<int>(digits.size()) < width) digits.insert(0, width - digits.size(), '0');
    out += digits;
  };
  size_t i = 0;
  while (i < format.size()) {
    char c = format[i];
    char lc = Lower(c);
    size_t run = 1;
    while (i + run < format.size() && Lower(format[i + run]) == lc) ++run;
    if (c == '"' || c == '\'') {
      size_t close = format.find(c, i + 1);
      if (close == std::string_view::npos) close = format.size();
      out.append(format.substr(i + 1, close - i - 1));
      i = close + 1;
      continue;
    }
    if (static_cast<unsigned char>(c) >= 0x81 && i + 1 < format.size()) {
      out.append(format.substr(i, 2));  // a double-byte character
      i += 2;
      continue;
    }
    switch (lc) {
      case 'y':
        if (run <= 2)
          number(v.year % 100, 2);
        else
          number(v.year, 4);
        break;
      case 'm':
        if (after_hour && run <= 2) {
          number(v.minute, static_cast<int>(run));
        } else if (run <= 2) {
          number(v.month, static_cast<int>(run));
        } else {
          std::string name = kMonths[(v.month + 11) % 12];
          out += run == 3 ? name.substr(0, 3) : name;
        }
        break;
      case 'd':
        number(v.day, run >= 2 ? 2 : 1);
        break;
      case 'h':
        number(v.hour, run >= 2 ? 2 : 1);
        break;
      case 'n':
        number(v.minute, run >= 2 ? 2 : 1);
        break;
      case 's':
        number(v.second, run >= 2 ? 2 : 1);
        break;
      default:
        out.append(format.substr(i, run));
        break;
    }
    if (lc == 'h')
      after_hour = true;
    else if (lc != ' ' && lc != ':')
      after_hour = false;
    i += run;
  }
  return out;
}

bool IsBooleanText(std::string_view text) {
  return SameTextGbk(text, "true") || SameTextGbk(text, "false") || ParseNumber(text).has_value();
}

bool SameTextGbk(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithGbk(a, b, /*fold_case=*/true);
}

}  // namespace mirestal::xls
