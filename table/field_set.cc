// Setting field values through the dataset: the text typed into the grid (or given to
// `mirestal-cli set`) is converted by the field's kind and put into the dataset's buffer of the
// current row. Nothing reaches the table file before Post; memo texts go to the memo file at
// once, as the blob stream does when it is closed after writing.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <limits>

#include "platform/calendar.h"
#include "platform/gbk.h"
#include "platform/text.h"
#include "table/dataset.h"
#include "table/write_internal.h"

namespace mirestal {
namespace {

// Days from 0001-01-01 (day 1) to 1899-12-30, the serial day 0.
constexpr int64_t kSerialDayOffset = 693594;
// Doubles hold every integer up to this exactly.
constexpr double kExactIntegerLimit = 9007199254740992.0;

// Points the table's field access at the dataset's buffer of the current row for one put.
class PutScope {
 public:
  PutScope(DbfTable& table, std::string& buffer) : table_(table), previous_(table.CurrentBuffer()) {
    table_.SetCurrentBuffer(buffer.data());
  }
  ~PutScope() { table_.SetCurrentBuffer(previous_); }
  PutScope(const PutScope&) = delete;
  PutScope& operator=(const PutScope&) = delete;

 private:
  DbfTable& table_;
  char* previous_;
};

// Optional sign and decimal digits; false when anything else is there or the value overflows.
bool ParseInteger(std::string_view s, int64_t* value) {
  if (s.empty()) return false;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s[0] == '+' || s[0] == '-') return false;
  uint64_t magnitude = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), magnitude);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
  if (negative) {
    if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) + 1) return false;
    *value = magnitude == 0 ? 0 : -static_cast<int64_t>(magnitude - 1) - 1;
  } else {
    if (magnitude > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
    *value = static_cast<int64_t>(magnitude);
  }
  return true;
}

// Optional sign, digits with at most one ".", optional exponent; finite results only.
bool ParseFloat(std::string_view s, double* value) {
  if (s.empty()) return false;
  bool negative = false;
  if (s[0] == '+' || s[0] == '-') {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || !(std::isdigit(static_cast<unsigned char>(s[0])) || s[0] == '.')) return false;
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) return false;
  *value = negative ? -v : v;
  return true;
}

// Days since 0001-01-01 counted from 1 (the day number of the T fields less 1,721,425).
int64_t DayNumber(const TDate& d) {
  // 1970-01-01 is day 719,163 after 0001-01-01.
  return DaysFromCivil(d.year, d.month, d.day) + 719163;
}

int CurrentYear() {
  time_t now = std::time(nullptr);
  struct tm local;
  ::localtime_r(&now, &local);
  return local.tm_year + 1900;
}

// A date in the short date format "yyyy/M/d"; "-" and "." are taken as separators too, a
// two-digit year is in this century, and "M/d" is in the current year.
std::optional<TDate> ParseShortDate(std::string_view s) {
  int parts[3];
  int digits[3];
  int count = 0;
  size_t i = 0;
  while (count < 3) {
    size_t start = i;
    int v = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && i - start < 4) {
      v = v * 10 + (s[i] - '0');
      ++i;
    }
    if (i == start) return std::nullopt;
    digits[count] = static_cast<int>(i - start);
    parts[count++] = v;
    if (i == s.size()) break;
    if (s[i] != '/' && s[i] != '-' && s[i] != '.') return std::nullopt;
    ++i;
    if (i == s.size()) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  TDate d;
  if (count == 3) {
    d.year = parts[0];
    if (digits[0] <= 2) d.year += 2000;
    d.month = parts[1];
    d.day = parts[2];
  } else if (count == 2) {
    d.year = CurrentYear();
    d.month = parts[0];
    d.day = parts[1];
  } else {
    return std::nullopt;
  }
  if (!IsValidDate(d.year, d.month, d.day)) return std::nullopt;
  return d;
}

