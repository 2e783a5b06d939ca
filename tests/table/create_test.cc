// New tables: field rules (cut and unique names, lengths), what an independent reader (Debian's
// dbfread) sees in them, failures that leave nothing behind, and mirestal-cli create.
#include "table/create.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/fault_file.h"
#include "platform/gbk.h"
#include "table/dataset.h"
#include "tests/table/write_test_util.h"

namespace mirestal {
namespace {

using testing::OpenForMaintenance;
using testing::ReadFile;
using testing::RunCommand;
using testing::SourceDir;
using testing::TempDir;
using testing::ThrownMessage;
using testing::WriteFile;

std::string Gbk(const char* utf8) { return *Utf8ToGbk(utf8); }

// Fields as dbfread reads them: "name type length decimals" a line, then the version byte.
std::string ReadFieldsWithDbfread(const TempDir& dir, const std::string& path) {
  WriteFile(dir.File("fields.py"),
            "import sys, dbfread\n"
            "t = dbfread.DBF(sys.argv[1], encoding='gbk')\n"
            "for f in t.fields:\n"
            "    print(f.name, f.type, f.length, f.decimal_count)\n"
            "print(hex(t.header.dbversion))\n");
  std::string out;
  EXPECT_EQ(RunCommand("/usr/bin/python3 " + dir.File("fields.py") + " '" + path + "' 2>&1", &out),
            0)
      << out;
  return out;
}

TEST(CreateTable, NamesAreCutOnCharacterBoundariesAndMadeUniqueAsAnotherReaderSees) {
  TempDir dir;
  const std::string path = dir.File("new.dbf");
  const auto written = CreateTable(path, {{Gbk("考籍号"), 'C', 17, 0},
                                          {Gbk(" 欧阳纳兰小明 "), 'C', 254, 0},
                                          {Gbk("A欧阳纳兰小明"), 'C', 1, 0},
                                          {"score", 'N', 6, 2},
                                          {"SCORE", 'N', 20, 0},
                                          {"Score", 'D', 0, 0},
                                          {"ok", 'L', 5, 0},
                                          {"note", 'M', 0, 0}});
  const std::vector<TFieldDef> expected = {
      {Gbk("考籍号"), 'C', 17, 0}, {Gbk("欧阳纳兰小"), 'C', 254, 0}, {Gbk("A欧阳纳兰"), 'C', 1, 0},
      {"score", 'N', 6, 2},       {"SCORE_2", 'N', 20, 0},       {"Score_3", 'D', 8, 0},
      {"ok", 'L', 1, 0},          {"note", 'M', 10, 0}};
  EXPECT_EQ(written, expected);
  EXPECT_EQ(ReadFieldsWithDbfread(dir, path),
            "考籍号 C 17 0\n欧阳纳兰小 C 254 0\nA欧阳纳兰 C 1 0\nscore N 6 2\nSCORE_2 N 20 0\n"
            "Score_3 D 8 0\nok L 1 0\nnote M 10 0\n0x8b\n");

  // The program can fill it, memo text included, and the other reader reads that back too.
  TTableDataSet ds;
  OpenForMaintenance(ds, path);
  EXPECT_EQ(ds.RecordCount(), 0);
  ds.Append();
  ds.FieldByName(Gbk("考籍号")).SetAsString("110101200800001");
  ds.FieldByName("score").SetAsString("3.5");
  ds.FieldByName("Score_3").SetAsString("2008/1/5");
  ds.FieldByName("note").SetAsString(Gbk("王小明"));
  ds.Post();
  ds.Close();
  std::string ours;
  ASSERT_EQ(RunCommand(std::string(std::getenv("MIRESTAL_CLI")) + " dump '" + path + "'", &ours),
            0);
  std::string theirs;
  ASSERT_EQ(RunCommand("/usr/bin/python3 " + SourceDir() + "/tests/table/dbfread_dump.py '" +
                           path + "'",
                       &theirs),
            0);
  EXPECT_EQ(ours, theirs);
  EXPECT_NE(ours.find("王小明"), std::string::npos);
}

TEST(CreateTable, RefusesFieldListsItCannotWriteAndWritesNothing) {
  TempDir dir;
  const std::string path = dir.File("bad.dbf");
  struct Case {
    std::vector<TFieldDef> fields;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{}, "A table needs at least one field"},
      {std::vector<TFieldDef>(256, {"F", 'L', 1, 0}), "A table takes at most 255 fields, not 256"},
      {{{"  ", 'C', 1, 0}}, "Field 1 has no name"},
      {{{"A\tB", 'C', 1, 0}}, "Field name A\tB holds a control character"},
      {{{"A", 'X', 1, 0}}, "Field A has type X; C, N, D, L and M are supported"},
      {{{"A", 'C', 255, 0}}, "Field A has length 255; C fields take 1 to 254"},
      {{{"A", 'C', 0, 0}}, "Field A has length 0; C fields take 1 to 254"},
      {{{"A", 'N', 21, 0}}, "Field A has length 21; N fields take 1 to 20"},
      {{{"A", 'N', 5, 4}}, "Field A has 4 decimals; a number of length 5 takes at most 3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ThrownMessage([&] { CreateTable(path, c.fields); }), c.message);
    EXPECT_FALSE(PathExists(path)) << c.message;
  }
  WriteFile(dir.File("old.DBT"), "x");
  EXPECT_EQ(ThrownMessage([&] { CreateTable(dir.File("old.DBF"), {{"M", 'M', 10, 0}}); }),
            "File " + dir.File("old.DBT") + " already exists");
  EXPECT_FALSE(PathExists(dir.File("old.DBF")));
}

TEST(CreateTable, AFailedWriteLeavesNeitherFile) {
  TempDir dir;
  const std::string path = dir.File("t.dbf");
  for (int write : {1, 2}) {  // the memo file's header, then the table's
    SCOPED_TRACE(write);
    FaultFileSystem fs;
    fs.FailWriteAt(write);
    EXPECT_EQ(ThrownMessage([&] { CreateTable(path, {{"NOTE", 'M', 10, 0}}, fs); }),
              "Error writing to " + (write == 1 ? dir.File("t.dbt") : path));
    EXPECT_FALSE(PathExists(path));
    EXPECT_FALSE(PathExists(dir.File("t.dbt")));
  }
  CreateTable(path, {{"K", 'C', 3, 0}});
  EXPECT_EQ(ThrownMessage([&] { CreateTable(path, {{"K", 'C', 3, 0}}); }),
            "File " + path + " already exists");
}

TEST(CreateCommand, CreatesTheTableAndPrintsTheFieldsAsWritten) {
  TempDir dir;
  const std::string cli = std::getenv("MIRESTAL_CLI");
  std::string out;
  EXPECT_EQ(RunCommand(cli + " create " + dir.File("t.dbf") +
                           " 考籍号:C:17 SCORE:n:6:2 score:D 2>&1",
                       &out),
            0);
  EXPECT_EQ(out, "考籍号\tC\t17\t0\nSCORE\tN\t6\t2\nscore_2\tD\t8\t0\n");
  EXPECT_EQ(ReadFile(dir.File("t.dbf"))[0], '\x03');
  for (const char* bad : {"K:C", "K:C:x", "K", "K:CC:1"}) {
    EXPECT_EQ(RunCommand(cli + " create " + dir.File("u.dbf") + " " + bad + " 2>&1", &out), 2)
        << bad;
  }
  EXPECT_EQ(RunCommand(cli + " create " + dir.File("t.dbf") + " K:C:1 2>&1", &out), 1);
  EXPECT_EQ(out, "File " + dir.File("t.dbf") + " already exists\n");
}

}  // namespace
}  // namespace mirestal
