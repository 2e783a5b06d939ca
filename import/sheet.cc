#include "import/sheet.h"

#include <algorithm>

#include "platform/gbk.h"
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

SheetTable BuildSheetTable(const std::vector<CsvRow>& rows) {
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
  std::vector<const CsvRow*> kept_rows;
  for (size_t r = 1; r < rows.size(); ++r) {
    for (size_t c : kept_columns) {
      const CsvCell* cell = CellAt(rows[r], c);
      if (cell && !IsBlank(*cell)) {
        kept_rows.push_back(&rows[r]);
        break;
      }
    }
  }

  SheetTable table;
  table.records.assign(kept_rows.size(), std::vector<SheetValue>(kept_columns.size()));
  for (size_t k = 0; k < kept_columns.size(); ++k) {
    const size_t c = kept_columns[k];
    SheetField field;
    const CsvCell* name = CellAt(header, c);
    field.name = name ? Utf8ToGbkLossy(TrimView(name->text)) : std::string();
    // A line break typed into a caption cell is no part of a field name.
    for (char& ch : field.name) {
      if (static_cast<unsigned char>(ch) < 0x20) ch = '_';
    }
    if (field.name.empty()) field.name = "F" + std::to_string(c + 1);

    bool numbers = true, dates = true, any = false;
    int whole_width = 0, decimals = 0, digits = 0;
    for (const CsvRow* row : kept_rows) {
      const CsvCell* cell = CellAt(*row, c);
      if (!cell || IsBlank(*cell)) continue;
      any = true;
      if (cell->quoted) {
        numbers = dates = false;
        break;
      }
      if (numbers) {
        if (std::optional<std::string> plain = PlainDecimal(cell->text)) {
          size_t dot = std::min(plain->find('.'), plain->size());
          whole_width = std::max(whole_width, static_cast<int>(dot));
          decimals = std::max(decimals, static_cast<int>(plain->size() - std::min(dot + 1, plain->size())));
          digits = std::max(digits, static_cast<int>(dot) - (plain->front() == '-' ? 1 : 0));
        } else {
          numbers = false;
        }
      }
      if (dates && !ParseSheetDate(cell->text)) dates = false;
      if (!numbers && !dates) break;
    }
    const int numeric_length = whole_width + (decimals > 0 ? decimals + 1 : 0);
    if (any && numbers && numeric_length <= kMaxNumericLength &&
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

    for (size_t r = 0; r < kept_rows.size(); ++r) {
      const CsvCell* cell = CellAt(*kept_rows[r], c);
      if (!cell || IsBlank(*cell)) continue;
      SheetValue& value = table.records[r][k];
      value.blank = false;
      if (field.type == 'N') {
        value.text = *PlainDecimal(cell->text);
      } else if (field.type == 'D') {
        value.date = ParseSheetDate(cell->text);
      } else {
        value.text = Utf8ToGbkLossy(cell->text);
        value.text.resize(GbkSafePrefixLength(value.text, kMaxCharLength));
        field.length = std::max(field.length, static_cast<int>(value.text.size()));
      }
    }
    table.fields.push_back(std::move(field));
  }
  return table;
}

}  // namespace mirestal::import
