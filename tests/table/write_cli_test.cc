// Tables written by the engine, for every version and memo format, read back identically by an
// independent reader (Debian's dbfread); and the pack and set commands of mirestal-cli.
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/gbk.h"
#include "table/dataset.h"
#include "tests/table/write_test_util.h"

namespace mirestal {
namespace {

using testing::DbfBuilder;
using testing::EmptyDbase3Memo;
using testing::EmptyDbase4Memo;
using testing::EmptyFoxMemo;
using testing::OpenForMaintenance;
using testing::ReadFile;
using testing::RunCommand;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

const std::string kKey = "\xBF\xBC\xBC\xAE\xBA\xC5";   // 考籍号
const std::string kName = "\xD0\xD5\xC3\xFB";          // 姓名
const std::string kWang = "\xCD\xF5\xD0\xA1\xC3\xF7";  // 王小明

std::string Cli() { return std::getenv("MIRESTAL_CLI"); }

std::string Cli(const std::string& args, int* status) {
  std::string out;
  *status = RunCommand(Cli() + " " + args + " 2>&1", &out);
  return out;
}

std::string Reference(const std::string& path) {
  std::string out;
  int status = RunCommand(
      "/usr/bin/python3 " + SourceDir() + "/tests/table/dbfread_dump.py '" + path + "' 2>&1", &out);
  EXPECT_EQ(status, 0) << out;
  return out;
}

struct Student {
  std::string key, name, score, age, born, ok, note;
};

TEST(WrittenTables, ReadBackIdenticallyWithAnIndependentReaderForEveryVersion) {
  TempDir dir;
  for (uint8_t version : {0x03, 0x04, 0x83, 0x8B, 0xF5, 0x30}) {
    SCOPED_TRACE(static_cast<int>(version));
    const bool memo = version != 0x03 && version != 0x04;
    const std::string base = dir.File("v" + std::to_string(version));
    DbfBuilder b(version);
    b.Field(kKey, 'C', 17).Field(kName, 'C', 10).Field("SCORE", 'N', 6, 2).Field("AGE", 'N', 3);
    b.Field("BORN", 'D', 8).Field("OK", 'L', 1);
    if (memo) b.Field("NOTE", 'M', version == 0x30 ? 4 : 10);
    if (version == 0x30) b.Field("CNT", 'I', 4).Field("AT", 'T', 8).Flags(0x02);
    WriteFile(base + ".dbf", b.Build());
    if (version == 0x83) WriteFile(base + ".dbt", EmptyDbase3Memo());
    if (version == 0x8B) WriteFile(base + ".dbt", EmptyDbase4Memo(512));
    if (version == 0xF5 || version == 0x30) WriteFile(base + ".fpt", EmptyFoxMemo(64));

    std::vector<Student> students = {
        {"110101200800001", kWang, "3.5", "17", "2008/1/5", "True", "line1\r\n" + kWang},
        {"110101200800002", "A B", "-12.25", "-3", "", "False", ""},
        {"110101200800003", "gone", "1", "1", "2008/1/1", "True", "removed"},
        {"110101200800004", "", "", "", "1999/12/31", "False", std::string(700, 'm')},
        {"110101200800005", "x" + kWang + kWang, "99.99", "100", "2024/2/29", "True", "last"},
    };
    {
      TTableDataSet ds;
      OpenForMaintenance(ds, base + ".dbf");
      for (const Student& s : students) {
        ds.Append();
        ds.FieldByName(kKey).SetAsString(s.key);
        ds.FieldByName(kName).SetAsString(s.name);
        ds.FieldByName("SCORE").SetAsString(s.score);
        ds.FieldByName("AGE").SetAsString(s.age);
        ds.FieldByName("BORN").SetAsString(s.born);
        ds.FieldByName("OK").SetAsString(s.ok);
        if (memo) ds.FieldByName("NOTE").SetAsString(s.note);
        if (version == 0x30) {
          ds.FieldByName("CNT").SetAsInteger(-7);
          ds.FieldByName("AT").SetAsString("2023/1/5 12:30:15");
        }
        ds.Post();
      }
      ds.SetRecNo(2);
      ds.Edit();
      ds.FieldByName("SCORE").SetAsString("-12.5");
      ds.Post();
      ds.SetRecNo(3);
      ds.Delete();
      if (version != 0x04) ds.Pack();  // one table keeps its deleted record
    }
    students[1].score = "-12.5";
    students[4].name = "x" + kWang + kWang.substr(0, 2);  // 9 bytes fit; half a character not
    students[3].score = students[3].age = "0";
    students.erase(students.begin() + 2);

    std::string expected = GbkToUtf8(kKey) + "\t" + GbkToUtf8(kName) + "\tSCORE\tAGE\tBORN\tOK";
    if (memo) expected += "\tNOTE";
    if (version == 0x30) expected += "\tCNT\tAT";
    expected += "\n";
    for (const Student& s : students) {
      std::string note = s.note;
      for (size_t at; (at = note.find("\r\n")) != std::string::npos;) note.replace(at, 2, "\\r\\n");
      expected += s.key + "\t" + GbkToUtf8(s.name) + "\t" + s.score + "\t" + s.age + "\t" + s.born +
                  "\t" + s.ok;
      if (memo) expected += "\t" + GbkToUtf8(note);
      if (version == 0x30) expected += "\t-7\t2023/1/5 12:30:15";
      expected += "\n";
    }
    EXPECT_EQ(Reference(base + ".dbf"), expected);
    int status;
    EXPECT_EQ(Cli("dump " + base + ".dbf", &status), expected);
  }
}

class CliWrite : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfBuilder b;
    b.Field(kKey, 'C', 17).Field(kName, 'C', 10).Field("AGE", 'N', 3);
    for (int i = 1; i <= 6; ++i) {
      b.Record({"11010120080000" + std::to_string(i), "n" + std::to_string(i), std::to_string(i)},
               i == 2 || i == 5);
    }
    WriteFile(Path(), b.Build());
  }
  std::string Path() const { return dir_.File("roster.dbf"); }
  TempDir dir_;
};

