// The workbook conversion's reading: arbitrary bytes as the converter's CSV, typed into fields
// and values; bytes after the first NUL are the workbook itself (its cell facts are read) and,
// twelve at a time, facts of their own (row, column, kind, zero-pad width, the number). Any
// exception is fine; a crash, a hang, a sanitizer report or a broken field plan is a bug.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "import/sheet.h"
#include "import/workbook_cells.h"
#include "table/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirestal::import;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string_view csv = input.substr(0, nul);
  const std::string_view rest = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  CellFacts facts = ReadWorkbookFacts(rest);
  for (size_t at = 0; at + 12 <= rest.size() && facts.size() < 64; at += 12) {
    CellFact fact;
    fact.kind = rest[at + 2] & 1 ? CellFact::Kind::kBoolean : CellFact::Kind::kNumber;
    fact.boolean = rest[at + 2] & 2;
    fact.zero_pad = static_cast<uint8_t>(rest[at + 3]) % 24;
    std::memcpy(&fact.number, rest.data() + at + 4, sizeof fact.number);
    facts[{static_cast<uint8_t>(rest[at]), static_cast<uint8_t>(rest[at + 1])}] = fact;
  }

  SheetTable table;
  try {
    table = BuildSheetTable(ParseCsv(csv), facts);
  } catch (const mirestal::ETableError&) {
    return 0;
  }
  // The plan must be one the table creation accepts, and every value must fit its field.
  for (const auto& record : table.records) {
    if (record.size() != table.fields.size()) __builtin_trap();
    for (size_t k = 0; k < record.size(); ++k) {
      const SheetField& f = table.fields[k];
      const SheetValue& v = record[k];
      if (v.blank) continue;
      if (f.type == 'C' && (v.text.size() > 254 || static_cast<int>(v.text.size()) > f.length)) __builtin_trap();
      if (f.type == 'N' && (f.length > 20 || static_cast<int>(v.text.size()) > f.length)) __builtin_trap();
      if (f.type == 'D' && !v.date) __builtin_trap();
      if (f.type == 'L' && v.text != "T" && v.text != "F") __builtin_trap();
    }
  }
  return 0;
}
