// The first worksheet of a workbook, as the spreadsheet application writes it in CSV (UTF-8,
// text cells quoted, other cells as raw values), turned into the fields and records of a table.
#pragma once

#include <cstdint>
#include <map>
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

// What the workbook file itself holds in a cell whose converter text loses it: the exact
// number (the converter writes 15 significant digits), a Boolean (written as 1 or 0), and the
// width of a number format made only of zeros ("00000000000000000": the cell shows its leading
// zeros). Keyed by row and column from 0, as the CSV's rows and cells are.
struct CellFact {
  enum class Kind { kNumber, kBoolean } kind = Kind::kNumber;
  double number = 0;
  bool boolean = false;
  int zero_pad = 0;  // 0: no such format
};
using CellFacts = std::map<std::pair<uint32_t, uint32_t>, CellFact>;

// One value of a record: GBK text for C fields, the decimal text for N fields, the date for D
// fields, "T" or "F" for L fields; nothing for a blank cell.
struct SheetValue {
  std::string text;
  std::optional<TDate> date;
  bool blank = true;
};

struct SheetField {
  std::string name;  // GBK, from the first row (the table creation cuts it to size)
  char type = 'C';   // 'C', 'N', 'D' or 'L'
  int length = 1;
  int decimals = 0;
};

// A cell of the sheet, by its place as the operator sees it (row 1 is the caption row; column
// letters A, B, ...): "第3行H列".
std::string CellPlace(size_t row, size_t column);

// Values that did not arrive whole: texts cut to 254 bytes and texts with characters GBK cannot
// hold (each replaced by "?"). Counts of cells, and the first few places (CellPlace).
struct SheetLosses {
  static constexpr size_t kPlacesKept = 5;
  int cut = 0;
  int replaced = 0;
  std::vector<std::string> cut_places;
  std::vector<std::string> replaced_places;
  // The operator's note (UTF-8, lines joined by "\r"); empty when nothing was lost.
  std::string Note() const;
};

struct SheetTable {
  std::vector<SheetField> fields;
  std::vector<std::vector<SheetValue>> records;  // each as long as `fields`
  SheetLosses losses;
};

// The first row names the fields (GBK; control characters become '_'; a column without a name
// is called F<column number>).
// Columns with neither a name nor a value are left out, and so are rows without any value.
// Each cell is read as the converter wrote it, corrected by `facts` where the file said more:
// a Boolean (a fact, or an unquoted TRUE/FALSE), a number (exact digits from the fact), a
// number shown with leading zeros (its text as shown), a date (the workbook's 1900 convention:
// the converter reads serials 1-59 one day early and serial 60 is the workbook's 1900-02-29,
// which no table holds), a date-time, or text.
// A column is L when every value is a Boolean, D when every value is a date, N when every value
// is a number that fits 20 characters (decimals as many as the values need, integers of at most
// 18 digits), else C as long as its longest value (at least 1, at most 254 bytes; longer texts
// are cut on a character boundary). In a C column numbers are plain decimals (never
// scientific), Booleans "TRUE"/"FALSE", dates "yyyy/M/d" and date-times "yyyy/M/d H:mm:ss".
// Blank cells stay blank fields (a number field reads 0 then, as a blank field of any roster).
// Throws ETableError when the sheet has no field.
SheetTable BuildSheetTable(const std::vector<CsvRow>& rows, const CellFacts& facts = {});

// UTF-8 to GBK; every character GBK cannot hold, and the euro sign that GBK writes as the single
// byte 0x80 which strict readers refuse, becomes '?'. *replaced counts the replacements.
std::string Utf8ToGbkCounted(std::string_view utf8, int* replaced);

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
