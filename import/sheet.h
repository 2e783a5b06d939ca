// The first worksheet of a workbook, as the spreadsheet application writes it in CSV (UTF-8,
// text cells quoted, other cells as raw values), turned into the fields and records of a table.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "table/types.h"

namespace mirestal::import {

struct CsvCell {
  std::string text;     // UTF-8, quotes removed
  bool quoted = false;  // a text cell; unquoted cells are numbers, dates, booleans or empty
};
using CsvRow = std::vector<CsvCell>;

// Splits CSV text (',' between cells, '"' around quoted cells with '""' inside, "\n" or "\r\n"
// between rows; a quoted cell may span lines). A final line break ends the last row.
std::vector<CsvRow> ParseCsv(std::string_view csv);

// One value of a record: GBK text for C fields, the decimal text for N fields, the date for D
// fields; nothing for a blank cell.
struct SheetValue {
  std::string text;
  std::optional<TDate> date;
  bool blank = true;
};

struct SheetField {
  std::string name;  // GBK, from the first row (the table creation cuts it to size)
  char type = 'C';   // 'C', 'N' or 'D'
  int length = 1;
  int decimals = 0;
};

struct SheetTable {
  std::vector<SheetField> fields;
  std::vector<std::vector<SheetValue>> records;  // each as long as `fields`
};

// The first row names the fields (GBK; control characters become '_'; a column without a name
// is called F<column number>).
// Columns with neither a name nor a value are left out, and so are rows without any value.
// A column is D when every value is a date, N when every value is a decimal number that fits
// 20 characters (decimals as many as the values need), else C as long as its longest value
// (at least 1, at most 254 bytes; longer texts are cut on a character boundary).
// Throws ETableError when the sheet has no field.
SheetTable BuildSheetTable(const std::vector<CsvRow>& rows);

// Creates the dBASE IV table `path` (which must not exist) with the sheet's fields and writes its
// records. On failure the partly written table is removed and the error rethrown.
void WriteSheetTable(const std::string& path, const SheetTable& table, FileSystem& fs);

// Parses the spreadsheet application's text of a date cell: year-month-day with '-' or '/',
// month/day/year, day.month.year (four-digit years; no time of day).
std::optional<TDate> ParseSheetDate(std::string_view text);

// The plain decimal form of a number cell ("1.5E+003" → "1500"); nullopt when the text is not
// a number.
std::optional<std::string> PlainDecimal(std::string_view text);

}  // namespace mirestal::import
