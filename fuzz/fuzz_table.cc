// Opens arbitrary bytes as a table and walks every visible record, reading every field.
// Any exception is fine; a crash, a hang or a sanitizer report is a bug.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "table/dataset.h"

namespace {

std::string TablePath() {
  static std::string path = [] {
    std::string p = "/tmp/mirestal-fuzz-table-" + std::to_string(getpid()) + ".dbf";
    return p;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = TablePath();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    mirestal::TTableDataSet ds;
    ds.TableName = path;
    ds.Exclusive = true;
    ds.ReadOnly = true;
    ds.ExactCount = true;
    ds.Open();
    int visited = 0;
    for (ds.First(); !ds.Eof() && visited < 1000; ds.Next(), ++visited) {
      for (int i = 0; i < ds.FieldCount(); ++i) {
        auto& field = ds.Fields(i);
        field.AsString();
        field.DisplayText();
        field.IsNull();
        try {
          field.AsFloat();
        } catch (const std::exception&) {
        }
      }
    }
    ds.Last();
    ds.RecordCount();
    std::string row;
    ds.ReadRecordInto(1, &row);
  } catch (const std::exception&) {
  }
  return 0;
}