// "yyyy/M/d H:mm:ss" (time optional) to milliseconds of the T fields.
std::optional<int64_t> ParseDateTime(std::string_view s) {
  size_t space = s.find(' ');
  auto date = ParseShortDate(s.substr(0, space));
  if (!date) return std::nullopt;
  int64_t ms = DayNumber(*date) * dbf::kMsPerDay;
  if (space == std::string_view::npos) return ms;
  std::string_view t = TrimView(s.substr(space));
  int parts[3] = {0, 0, 0};
  int count = 0;
  size_t i = 0;
  while (count < 3 && i < t.size()) {
    size_t start = i;
    int v = 0;
    while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])) && i - start < 2) {
      v = v * 10 + (t[i] - '0');
      ++i;
    }
    if (i == start) return std::nullopt;
    parts[count++] = v;
    if (i < t.size()) {
      if (t[i] != ':') return std::nullopt;
      ++i;
    }
  }
  if (i != t.size() || count < 2) return std::nullopt;
  if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
  return ms + ((parts[0] * 60 + parts[1]) * 60 + parts[2]) * 1000;
}

std::string DateDigits(const TDate& d) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", d.year % 10000, d.month % 100, d.day % 100);
  return text;
}

std::string FloatText(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.15G", v);
  return text;
}

std::string Utf8(std::string_view gbk) { return GbkToUtf8(gbk); }

[[noreturn]] void Invalid(const char* format, std::string_view text, const TField& field) {
  throw EDatabaseError(FormatMessage(format, {Utf8(text), Utf8(field.FieldName())}));
}

[[noreturn]] void AccessError(const TField& field, const char* kind) {
  throw EDatabaseError(
      FormatMessage("Cannot access field '%s' as type %s", {Utf8(field.FieldName()), kind}));
}

// The 0x30 B field: an 8-byte double offered as a binary value, set as a number.
bool IsBinaryDouble(DbfTable& t, int field) {
  return t.IsBinaryField(field) && t.FieldType(field) == 'B';
}

// A put into the table's current buffer; built (and validated) before anything is changed.
using PutAction = std::function<void(DbfTable&)>;

// Integers are written from their decimal digits when a double cannot hold them exactly.
PutAction PutInteger(int field, int64_t value) {
  return [field, value](DbfTable& t) {
    double d = static_cast<double>(value);
    char type = t.FieldType(field);
    if (std::fabs(d) < kExactIntegerLimit || t.IsBinaryField(field) ||
        (type != 'N' && type != 'F')) {
      t.PutFieldNumber(field, d);
      return;
    }
    std::string text = std::to_string(value);
    if (int decimals = t.FieldDecimals(field); decimals > 0) {
      text.push_back('.');
      text.append(static_cast<size_t>(decimals), '0');
    }
    if (static_cast<int>(text.size()) > t.FieldLength(field)) {
      throw ETableError(write_internal::NumberTooBigMessage(t.FieldName(field), text));
    }
    t.PutFieldRawText(field, text);
  };
}

PutAction PutNumber(int field, double value) {
  return [field, value](DbfTable& t) { t.PutFieldNumber(field, value); };
}

PutAction PutRaw(int field, std::string text) {
  return [field, text = std::move(text)](DbfTable& t) { t.PutFieldRawText(field, text); };
}

PutAction PutMemo(int field, std::string text) {
  return [field, text = std::move(text)](DbfTable& t) { t.PutFieldMemo(field, text); };
}

PutAction PutDate(int field, const std::optional<TDate>& date) {
  return PutRaw(field, date ? DateDigits(*date) : std::string(8, ' '));
}

int64_t DateTimeMs(double serial) {
  return static_cast<int64_t>(std::llround((serial + kSerialDayOffset) * dbf::kMsPerDay));
}

bool StartsWithNoCase(std::string_view word, std::string_view prefix) {
  if (prefix.empty() || prefix.size() > word.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(prefix[i])) != word[i]) return false;
  }
  return true;
}

}  // namespace

namespace {

// Puts a value into the dataset's buffer of the current row. A refused value leaves the buffer
// as it was.
void Apply(DbfTable& table, std::string& buffer, const PutAction& put) {
  PutScope scope(table, buffer);
  put(table);
}

// Setting a value is refused outside edit and insert state and on a read-only dataset.
void CheckPut(const TTableDataSet& dataset) {
  if (dataset.State() != TDataSetState::dsEdit && dataset.State() != TDataSetState::dsInsert) {
    throw EDatabaseError("Dataset not in edit or insert mode");
  }
  if (!dataset.CanModify()) dataset.DatabaseError("Cannot modify a read-only dataset");
}

}  // namespace

