#include "import/sheet.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <cctype>

#include "platform/calendar.h"
#include "platform/gbk.h"
#include "platform/locale.h"
#include "platform/text.h"
#include "table/errors.h"

namespace mirestal::import {
namespace {

constexpr int kMaxCharLength = 254;
constexpr int kMaxNumericLength = 20;
// Integers of more digits could leave the 64-bit range the engine reads them into.
constexpr int kMaxIntegerDigits = 18;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Three runs of digits separated by `sep`; the digit counts go to `widths`.
bool SplitDate(std::string_view text, char sep, int parts[3], int widths[3]) {
  int part = 0;
  parts[0] = parts[1] = parts[2] = 0;
  widths[0] = widths[1] = widths[2] = 0;
  for (char c : text) {
    if (c == sep) {
      if (++part > 2) return false;
    } else if (IsDigit(c)) {
      if (++widths[part] > 4) return false;
      parts[part] = parts[part] * 10 + (c - '0');
    } else {
      return false;
    }
  }
  return part == 2 && widths[0] > 0 && widths[1] > 0 && widths[2] > 0;
}

bool IsBlank(const CsvCell& cell) { return cell.text.empty(); }

const CsvCell* CellAt(const CsvRow& row, size_t column) {
  return column < row.size() ? &row[column] : nullptr;
}

}  // namespace

std::vector<CsvRow> ParseCsv(std::string_view csv) {
  std::vector<CsvRow> rows;
  CsvRow row;
  CsvCell cell;
  bool cell_started = false;  // something of the current row has been read
  size_t i = 0;
  auto end_cell = [&] {
    row.push_back(std::move(cell));
    cell = CsvCell();
  };
  auto end_row = [&] {
    end_cell();
    rows.push_back(std::move(row));
    row.clear();
    cell_started = false;
  };
  while (i < csv.size()) {
    char c = csv[i];
    if (c == '"' && cell.text.empty() && !cell.quoted) {
      cell.quoted = true;
      cell_started = true;
      ++i;
      while (i < csv.size()) {
        if (csv[i] == '"') {
          if (i + 1 < csv.size() && csv[i + 1] == '"') {
            cell.text += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        cell.text += csv[i++];
      }
    } else if (c == ',') {
      end_cell();
      cell_started = true;
      ++i;
    } else if (c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
      end_row();
      i += 2;
    } else if (c == '\n') {
      end_row();
      ++i;
    } else {
      cell.text += c;
      cell_started = true;
      ++i;
    }
  }
  if (cell_started) end_row();
  return rows;
}

std::optional<TDate> ParseSheetDate(std::string_view text) {
  int p[3], w[3];
  TDate date;
  if (SplitDate(text, '-', p, w) || (SplitDate(text, '/', p, w) && w[0] == 4)) {
    if (w[0] != 4 || w[1] > 2 || w[2] > 2) return std::nullopt;
    date = {p[0], p[1], p[2]};
  } else if (SplitDate(text, '/', p, w)) {
    if (w[2] != 4 || w[0] > 2 || w[1] > 2) return std::nullopt;
    date = {p[2], p[0], p[1]};
  } else if (SplitDate(text, '.', p, w)) {
    if (w[2] != 4 || w[0] > 2 || w[1] > 2) return std::nullopt;
    date = {p[2], p[1], p[0]};
  } else {
    return std::nullopt;
  }
  if (!IsValidDate(date.year, date.month, date.day)) return std::nullopt;
  return date;
}

std::optional<std::string> PlainDecimal(std::string_view text) {
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  std::string digits;
  long point = -1;  // number of digits before the decimal point
  for (; i < text.size(); ++i) {
    if (IsDigit(text[i])) {
      digits += text[i];
    } else if (text[i] == '.' && point < 0) {
      point = static_cast<long>(digits.size());
    } else {
      break;
    }
  }
  if (digits.empty()) return std::nullopt;
  if (point < 0) point = static_cast<long>(digits.size());
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    bool negative_exponent = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative_exponent = text[i++] == '-';
    long exponent = 0;
    size_t first = i;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
      exponent = exponent * 10 + (text[i] - '0');
      // Far beyond anything a cell holds; also keeps the strings below small.
      if (exponent > 400) return std::nullopt;
    }
    if (i == first) return std::nullopt;
    point += negative_exponent ? -exponent : exponent;
  }
  if (i != text.size()) return std::nullopt;

  std::string whole, fraction;
  if (point <= 0) {
    fraction = std::string(static_cast<size_t>(-point), '0') + digits;
  } else if (static_cast<size_t>(point) >= digits.size()) {
    whole = digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
  } else {
    whole = digits.substr(0, static_cast<size_t>(point));
    fraction = digits.substr(static_cast<size_t>(point));
  }
  whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
  if (whole.empty()) whole = "0";
  fraction.erase(fraction.find_last_not_of('0') + 1);
  bool zero = whole == "0" && fraction.empty();
  return (negative && !zero ? "-" : "") + whole + (fraction.empty() ? "" : "." + fraction);
}

std::string CellPlace(size_t row, size_t column) {
  std::string letters;
  for (size_t c = column + 1; c > 0; c = (c - 1) / 26) {
    letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
  }
  return "第" + std::to_string(row + 1) + "行" + letters + "列";
}

std::string SheetLosses::Note() const {
  auto line = [](int count, const std::vector<std::string>& places, const char* what) {
    std::string text = "有" + std::to_string(count) + "个单元格" + what + "：";
    for (size_t i = 0; i < places.size(); ++i) text += (i ? "、" : "") + places[i];
    if (static_cast<size_t>(count) > places.size()) text += "等";
    return text;
  };
  std::string note;
  if (cut > 0) note += line(cut, cut_places, "的文字超过254字节，已截断");
  if (replaced > 0) {
    if (!note.empty()) note += "\r";
    note += line(replaced, replaced_places, "含有GBK不能表示的字符，已换成“?”");
  }
  return note;
}

std::string Utf8ToGbkCounted(std::string_view utf8, int* replaced) {
  // The whole text at once when it fits, which is nearly always.
  if (std::optional<std::string> gbk = Utf8ToGbk(utf8)) {
    if (gbk->find('\x80') == std::string::npos) return *gbk;
  }
  std::string out;
  size_t i = 0;
  while (i < utf8.size()) {
    const unsigned char lead = static_cast<unsigned char>(utf8[i]);
    size_t n = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    n = std::min(n, utf8.size() - i);
    std::optional<std::string> one = Utf8ToGbk(utf8.substr(i, n));
    // GBK's single byte 0x80 (the euro sign) is half a character to strict readers.
    if (one && !one->empty() && *one != "\x80") {
      out += *one;
    } else {
      out += '?';
      ++*replaced;
    }
    i += n;
  }
  return out;
}

namespace {

struct Cell {
  enum class Kind { kBlank, kText, kNumber, kDate, kBoolean } kind = Kind::kBlank;
  std::string text;  // UTF-8 text, or the plain decimal of a number
  TDate date;
  bool boolean = false;
};

// "H:MM" or "H:MM:SS" (seconds may carry a fraction, rounded); nullopt when not a time.
std::optional<int> ParseTimeOfDay(std::string_view text) {
  int parts[3] = {0, 0, 0};
  int part = 0, digits = 0;
  size_t i = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      if (++digits > 2) return std::nullopt;
      parts[part] = parts[part] * 10 + (c - '0');
    } else if (c == ':' && digits > 0 && part < 2) {
      ++part;
      digits = 0;
    } else {
      break;
    }
  }
  if (part == 0 || digits == 0) return std::nullopt;
  int extra = 0;
  if (i < text.size() && text[i] == '.' && part == 2) {
    if (i + 1 < text.size() && text[i + 1] >= '5') extra = 1;
    for (++i; i < text.size() && IsDigit(text[i]); ++i) {
    }
  }
  if (i != text.size() || parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return std::nullopt;
  return parts[0] * 3600 + parts[1] * 60 + parts[2] + extra;
}

constexpr int64_t kSerialOf1970 = 25569;  // day 0 of the serials is 1899-12-30
constexpr int64_t kPhantomSerial = 60;    // the workbook's 1900-02-29

// The calendar day of a workbook serial in its 1900 convention: serials 1-59 are
// 1900-01-01..1900-02-28 (the converter reads them one day early), serial 60 is none.
std::optional<int64_t> DaysOfSerial(int64_t serial) {
  if (serial == kPhantomSerial) return std::nullopt;
  if (serial >= 1 && serial < kPhantomSerial) return serial - kSerialOf1970 + 1;
  return serial - kSerialOf1970;
}

// A date or date-time cell from its serial day and second of the day.
Cell DateCell(int64_t serial_day, int seconds) {
  Cell cell;
  std::optional<int64_t> days = DaysOfSerial(serial_day);
  int y = 1900, m = 2, d = 29;
  if (days) CivilFromDays(*days, &y, &m, &d);
  if (days && seconds == 0 && y >= 1 && y <= 9999) {
    cell.kind = Cell::Kind::kDate;
    cell.date = {y, m, d};
    return cell;
  }
  cell.kind = Cell::Kind::kText;
  cell.text = seconds == 0 ? locale::FormatShortDate(y, m, d)
                           : locale::FormatDateTime(y, m, d, seconds / 3600, seconds / 60 % 60, seconds % 60);
  return cell;
}

// The shortest digits that read back as `value` (scientific; PlainDecimal writes them out).
std::string ExactDecimal(double value) {
  char buffer[400];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  if (ec != std::errc()) return locale::FormatFloat(value);
  return std::string(buffer, end);
}

// The converter's number text and the file's exact number are the same value (15 significant
// digits), so the fact belongs to this cell.
bool Agrees(double exact, const std::string& plain) {
  const double shown = std::strtod(plain.c_str(), nullptr);
  return std::fabs(exact - shown) <= 1e-14 * std::max(std::fabs(exact), std::fabs(shown));
}

bool EqualsNoCase(std::string_view a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != b[i]) return false;
  }
  return true;
}

