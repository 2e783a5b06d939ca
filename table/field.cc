#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/gbk.h"
#include "platform/locale.h"
#include "platform/text.h"
#include "table/dataset.h"
#include "table/dbf_table.h"

namespace mirestal {
namespace {

// Points the table's field access at the record a field reads from, for one read, and puts the
// buffer it pointed at back afterwards. Reads nest (AsString reads AsInteger), so the inner one
// must hand the outer one its record back, not the table's own buffer.
class ReadScope {
 public:
  ReadScope(DbfTable& table, const std::string& record)
      : table_(table), previous_(table.CurrentBuffer()) {
    table_.SetCurrentBuffer(const_cast<char*>(record.data()));
  }
  ~ReadScope() { table_.SetCurrentBuffer(previous_); }
  ReadScope(const ReadScope&) = delete;
  ReadScope& operator=(const ReadScope&) = delete;

 private:
  DbfTable& table_;
  char* previous_;
};

}  // namespace

TField::TField(TTableDataSet& dataset, int table_field, TFieldType type, int size, std::string name)
    : dataset_(dataset), table_field_(table_field), type_(type), size_(size), name_(std::move(name)) {}

int TField::DisplayWidth() const {
  switch (type_) {
    case TFieldType::ftString: return size_;
    case TFieldType::ftBoolean: return 5;
    case TFieldType::ftDate: return 10;
    case TFieldType::ftDateTime: return 18;
    default: return 10;
  }
}

char TField::TypeLetter() const { return dataset_.table_->FieldType(table_field_); }

int TField::Decimals() const { return dataset_.table_->FieldDecimals(table_field_); }

bool TField::NullIn(const std::string& record) const {
  DbfTable& t = *dataset_.table_;
  ReadScope scope(t, record);
  switch (type_) {
    case TFieldType::ftString: return t.FieldText(table_field_).empty();
    case TFieldType::ftDate: return !t.FieldDate(table_field_).has_value();
    case TFieldType::ftDateTime: return t.FieldDateTimeMs(table_field_) == 0;
    case TFieldType::ftMemo:
    case TFieldType::ftBlob:
      if (t.IsBinaryField(table_field_) && t.FieldType(table_field_) == 'B') return false;
      return t.FieldMemoBlock(table_field_) == 0;
    default: return false;
  }
}

double TField::FloatIn(const std::string& record) const {
  DbfTable& t = *dataset_.table_;
  ReadScope scope(t, record);
  switch (type_) {
    case TFieldType::ftBoolean: return t.FieldLogical(table_field_) ? 1 : 0;
    case TFieldType::ftDate:
    case TFieldType::ftDateTime: return DateTimeIn(record);
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger: return IntegerIn(record);
    case TFieldType::ftLargeint: return static_cast<double>(LargeIntIn(record));
    default: return t.FieldNumber(table_field_);
  }
}

int32_t TField::IntegerIn(const std::string& record) const {
  DbfTable& t = *dataset_.table_;
  ReadScope scope(t, record);
  if (type_ == TFieldType::ftBoolean) return t.FieldLogical(table_field_) ? 1 : 0;
  if (type_ == TFieldType::ftLargeint) {
    int64_t v = LargeIntIn(record);
    if (v < INT32_MIN || v > INT32_MAX) throw ETableError(t.InvalidNumberMessage(table_field_));
    return static_cast<int32_t>(v);
  }
  // Rounded half to even; a value outside the field kind's range is a conversion error rather
  // than a wrap into its low bits.
  double v = std::nearbyint(t.FieldNumber(table_field_));
  double lo = type_ == TFieldType::ftSmallint ? -32768.0 : -2147483648.0;
  double hi = type_ == TFieldType::ftSmallint ? 32767.0 : 2147483647.0;
  if (!(v >= lo && v <= hi)) throw ETableError(t.InvalidNumberMessage(table_field_));
  return static_cast<int32_t>(v);
}

int64_t TField::LargeIntIn(const std::string& record) const {
  DbfTable& t = *dataset_.table_;
  ReadScope scope(t, record);
  if (type_ != TFieldType::ftLargeint) {
    double v = std::nearbyint(FloatIn(record));
    if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0)) {
      throw ETableError(t.InvalidNumberMessage(table_field_));
    }
    return static_cast<int64_t>(v);
  }
  auto v = t.FieldInt64(table_field_);
  if (!v) throw ETableError(t.InvalidNumberMessage(table_field_));
  return *v;
}

bool TField::BooleanIn(const std::string& record) const {
  DbfTable& t = *dataset_.table_;
  ReadScope scope(t, record);
  if (type_ == TFieldType::ftBoolean) return t.FieldLogical(table_field_);
  return FloatIn(record) != 0;
}

std::optional<TDate> TField::DateIn(const std::string& record) const {
  DbfTable& t = *dataset_.table_;
  ReadScope scope(t, record);
  if (type_ == TFieldType::ftDate) return t.FieldDate(table_field_);
  if (type_ == TFieldType::ftDateTime) {
    int64_t ms = t.FieldDateTimeMs(table_field_);
    if (ms == 0) return std::nullopt;
    // Serial day (from 1899-12-30) to a civil date through days since 1970-01-01.
    return SerialToDate(static_cast<double>(ms / dbf::kMsPerDay - 693594));
  }
  return std::nullopt;
}

