// The table of a worksheet, written with the engine's own table creation and dataset, so that
// it reads back exactly as any roster does.
#include "import/sheet.h"
#include "table/create.h"
#include "table/dataset.h"
#include "table/dbf_table.h"

namespace mirestal::import {

void WriteSheetTable(const std::string& path, const SheetTable& sheet, FileSystem& fs) {
  std::vector<TFieldDef> defs;
  for (const SheetField& field : sheet.fields) {
    defs.push_back({field.name, field.type, field.length, field.decimals});
  }
  CreateTable(path, defs, fs);
  try {
    TTableDataSet dataset("Dbf", fs);
    dataset.TableName = path;
    dataset.Exclusive = true;
    dataset.Open();
    for (const std::vector<SheetValue>& record : sheet.records) {
      dataset.Append();
      for (size_t k = 0; k < record.size(); ++k) {
        const SheetValue& value = record[k];
        if (value.blank) continue;
        TField& field = dataset.Fields(static_cast<int>(k));
        if (sheet.fields[k].type == 'D') {
          field.SetAsDate(value.date);
        } else {
          field.SetAsString(value.text);
        }
      }
      dataset.Post();
    }
    // One flush at the end instead of one per record; a failure removes the table anyway.
    dataset.Table()->Flush();
    dataset.Close();
  } catch (...) {
    try {
      fs.Remove(path);
    } catch (const IoError&) {
    }
    throw;
  }
}

}  // namespace mirestal::import