Cell Classify(const CsvCell* csv, const CellFact* fact) {
  Cell cell;
  if (!csv || IsBlank(*csv)) return cell;
  cell.text = csv->text;
  cell.kind = Cell::Kind::kText;
  if (csv->quoted) return cell;
  const std::string& text = csv->text;
  if (fact && fact->kind == CellFact::Kind::kBoolean && (text == "1" || text == "0")) {
    cell.kind = Cell::Kind::kBoolean;
    cell.boolean = fact->boolean;
    return cell;
  }
  if (!fact && (EqualsNoCase(text, "TRUE") || EqualsNoCase(text, "FALSE"))) {
    cell.kind = Cell::Kind::kBoolean;
    cell.boolean = EqualsNoCase(text, "TRUE");
    return cell;
  }
  const bool number_fact = fact && fact->kind == CellFact::Kind::kNumber;
  // Dates and date-times: the serial from the file when it agrees with the converter's day.
  const size_t space = text.find(' ');
  std::optional<TDate> date = ParseSheetDate(std::string_view(text).substr(0, space));
  std::optional<int> time = space == std::string::npos ? std::optional<int>(0)
                                                       : ParseTimeOfDay(std::string_view(text).substr(space + 1));
  if (date && time) {
    int64_t serial = DaysFromCivil(date->year, date->month, date->day) + kSerialOf1970;
    int seconds = *time;
    if (number_fact && std::isfinite(fact->number) && std::floor(fact->number) == static_cast<double>(serial)) {
      const double day = std::floor(fact->number);
      seconds = static_cast<int>(std::llround((fact->number - day) * 86400));
      if (seconds >= 86400) {
        ++serial;
        seconds -= 86400;
      }
    }
    return DateCell(serial, seconds);
  }
  std::optional<std::string> plain = PlainDecimal(text);
  if (!plain) return cell;
  if (number_fact && std::isfinite(fact->number) && Agrees(fact->number, *plain)) {
    const double v = fact->number;
    if (fact->zero_pad > 0 && v >= 0 && v < 1e18 && std::floor(v) == v) {
      // Shown with leading zeros: a registration number as the operator sees it.
      std::string digits = PlainDecimal(ExactDecimal(v)).value_or("0");
      if (digits.size() < static_cast<size_t>(fact->zero_pad)) {
        digits.insert(0, static_cast<size_t>(fact->zero_pad) - digits.size(), '0');
      }
      cell.text = digits;
      return cell;
    }
    if (std::optional<std::string> exact = PlainDecimal(ExactDecimal(v))) plain = exact;
  }
  cell.kind = Cell::Kind::kNumber;
  cell.text = *plain;
  return cell;
}

