// set FILE RECNO FIELD VALUE: edits one field of one record through the dataset, as the grid
// does (Edit, the field's text conversion, Post), so that the same put, post and header path
// runs. FIELD and VALUE are UTF-8 and stored as GBK.
#include <charconv>
#include <cstdio>
#include <string>

#include "platform/gbk.h"
#include "table/dataset.h"
#include "table/dbf_table.h"
#include "table/roster.h"
#include "tools/mirestal-cli/command.h"

namespace mirestal::cli {
namespace {

std::string ToGbk(const std::string& utf8, const char* what) {
  auto gbk = Utf8ToGbk(utf8);
  if (!gbk) throw UsageError(std::string(what) + " holds a character that GBK cannot store");
  return *gbk;
}

int RunSet(const std::vector<std::string>& args) {
  if (args.size() != 4)
    throw UsageError("set takes a table file, a record number, a field and a value");
  int record = 0;
  const std::string& number = args[1];
  auto r = std::from_chars(number.data(), number.data() + number.size(), record);
  if (r.ec != std::errc() || r.ptr != number.data() + number.size()) {
    throw UsageError("record number '" + number + "' is not a number");
  }
  const std::string field_name = ToGbk(args[2], "the field name");
  const std::string value = ToGbk(args[3], "the value");

  TTableDataSet dataset;
  ConfigureRoster(dataset, args[0]);
  dataset.Open();
  DbfTable& table = *dataset.Table();
  if (record < 1 || record > table.RecordCount()) {
    throw ETableError(FormatMessage("Record number %d is not in table %s",
                                    {std::to_string(record), table.FileName()}));
  }
  TField& field = dataset.FieldByName(field_name);
  dataset.SetRecNo(record);
  if (dataset.RecNo() != record) {
    // RecNo gives way to the next visible record when the one asked for is marked deleted.
    throw ETableError(
        FormatMessage("Record %d of %s is deleted", {std::to_string(record), table.FileName()}));
  }
  dataset.Edit();
  try {
    field.SetAsString(value);
    dataset.Post();
  } catch (...) {
    dataset.Cancel();
    throw;
  }
  std::printf("%s\n", GbkToUtf8(field.AsString()).c_str());
  dataset.Close();
  return 0;
}

CommandRegistrar set({"set", "set FILE RECNO FIELD VALUE", RunSet});

}  // namespace
}  // namespace mirestal::cli