void TField::SetAsString(const std::string& text) {
  CheckPut(dataset_);
  DbfTable& t = *dataset_.table_;
  const int f = table_field_;
  const bool translate = dataset_.TranslateASCII;
  const std::string_view trimmed = TrimView(text);
  PutAction put;
  switch (type_) {
    case TFieldType::ftString: {
      std::string cut = text.substr(0, GbkSafePrefixLength(text, static_cast<size_t>(size_)));
      std::string stored = translate ? AnsiToOem(cut) : cut;
      put = [f, stored](DbfTable& table) { table.PutFieldText(f, stored); };
      break;
    }
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint: {
      int64_t value = 0;
      if (!trimmed.empty()) {
        bool ok = ParseInteger(trimmed, &value);
        if (ok && type_ != TFieldType::ftLargeint) {
          ok = value >= std::numeric_limits<int32_t>::min() &&
               value <= std::numeric_limits<int32_t>::max();
        }
        if (!ok) Invalid("'%s' is not a valid integer value for field '%s'", text, *this);
      }
      put = PutInteger(f, value);
      break;
    }
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency: {
      double value = 0;
      if (!trimmed.empty() && !ParseFloat(trimmed, &value)) {
        Invalid("'%s' is not a valid floating point value for field '%s'", text, *this);
      }
      put = PutNumber(f, value);
      break;
    }
    case TFieldType::ftBoolean: {
      bool value = false;
      if (!trimmed.empty()) {
        if (StartsWithNoCase("true", trimmed)) {
          value = true;
        } else if (!StartsWithNoCase("false", trimmed)) {
          Invalid("'%s' is not a valid boolean value for field '%s'", text, *this);
        }
      }
      put = [f, value](DbfTable& table) { table.PutFieldLogical(f, value); };
      break;
    }
    case TFieldType::ftDate: {
      std::optional<TDate> date;
      if (!trimmed.empty()) {
        date = ParseShortDate(trimmed);
        if (!date) throw EDatabaseError(FormatMessage("'%s' is not a valid date", {Utf8(text)}));
      }
      put = PutDate(f, date);
      break;
    }
    case TFieldType::ftDateTime: {
      int64_t ms = 0;
      if (!trimmed.empty()) {
        auto parsed = ParseDateTime(trimmed);
        if (!parsed) {
          throw EDatabaseError(FormatMessage("'%s' is not a valid date and time", {Utf8(text)}));
        }
        ms = *parsed;
      }
      put = PutNumber(f, static_cast<double>(ms));
      break;
    }
    case TFieldType::ftMemo:
      put = PutMemo(f, translate ? AnsiToOem(text) : text);
      break;
    case TFieldType::ftBlob:
      if (IsBinaryDouble(t, f)) {
        double value = 0;
        if (!trimmed.empty() && !ParseFloat(trimmed, &value)) {
          Invalid("'%s' is not a valid floating point value for field '%s'", text, *this);
        }
        put = PutNumber(f, value);
      } else {
        put = PutMemo(f, text);
      }
      break;
  }
  Apply(*dataset_.table_, dataset_.current_, put);
  dataset_.modified_ = true;
  dataset_.NotifyRecordChanged(this);
}