// A cell's text in a C column (UTF-8).
std::string TextOf(const Cell& cell) {
  switch (cell.kind) {
    case Cell::Kind::kBoolean: return cell.boolean ? "TRUE" : "FALSE";
    case Cell::Kind::kDate: return locale::FormatShortDate(cell.date.year, cell.date.month, cell.date.day);
    default: return cell.text;
  }
}

}  // namespace

SheetTable BuildSheetTable(const std::vector<CsvRow>& rows, const CellFacts& facts) {
  size_t columns = 0;
  for (const CsvRow& row : rows) columns = std::max(columns, row.size());
  const CsvRow header = rows.empty() ? CsvRow() : rows[0];

  // Columns that have a name or a value, and rows that have a value in one of them.
  std::vector<size_t> kept_columns;
  for (size_t c = 0; c < columns; ++c) {
    const CsvCell* name = CellAt(header, c);
    bool used = name && !TrimView(name->text).empty();
    for (size_t r = 1; r < rows.size() && !used; ++r) {
      const CsvCell* cell = CellAt(rows[r], c);
      used = cell && !IsBlank(*cell);
    }
    if (used) kept_columns.push_back(c);
  }
  if (kept_columns.empty()) throw ETableError("The first worksheet has no column to convert");
  std::vector<size_t> kept_rows;
  for (size_t r = 1; r < rows.size(); ++r) {
    for (size_t c : kept_columns) {
      const CsvCell* cell = CellAt(rows[r], c);
      if (cell && !IsBlank(*cell)) {
        kept_rows.push_back(r);
        break;
      }
    }
  }

  SheetTable table;
  table.records.assign(kept_rows.size(), std::vector<SheetValue>(kept_columns.size()));
  std::vector<Cell> cells(kept_rows.size());
  for (size_t k = 0; k < kept_columns.size(); ++k) {
    const size_t c = kept_columns[k];
    SheetField field;
    const CsvCell* name = CellAt(header, c);
    int ignored = 0;
    field.name = name ? Utf8ToGbkCounted(TrimView(name->text), &ignored) : std::string();
    // A line break typed into a caption cell is no part of a field name.
    for (char& ch : field.name) {
      if (static_cast<unsigned char>(ch) < 0x20) ch = '_';
    }
    if (field.name.empty()) field.name = "F" + std::to_string(c + 1);

    bool numbers = true, dates = true, booleans = true, any = false;
    int whole_width = 0, decimals = 0, digits = 0;
    for (size_t i = 0; i < kept_rows.size(); ++i) {
      const size_t r = kept_rows[i];
      auto fact = facts.find({static_cast<uint32_t>(r), static_cast<uint32_t>(c)});
      cells[i] = Classify(CellAt(rows[r], c), fact == facts.end() ? nullptr : &fact->second);
      const Cell& cell = cells[i];
      if (cell.kind == Cell::Kind::kBlank) continue;
      any = true;
      booleans = booleans && cell.kind == Cell::Kind::kBoolean;
      dates = dates && cell.kind == Cell::Kind::kDate;
      numbers = numbers && cell.kind == Cell::Kind::kNumber;
      if (numbers) {
        const std::string& plain = cell.text;
        size_t dot = std::min(plain.find('.'), plain.size());
        whole_width = std::max(whole_width, static_cast<int>(dot));
        decimals = std::max(decimals, static_cast<int>(plain.size() - std::min(dot + 1, plain.size())));
        digits = std::max(digits, static_cast<int>(dot) - (plain.front() == '-' ? 1 : 0));
      }
    }
    const int numeric_length = whole_width + (decimals > 0 ? decimals + 1 : 0);
    if (any && booleans) {
      field.type = 'L';
    } else if (any && numbers && numeric_length <= kMaxNumericLength &&
               (decimals > 0 || digits <= kMaxIntegerDigits)) {
      field.type = 'N';
      field.length = numeric_length;
      field.decimals = decimals;
    } else if (any && dates) {
      field.type = 'D';
      field.length = 8;
    } else {
      field.type = 'C';
      field.length = 1;
    }

    for (size_t i = 0; i < kept_rows.size(); ++i) {
      const Cell& cell = cells[i];
      if (cell.kind == Cell::Kind::kBlank) continue;
      SheetValue& value = table.records[i][k];
      value.blank = false;
      if (field.type == 'N') {
        value.text = cell.text;
      } else if (field.type == 'D') {
        value.date = cell.date;
      } else if (field.type == 'L') {
        value.text = cell.boolean ? "T" : "F";
      } else {
        int replaced = 0;
        value.text = Utf8ToGbkCounted(TextOf(cell), &replaced);
        SheetLosses& losses = table.losses;
        if (replaced > 0 && ++losses.replaced <= static_cast<int>(SheetLosses::kPlacesKept)) {
          losses.replaced_places.push_back(CellPlace(kept_rows[i], c));
        }
        const size_t kept = GbkSafePrefixLength(value.text, kMaxCharLength);
        if (kept < value.text.size()) {
          value.text.resize(kept);
          if (++losses.cut <= static_cast<int>(SheetLosses::kPlacesKept)) {
            losses.cut_places.push_back(CellPlace(kept_rows[i], c));
          }
        }
        field.length = std::max(field.length, static_cast<int>(value.text.size()));
      }
    }
    table.fields.push_back(std::move(field));
  }
  return table;
}

}  // namespace mirestal::import
