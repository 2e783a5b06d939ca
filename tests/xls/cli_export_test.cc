// mirestal-cli export, and the workbook it writes opened by LibreOffice Calc (headless CSV
// conversion, no repair step) and by the independent readers.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "platform/gbk.h"
#include "tests/testutil/testutil.h"
#include "tests/xls/readers.h"

namespace mirestal {
namespace {

using mirestal::testing::DbfBuilder;
using mirestal::testing::ReadFile;
using mirestal::testing::RunCommand;
using mirestal::testing::TempDir;
using mirestal::testing::WriteFile;
using xls::testing::ShellQuote;

std::string Gbk(const std::string& utf8) { return Utf8ToGbk(utf8).value(); }

std::string Cli() {
  const char* cli = std::getenv("MIRESTAL_CLI");
  return cli ? cli : "mirestal-cli";
}

std::string Roster(const TempDir& dir) {
  DbfBuilder b;
  b.Field(Gbk("考籍号"), 'C', 17)
      .Field(Gbk("姓名"), 'C', 8)
      .Field(Gbk("性别"), 'C', 2)
      .Field(Gbk("出生日期"), 'D', 8)
      .Field(Gbk("成绩"), 'N', 5, 1)
      .Field(Gbk("在校"), 'L', 1)
      .Field(Gbk("编号"), 'N', 19)
      .Field(Gbk("备注"), 'C', 20);
  b.Record({"11010052026100037", Gbk("彭梓"), Gbk("男"), "20080520", "623.2", "T",
            "9007199254740993", Gbk("说\"好\"")});
  b.Record({"11010052026100074", Gbk("付晨然"), Gbk("女"), "19000315", "  0.5", "F", "42", ""});
  b.Record({"00000000000000001", Gbk("  肖雨"), "", "", "*****", "?", "-7", "a,b"});
  std::string path = dir.File("高一.dbf");
  WriteFile(path, b.Build());
  return path;
}

TEST(CliExportTest, WorkbookOpensInLibreOfficeCalcWithEveryValue) {
  TempDir dir;
  std::string roster = Roster(dir);
  std::string book = dir.File("高一.xls");
  std::string out;
  ASSERT_EQ(RunCommand(ShellQuote(Cli()) + " export " + ShellQuote(roster) + " " +
                           ShellQuote(book) + " 2>&1",
                       &out),
            0)
      << out;
  EXPECT_EQ(out, "3 records exported\n");
  std::string bytes = ReadFile(book);
  ASSERT_GE(bytes.size(), 8u);
  ASSERT_EQ(bytes.substr(0, 8), "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");

  auto report = xls::testing::ReadWithReaders(book);
  ASSERT_EQ(report.status, 0) << report.errors;
  EXPECT_EQ(report.errors, "");

  std::string csv_dir = dir.File("csv");
  std::string errors;
  int status = RunCommand(
      "cd " + ShellQuote(dir.path()) +
          " && timeout -k 10 300 soffice -env:UserInstallation=file://" + dir.File("profile") +
          " --headless --norestore --infilter='MS Excel 97' --convert-to "
          "'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,false,false,false,1' "
          "--outdir " +
          ShellQuote(csv_dir) + " " + ShellQuote(book) + " 2>&1",
      &errors);
  ASSERT_EQ(status, 0) << errors;
  EXPECT_EQ(errors.find("\nError:"), std::string::npos) << errors;
  EXPECT_NE(errors.rfind("Error:", 0), 0u) << errors;

  // The first sheet's CSV (its file name carries the sheet's title).
  std::string csv;
  if (DIR* d = opendir(csv_dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name.substr(name.size() - 4) == ".csv")
        csv = ReadFile(csv_dir + "/" + name);
    }
    closedir(d);
  }
  ASSERT_FALSE(csv.empty()) << "no CSV written: " << errors;
  // Texts quoted, numbers raw, dates in the converter's default (US) form, booleans as 1 and 0.
  // (Calc counts days from 30 December 1899 without the 29 February 1900 of the workbook
  // format, so it would show dates before 1 March 1900 one day early; none is used here.)
  EXPECT_EQ(csv,
            "\"考籍号\",\"姓名\",\"性别\",\"出生日期\",\"成绩\",\"在校\",\"编号\",\"备注\"\n"
            "\"11010052026100037\",\"彭梓\",\"男\",05/20/2008,623.2,1,\"9007199254740993\","
            "\"说\"\"好\"\"\"\n"
            "\"11010052026100074\",\"付晨然\",\"女\",03/15/1900,0.5,0,42,\n"
            "\"00000000000000001\",\"肖雨\",,,\"*****\",0,-7,\"a,b\"\n");
}

TEST(CliExportTest, FailurePrintsTheErrorExitsOneAndLeavesNoFile) {
  TempDir dir;
  std::string roster = Roster(dir);
  std::string book = roster + "/out.xls";  // the "folder" is a file
  std::string out;
  EXPECT_EQ(RunCommand(ShellQuote(Cli()) + " export " + ShellQuote(roster) + " " +
                           ShellQuote(book) + " 2>&1",
                       &out),
            1);
  EXPECT_EQ(out, "Directory \"" + roster + "\" not found and cannot be created\n");
  EXPECT_FALSE(PathExists(book));
  EXPECT_EQ(RunCommand(ShellQuote(Cli()) + " export " + ShellQuote(dir.File("missing.dbf")) + " " +
                           ShellQuote(dir.File("x.xls")) + " 2>&1",
                       &out),
            1);
  EXPECT_FALSE(PathExists(dir.File("x.xls")));
}

}  // namespace
}  // namespace mirestal
