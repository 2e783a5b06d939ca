#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "platform/calendar.h"
#include "platform/gbk.h"
#include "platform/paths.h"
#include "table/dbf_table.h"
#include "table/memo.h"

namespace mirestal {
namespace {

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

std::string_view TrimLeftBlanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

// Decimal conversion: optional sign, digits, one ".", optional exponent; nothing else.
bool ParseDecimal(std::string_view s, double* value) {
  s = TrimLeftBlanks(s);
  if (s.empty()) return false;
  size_t i = 0;
  bool negative = false;
  if (s[i] == '+' || s[i] == '-') negative = s[i++] == '-';
  size_t mantissa_start = i;
  size_t digits = 0, fraction_digits = 0;
  uint64_t mantissa = 0;  // exact while digits <= 15
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
    mantissa = mantissa * 10 + static_cast<uint64_t>(s[i++] - '0');
    ++digits;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
      mantissa = mantissa * 10 + static_cast<uint64_t>(s[i++] - '0');
      ++digits;
      ++fraction_digits;
    }
  }
  if (digits == 0) return false;
  if (i == s.size() && digits <= 15) {
    // The common field text: the mantissa and the power of ten are exact doubles, so the one
    // rounding of the division gives the correctly rounded value, as from_chars does.
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const double v = static_cast<double>(mantissa) / kPow10[fraction_digits];
    *value = negative ? -v : v;
    return true;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    size_t exp_digits = 0;
    while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) ++j, ++exp_digits;
    if (exp_digits == 0) return false;
    i = j;
  }
  if (i != s.size()) return false;
  double v = 0;
  auto r = std::from_chars(s.data() + mantissa_start, s.data() + s.size(), v);
  if (r.ec == std::errc::result_out_of_range) return false;
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  *value = negative ? -v : v;
  return true;
}

int64_t GetInt64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return static_cast<int64_t>(v);
}

}  // namespace

bool IsValidDate(int year, int month, int day) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int limit = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= limit;
}

double DateToSerial(const TDate& date) {
  return static_cast<double>(DaysFromCivil(date.year, date.month, date.day) + 25569);
}

TDate SerialToDate(double serial) {
  TDate date;
  CivilFromDays(static_cast<int64_t>(std::floor(serial)) - 25569, &date.year, &date.month,
                &date.day);
  return date;
}

int DbfFieldAccess::FieldNumberOf(std::string_view name) const {
  for (int f = 1; f <= field_count_; ++f) {
    if (FieldName(f) == name) return f;
  }
  return 0;
}

std::string DbfFieldAccess::FieldName(int field) const {
  if (!ValidField(field)) return {};
  const char* name = reinterpret_cast<const char*>(Descriptor(field));
  return std::string(name, strnlen(name, dbf::kDescNameSize));
}

char DbfFieldAccess::FieldType(int field) const {
  return ValidField(field) ? static_cast<char>(Descriptor(field)[dbf::kDescType]) : '\0';
}

int DbfFieldAccess::FieldLength(int field) const {
  if (!ValidField(field)) return 0;
  const unsigned char* d = Descriptor(field);
  int length = d[dbf::kDescLength];
  if (d[dbf::kDescType] == 'C') length += 256 * d[dbf::kDescDecimals];
  return length;
}

int DbfFieldAccess::FieldDecimals(int field) const {
  if (!ValidField(field) || FieldType(field) == 'C') return 0;
  return Descriptor(field)[dbf::kDescDecimals];
}

int DbfFieldAccess::FieldOffset(int field) const {
  return ValidField(field) ? static_cast<int>(dbf::Get32(Descriptor(field) + dbf::kDescPosition))
                           : 0;
}

bool DbfFieldAccess::IsBinaryField(int field) const {
  if (version_ != dbf::kVersionVfp) return false;
  switch (FieldType(field)) {
    case 'B': case 'G': case 'I': case 'M': case 'T': case 'Y': return true;
    default: return false;
  }
}

std::string_view DbfFieldAccess::FieldRawText(int field) const {
  if (!ValidField(field)) return {};
  return std::string_view(current_buffer_ + FieldOffset(field), FieldLength(field));
}

std::string_view DbfFieldAccess::FieldText(int field) const {
  return TrimRight(FieldRawText(field));
}

std::string DbfFieldAccess::InvalidNumberMessage(int field) const {
  std::string stem = Utf8Path(FsPath(name_).stem());
  std::string text = GbkToUtf8(TrimLeftBlanks(FieldText(field)));
  return FormatMessage("Invalid numeric value in field %s",
                       {stem + "->" + GbkToUtf8(FieldName(field)) + " (" + text + ")"});
}