void TField::SetAsFloat(double value) {
  CheckPut(dataset_);
  DbfTable& t = *dataset_.table_;
  const int f = table_field_;
  PutAction put;
  switch (type_) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint: {
      double rounded = std::nearbyint(value);
      if (!(std::fabs(rounded) < 9.2e18)) {
        Invalid("'%s' is not a valid integer value for field '%s'", FloatText(value), *this);
      }
      put = PutInteger(f, static_cast<int64_t>(rounded));
      break;
    }
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      put = PutNumber(f, value);
      break;
    case TFieldType::ftBoolean:
      put = [f, value](DbfTable& table) { table.PutFieldLogical(f, value != 0); };
      break;
    case TFieldType::ftDate:
    case TFieldType::ftDateTime: {
      // Serial days of the years 1 to 9999 only.
      std::optional<TDate> date;
      if (std::isfinite(value) && value > -kSerialDayOffset && value < 2958466) {
        date = SerialToDate(value);
      }
      if (!date || !IsValidDate(date->year, date->month, date->day)) {
        throw EDatabaseError(FormatMessage("'%s' is not a valid date", {FloatText(value)}));
      }
      put = type_ == TFieldType::ftDate ? PutDate(f, date)
                                        : PutNumber(f, static_cast<double>(DateTimeMs(value)));
      break;
    }
    case TFieldType::ftBlob:
      if (IsBinaryDouble(t, f)) {
        put = PutNumber(f, value);
        break;
      }
      [[fallthrough]];
    case TFieldType::ftString:
    case TFieldType::ftMemo:
      SetAsString(FloatText(value));
      return;
  }
  Apply(*dataset_.table_, dataset_.current_, put);
  dataset_.modified_ = true;
  dataset_.NotifyRecordChanged(this);
}

void TField::SetAsInteger(int64_t value) {
  CheckPut(dataset_);
  const int f = table_field_;
  PutAction put;
  switch (type_) {
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint:
      put = PutInteger(f, value);
      break;
    case TFieldType::ftString:
    case TFieldType::ftMemo:
      SetAsString(std::to_string(value));
      return;
    default:
      SetAsFloat(static_cast<double>(value));
      return;
  }
  Apply(*dataset_.table_, dataset_.current_, put);
  dataset_.modified_ = true;
  dataset_.NotifyRecordChanged(this);
}

void TField::SetAsBoolean(bool value) {
  CheckPut(dataset_);
  const int f = table_field_;
  PutAction put;
  switch (type_) {
    case TFieldType::ftBoolean:
      put = [f, value](DbfTable& table) { table.PutFieldLogical(f, value); };
      break;
    case TFieldType::ftString:
      SetAsString(value ? "T" : "F");
      return;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
    case TFieldType::ftLargeint:
      put = PutInteger(f, value ? 1 : 0);
      break;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      put = PutNumber(f, value ? 1 : 0);
      break;
    default:
      AccessError(*this, "Boolean");
  }
  Apply(*dataset_.table_, dataset_.current_, put);
  dataset_.modified_ = true;
  dataset_.NotifyRecordChanged(this);
}

void TField::SetAsDate(const std::optional<TDate>& date) {
  CheckPut(dataset_);
  const int f = table_field_;
  if (date && !IsValidDate(date->year, date->month, date->day)) {
    throw EDatabaseError(
        FormatMessage("'%s' is not a valid date",
                      {std::to_string(date->year) + "/" + std::to_string(date->month) + "/" +
                       std::to_string(date->day)}));
  }
  PutAction put;
  switch (type_) {
    case TFieldType::ftDate:
      put = PutDate(f, date);
      break;
    case TFieldType::ftDateTime:
      put = PutNumber(f, date ? static_cast<double>(DayNumber(*date) * dbf::kMsPerDay) : 0.0);
      break;
    default:
      AccessError(*this, "Date");
  }
  Apply(*dataset_.table_, dataset_.current_, put);
  dataset_.modified_ = true;
  dataset_.NotifyRecordChanged(this);
}

void TField::Clear() {
  CheckPut(dataset_);
  DbfTable& t = *dataset_.table_;
  const int f = table_field_;
  PutAction put;
  switch (type_) {
    case TFieldType::ftString:
      put = [f](DbfTable& table) { table.PutFieldText(f, {}); };
      break;
    case TFieldType::ftBoolean:
      put = [f](DbfTable& table) { table.PutFieldLogical(f, false); };
      break;
    case TFieldType::ftDate:
      put = PutDate(f, std::nullopt);
      break;
    case TFieldType::ftMemo:
      put = PutMemo(f, {});
      break;
    case TFieldType::ftBlob:
      put = IsBinaryDouble(t, f) ? PutNumber(f, 0) : PutMemo(f, {});
      break;
    default:
      put = PutNumber(f, 0);
      break;
  }
  Apply(*dataset_.table_, dataset_.current_, put);
  dataset_.modified_ = true;
  dataset_.NotifyRecordChanged(this);
}

}  // namespace mirestal
