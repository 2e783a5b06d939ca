// A catalogue of damaged tables, each made from one valid table with one change. Each is
// refused (or read) with its exact message; none may crash or hang.
#include <gtest/gtest.h>

#include <functional>

#include "table/dataset.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using testing::DbfBuilder;
using testing::TempDir;
using testing::WriteFile;

std::string ValidTable() {
  DbfBuilder b;
  b.Field("KEY", 'C', 6).Field("N", 'N', 4).Field("D", 'D', 8);
  b.Record({"a1", "12", "20230105"}).Record({"b2", "-3", "20240229"});
  return b.Build();
}

struct Damage {
  const char* name;
  std::function<void(std::string&)> change;
  const char* message;  // "%s" stands for the table's path; empty: opens and walks
};

// Opens the table and reads every field of every visible record; returns the error text or "".
std::string OpenAndWalk(const std::string& path) {
  try {
    TTableDataSet ds;
    ds.TableName = path;
    ds.Exclusive = true;
    ds.ReadOnly = true;
    ds.ExactCount = true;
    ds.Open();
    for (ds.First(); !ds.Eof(); ds.Next()) {
      for (int i = 0; i < ds.FieldCount(); ++i) {
        ds.Fields(i).AsString();
        ds.Fields(i).IsNull();
        if (ds.Fields(i).DataType() != TFieldType::ftString) ds.Fields(i).AsFloat();
      }
    }
    ds.RecordCount();
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

TEST(DamagedTables, EachGivesItsExactMessage) {
  const std::vector<Damage> catalogue = {
      {"valid", [](std::string&) {}, ""},
      {"truncated header", [](std::string& b) { b.resize(20); }, "Error on Read of file %s"},
      {"short descriptor area", [](std::string& b) { b.resize(60); }, "Error on Read of file %s"},
      {"header length past the end", [](std::string& b) { b[8] = 0x00; b[9] = 0x10; },
       "Error on Read of file %s"},
      {"record length 0", [](std::string& b) { b[10] = 0; b[11] = 0; },
       "Table Header for %s is invalid"},
      {"header length too small", [](std::string& b) { b[8] = 40; b[9] = 0; },
       "Table Header for %s is invalid"},
      {"wrong version byte 0x31", [](std::string& b) { b[0] = 0x31; },
       "Table Header for %s is invalid"},
      {"wrong version byte 0xFB", [](std::string& b) { b[0] = static_cast<char>(0xFB); },
       "Table Header for %s is invalid"},
      {"enciphered flag", [](std::string& b) { b[15] = 1; }, "No Password for encrypted file %s"},
      {"truncated last record", [](std::string& b) { b.resize(b.size() - 5); }, ""},
      {"field past the record", [](std::string& b) { b[10] = 12; },
       "Table Header for %s is invalid"},
      {"N field with garbage",
       [](std::string& b) { b.replace(b.size() - 1 - 19 + 7, 4, " 1,5"); },
       "Invalid numeric value in field t->N (1,5)"},
      {"date of 31 February",
       [](std::string& b) { b.replace(b.size() - 1 - 8, 8, "20230231"); }, ""},
      {"11-byte name without NUL",
       [](std::string& b) { b.replace(32, 11, "ABCDEFGHIJK"); }, ""},
  };
  TempDir dir;
  for (const Damage& d : catalogue) {
    SCOPED_TRACE(d.name);
    std::string bytes = ValidTable();
    d.change(bytes);
    std::string path = dir.File("t.dbf");
    WriteFile(path, bytes);
    std::string expected = FormatMessage(d.message, {path});
    EXPECT_EQ(OpenAndWalk(path), expected);
  }
}

TEST(DamagedTables, VisualFoxProBinaryFieldShorterThanItsWidth) {
  DbfBuilder b(0x30);
  b.Field("I", 'I', 2).Record({"ab"});
  TempDir dir;
  WriteFile(dir.File("t.dbf"), b.Build());
  EXPECT_EQ(OpenAndWalk(dir.File("t.dbf")),
            "Table Header for " + dir.File("t.dbf") + " is invalid");
}

TEST(DamagedTables, OverflowMarksAreShownButDoNotConvert) {
  DbfBuilder b;
  b.Field("N", 'N', 5, 1).Record({"*****"});
  TempDir dir;
  WriteFile(dir.File("t.dbf"), b.Build());
  TTableDataSet ds;
  ds.TableName = dir.File("t.dbf");
  ds.Open();
  EXPECT_EQ(ds.Fields(0).AsString(), "*****");
  try {
    ds.Fields(0).AsFloat();
    FAIL();
  } catch (const ETableError& e) {
    EXPECT_STREQ(e.what(), "Invalid numeric value in field t->N (*****)");
  }
}

}  // namespace
}  // namespace mirestal