double TField::DateTimeIn(const std::string& record) const {
  DbfTable& t = *dataset_.table_;
  ReadScope scope(t, record);
  if (type_ == TFieldType::ftDate) {
    auto date = t.FieldDate(table_field_);
    return date ? DateToSerial(*date) : 0;
  }
  if (type_ == TFieldType::ftDateTime) {
    int64_t ms = t.FieldDateTimeMs(table_field_);
    if (ms == 0) return 0;
    return static_cast<double>(ms) / dbf::kMsPerDay - 693594.0;
  }
  return FloatIn(record);
}

std::string TField::StringIn(const std::string& record) const {
  DbfTable& t = *dataset_.table_;
  ReadScope scope(t, record);
  const bool translate = dataset_.TranslateASCII;
  switch (type_) {
    case TFieldType::ftString: {
      std::string_view text = t.FieldText(table_field_);
      return translate ? OemToAnsi(text) : std::string(text);
    }
    case TFieldType::ftBoolean: return t.FieldLogical(table_field_) ? "True" : "False";
    case TFieldType::ftDate: {
      auto d = t.FieldDate(table_field_);
      return d ? locale::FormatShortDate(d->year, d->month, d->day) : "";
    }
    case TFieldType::ftDateTime: {
      int64_t ms = t.FieldDateTimeMs(table_field_);
      if (ms == 0) return "";
      auto d = DateIn(record);
      int64_t in_day = ms % dbf::kMsPerDay;
      int seconds = static_cast<int>(in_day / 1000);
      return locale::FormatDateTime(d->year, d->month, d->day, seconds / 3600,
                                    seconds / 60 % 60, seconds % 60);
    }
    case TFieldType::ftMemo:
    case TFieldType::ftBlob: {
      if (t.IsBinaryField(table_field_) && t.FieldType(table_field_) == 'B') {
        return locale::FormatFloat(t.FieldNumber(table_field_));
      }
      std::string text = t.FieldMemoText(table_field_, UINT32_MAX);
      return translate && type_ == TFieldType::ftMemo ? OemToAnsi(text) : text;
    }
    default:
      break;
  }
  // Numbers. A text that does not convert (FoxPro writes "*****" on overflow) is shown as it
  // stands, so that drawing never fails; reading the value still raises.
  try {
    switch (type_) {
      case TFieldType::ftSmallint:
      case TFieldType::ftInteger: return std::to_string(IntegerIn(record));
      case TFieldType::ftLargeint: return std::to_string(LargeIntIn(record));
      default: return locale::FormatFloat(t.FieldNumber(table_field_));
    }
  } catch (const ETableError&) {
    return Trim(t.FieldRawText(table_field_));
  }
}

std::string TField::DisplayTextIn(const std::string& record) const {
  switch (type_) {
    case TFieldType::ftCurrency: {
      DbfTable& t = *dataset_.table_;
      ReadScope scope(t, record);
      return Utf8ToGbkLossy(locale::FormatCurrencyUtf8(t.FieldNumber(table_field_)));
    }
    case TFieldType::ftMemo: return NullIn(record) ? "(Memo)" : "(MEMO)";
    case TFieldType::ftBlob: return NullIn(record) ? "(Blob)" : "(BLOB)";
    default: return StringIn(record);
  }
}

const std::string& TField::RecordOf(const TRecordView& row) const {
  // A view loaded before a close, reopen or pack may not fit the table open now.
  if (&row.dataset_ != &dataset_ || !row.loaded_ || !dataset_.table_ ||
      row.generation_ != dataset_.generation_) {
    dataset_.DatabaseError("Record view is not loaded");
  }
  return row.record_;
}

bool TField::IsNull() const { return NullIn(dataset_.ActiveBuffer()); }
bool TField::IsNull(const TRecordView& row) const { return NullIn(RecordOf(row)); }
std::string TField::AsString() const { return StringIn(dataset_.ActiveBuffer()); }
std::string TField::AsString(const TRecordView& row) const { return StringIn(RecordOf(row)); }
double TField::AsFloat() const { return FloatIn(dataset_.ActiveBuffer()); }
double TField::AsFloat(const TRecordView& row) const { return FloatIn(RecordOf(row)); }
int32_t TField::AsInteger() const { return IntegerIn(dataset_.ActiveBuffer()); }
int32_t TField::AsInteger(const TRecordView& row) const { return IntegerIn(RecordOf(row)); }
int64_t TField::AsLargeInt() const { return LargeIntIn(dataset_.ActiveBuffer()); }
int64_t TField::AsLargeInt(const TRecordView& row) const { return LargeIntIn(RecordOf(row)); }
bool TField::AsBoolean() const { return BooleanIn(dataset_.ActiveBuffer()); }
bool TField::AsBoolean(const TRecordView& row) const { return BooleanIn(RecordOf(row)); }
double TField::AsDateTime() const { return DateTimeIn(dataset_.ActiveBuffer()); }
double TField::AsDateTime(const TRecordView& row) const { return DateTimeIn(RecordOf(row)); }
std::optional<TDate> TField::AsDate() const { return DateIn(dataset_.ActiveBuffer()); }
std::optional<TDate> TField::AsDate(const TRecordView& row) const { return DateIn(RecordOf(row)); }
std::string TField::DisplayText() const { return DisplayTextIn(dataset_.ActiveBuffer()); }
std::string TField::DisplayText(const TRecordView& row) const {
  return DisplayTextIn(RecordOf(row));
}

}  // namespace mirestal