TEST_F(CliWrite, PackRemovesDeletedRecordsAndPrintsHowMany) {
  int status;
  EXPECT_EQ(Cli("pack " + Path(), &status), "2 deleted records removed\n");
  EXPECT_EQ(status, 0);
  std::string dump = Cli("dump " + Path(), &status);
  EXPECT_EQ(dump, Reference(Path()));
  EXPECT_EQ(dump.find("n2"), std::string::npos);
  const std::string packed = ReadFile(Path());
  EXPECT_EQ(Cli("pack " + Path(), &status), "0 deleted records removed\n");
  EXPECT_EQ(ReadFile(Path()), packed);
}

TEST_F(CliWrite, SetEditsOneFieldThroughTheDataset) {
  int status;
  EXPECT_EQ(Cli("set " + Path() + " 3 姓名 王小明", &status), "王小明\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(Cli("set " + Path() + " 4 AGE ' 42'", &status), "42\n");
  std::string dump = Cli("dump " + Path(), &status);
  EXPECT_EQ(dump, Reference(Path()));
  EXPECT_NE(dump.find("110101200800003\t王小明\t3\n"), std::string::npos) << dump;
  EXPECT_NE(dump.find("110101200800004\tn4\t42\n"), std::string::npos) << dump;
}

TEST_F(CliWrite, SetReportsTheEnginesMessageAndChangesNothing) {
  const std::string before = ReadFile(Path());
  int status;
  EXPECT_EQ(Cli("set " + Path() + " 1 AGE 4x", &status),
            "'4x' is not a valid integer value for field 'AGE'\n");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Cli("set " + Path() + " 1 AGE 1000", &status),
            "numeric value too big in field AGE - 1000\n");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Cli("set " + Path() + " 1 NOPE 1", &status), "Dbf: Field 'NOPE' not found\n");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Cli("set " + Path() + " 9 AGE 1", &status),
            "Record number 9 is not in table " + Path() + "\n");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(Cli("set " + Path() + " 2 AGE 1", &status), "Record 2 of " + Path() + " is deleted\n");
  EXPECT_EQ(status, 1);
  EXPECT_EQ(ReadFile(Path()), before);
  Cli("set " + Path() + " x AGE 1", &status);
  EXPECT_EQ(status, 2);
  Cli("set " + Path() + " 1 AGE", &status);
  EXPECT_EQ(status, 2);
  Cli("pack", &status);
  EXPECT_EQ(status, 2);
  EXPECT_EQ(Cli("pack " + dir_.File("none.dbf"), &status),
            "Cannot find file " + dir_.File("none.dbf") + "\n");
  EXPECT_EQ(status, 1);
}

}  // namespace
}  // namespace mirestal