double DbfFieldAccess::FieldNumber(int field) const {
  if (!ValidField(field)) return 0;
  const unsigned char* raw =
      reinterpret_cast<const unsigned char*>(current_buffer_ + FieldOffset(field));
  if (IsBinaryField(field)) {
    char type = FieldType(field);
    if ((type == 'I' || type == 'M' || type == 'G') && std::memcmp(raw, "    ", 4) == 0) return 0;
    switch (type) {
      case 'B': {
        double d;
        std::memcpy(&d, raw, 8);
        return d;
      }
      case 'I': case 'M': case 'G':
        return static_cast<int32_t>(dbf::Get32(raw));
      case 'Y':
        return static_cast<double>(GetInt64(raw)) / 10000.0;
      case 'T':
        return static_cast<double>(FieldDateTimeMs(field));
    }
  }
  std::string_view text = FieldText(field);
  if (TrimLeftBlanks(text).empty()) return 0;
  double value;
  if (!ParseDecimal(text, &value)) throw ETableError(InvalidNumberMessage(field));
  return value;
}

std::optional<int64_t> DbfFieldAccess::FieldInt64(int field) const {
  std::string_view text = TrimLeftBlanks(FieldText(field));
  if (text.empty()) return 0;
  int64_t value = 0;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  if (*begin == '+') ++begin;
  auto r = std::from_chars(begin, end, value);
  if (r.ec == std::errc() && r.ptr == end && begin != end) return value;
  if (r.ec == std::errc::result_out_of_range) return std::nullopt;
  // Not plain digits (a fraction or an exponent): round the decimal value when it fits.
  double d;
  if (!ParseDecimal(text, &d)) return std::nullopt;
  d = std::nearbyint(d);
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0)) return std::nullopt;
  return static_cast<int64_t>(d);
}

bool DbfFieldAccess::FieldLogical(int field) const {
  if (!ValidField(field) || FieldLength(field) < 1) return false;
  char c = current_buffer_[FieldOffset(field)];
  return std::strchr("TtYyJj", c) != nullptr && c != '\0';
}

std::optional<TDate> DbfFieldAccess::FieldDate(int field) const {
  std::string_view text = FieldText(field);
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  if (text.size() != 8 || text == "00000000") return std::nullopt;
  // Eight digits, yyyymmdd; read on every date cell drawn or dumped.
  int digits[8];
  for (int i = 0; i < 8; ++i) {
    digits[i] = text[i] - '0';
    if (digits[i] < 0 || digits[i] > 9) return std::nullopt;
  }
  const int year = digits[0] * 1000 + digits[1] * 100 + digits[2] * 10 + digits[3];
  const int month = digits[4] * 10 + digits[5];
  const int day = digits[6] * 10 + digits[7];
  if (!IsValidDate(year, month, day)) return std::nullopt;
  return TDate{year, month, day};
}

int64_t DbfFieldAccess::FieldDateTimeMs(int field) const {
  if (!ValidField(field) || FieldLength(field) < 8) return 0;
  const unsigned char* raw =
      reinterpret_cast<const unsigned char*>(current_buffer_ + FieldOffset(field));
  uint32_t day = dbf::Get32(raw);
  uint32_t ms = dbf::Get32(raw + 4);
  // Outside the years 1 to 9999, or a time of day past its end, the value cannot be a date and
  // time (it would show as negative clock text): no value, as zero is.
  if (day < dbf::kJulianDayOfYear1 || day > dbf::kJulianDayOfYear9999End || ms >= dbf::kMsPerDay) {
    return 0;
  }
  return (static_cast<int64_t>(day) - dbf::kJulianDayBeforeYear1) * dbf::kMsPerDay + ms;
}

uint32_t DbfFieldAccess::FieldMemoBlock(int field) const {
  if (!ValidField(field)) return 0;
  if (IsBinaryField(field)) {
    const unsigned char* raw =
        reinterpret_cast<const unsigned char*>(current_buffer_ + FieldOffset(field));
    if (std::memcmp(raw, "    ", 4) == 0) return 0;
    return dbf::Get32(raw);
  }
  std::string_view text = TrimLeftBlanks(FieldText(field));
  uint32_t block = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), block);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size()) return 0;
  return block;
}

uint32_t DbfFieldAccess::FieldMemoSize(int field) {
  uint32_t block = FieldMemoBlock(field);
  if (block == 0 || !memo_present_) return 0;
  return Memo().TextLength(block);
}

std::string DbfFieldAccess::FieldMemoText(int field, uint32_t wanted) {
  uint32_t block = FieldMemoBlock(field);
  if (block == 0 || !memo_present_) return {};
  return Memo().ReadText(block, wanted);
}

}  // namespace mirestal
