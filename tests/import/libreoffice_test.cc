// Conversions by the installed LibreOffice through the adapter: a roster exported by our own
// writer comes back as the same table; only the first sheet is taken; an earlier table is
// replaced after success and kept after a failure. Also mirestal-cli xls2dbf.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "import/spreadsheet_adapter.h"
#include "import/xls_to_dbf.h"
#include "platform/automation.h"
#include "platform/gbk.h"
#include "table/dataset.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using mirestal::testing::DbfBuilder;
using mirestal::testing::ReadFile;
using mirestal::testing::RunCommand;
using mirestal::testing::TempDir;
using mirestal::testing::WriteFile;

std::string Gbk(const std::string& utf8) { return Utf8ToGbk(utf8).value(); }

std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string Cli() {
  const char* cli = std::getenv("MIRESTAL_CLI");
  return Quote(cli ? cli : "mirestal-cli");
}

std::string Shell(const std::string& command, int expected_status = 0) {
  std::string out;
  int status = RunCommand(command + " 2>&1", &out);
  EXPECT_EQ(status, expected_status) << command << "\n" << out;
  return out;
}

// The type letter of each field, as `info` lists them.
std::string Letters(const std::string& table) {
  TTableDataSet dataset;
  dataset.TableName = table;
  dataset.Open();
  std::string letters;
  for (int i = 0; i < dataset.FieldCount(); ++i) letters += dataset.Fields(i).TypeLetter();
  return letters;
}

// The same under three locales: the machine's locale is no part of the conversion.
TEST(LibreOfficeTest, ExportedRosterConvertsBackToTheSameFieldsAndValuesUnderAnyLocale) {
  TempDir dir;
  DbfBuilder b;
  b.Field(Gbk("考籍号"), 'C', 17)
      .Field(Gbk("姓名"), 'C', 8)
      .Field(Gbk("性别"), 'C', 2)
      .Field(Gbk("出生日期"), 'D', 8)
      .Field(Gbk("成绩"), 'N', 6, 2)
      .Field(Gbk("名次"), 'N', 4)
      .Field(Gbk("编号"), 'N', 19)
      .Field(Gbk("备注"), 'C', 20)
      .Field(Gbk("在校"), 'L', 1);
  b.Record({"11010052026100037", Gbk("彭梓"), Gbk("男"), "20080520", "623.25", "1",
            "9007199254740993", Gbk("说\"好\""), "T"});
  b.Record({"11010052026100074", Gbk("付晨然"), Gbk("女"), "19000101", "95.5", "-12", "42",
            "a,b\nc", "F"});
  b.Record({"00000000000000001", Gbk("肖雨"), "", "19000228", "", "", "-7", "", "T"});
  const std::string roster = dir.File("高一.dbf");
  WriteFile(roster, b.Build());
  ASSERT_EQ(::mkdir(dir.File("收到").c_str(), 0700), 0);
  const std::string book = dir.File("收到/高一.xls");
  const std::string table = dir.File("收到/高一.dbf");
  Shell(Cli() + " export " + Quote(roster) + " " + Quote(book));

  for (const char* locale : {"C.UTF-8", "en_GB.UTF-8", "de_DE.UTF-8"}) {
    const std::string env = std::string("LC_ALL=") + locale + " LANG=" + locale + " ";
    EXPECT_EQ(Shell(env + Cli() + " xls2dbf " + Quote(book)),
              "生成了Dbf文件: \n" + table + "\n\n你可以打开该dbf文件进行拍照。\n")
        << locale;
    EXPECT_EQ(Shell(Cli() + " dump " + Quote(table)), Shell(Cli() + " dump " + Quote(roster)))
        << locale;
    // Texts stay texts, dates dates, numbers numbers, logicals logicals; 64-bit integers that
    // the workbook keeps as text come back as text.
    EXPECT_EQ(Letters(roster), "CCCDNNNCL");
    EXPECT_EQ(Letters(table), "CCCDNNCCL") << locale;
  }
}

// A workbook typed by hand (python3-xlwt writes the cells as the spreadsheet application does):
// keys typed as numbers, keys shown with leading zeros, TRUE in a text column, a cut text and a
// character GBK does not have, under the locale that swaps day and month.
TEST(LibreOfficeTest, TypedWorkbookKeepsItsValuesAndReportsItsLosses) {
  TempDir dir;
  const std::string book = dir.File("typed.xls");
  Shell("/usr/bin/python3 -c " +
        Quote("import sys, xlwt, datetime\n"
              "b = xlwt.Workbook(encoding='utf-8')\n"
              "s = b.add_sheet('s')\n"
              "pad = xlwt.easyxf(num_format_str='00000000000000000')\n"
              "day = xlwt.easyxf(num_format_str='M/D/YY')\n"
              "for c, v in enumerate(['号', '补零', '备注', '日期', '分数']): s.write(0, c, v)\n"
              "s.write(1, 0, 11010052026100038); s.write(2, 0, 1101005202610004)\n"
              "s.write(1, 1, 123, pad); s.write(2, 1, 5, pad)\n"
              "s.write(1, 2, True); s.write(2, 2, '€' + 'a' * 300)\n"
              "s.write(1, 3, datetime.date(1900, 1, 1), day); s.write(2, 3, datetime.date(2008, 5, 12), day)\n"
              "s.write(1, 4, 95.5); s.write(2, 4, -0.25)\n"
              "b.save(sys.argv[1])\n") +
        " " + Quote(book));
  const std::string table = dir.File("typed.dbf");
  EXPECT_EQ(Shell("LC_ALL=en_GB.UTF-8 " + Cli() + " xls2dbf " + Quote(book)),
            "生成了Dbf文件: \n" + table + "\n\n你可以打开该dbf文件进行拍照。\n\n"
            "有1个单元格的文字超过254字节，已截断：第3行C列\n"
            "有1个单元格含有GBK不能表示的字符，已换成“?”：第3行C列\n");
  EXPECT_EQ(Letters(table), "NCCDN");
  EXPECT_EQ(Shell(Cli() + " dump " + Quote(table)),
            "号\t补零\t备注\t日期\t分数\n"
            "11010052026100038\t00000000000000123\tTRUE\t1900/1/1\t95.5\n"
            "1101005202610004\t00000000000000005\t?" + std::string(253, 'a') + "\t2008/5/12\t-0.25\n");
}

class LibreOfficeImportTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterSpreadsheetAdapter(); }
  void TearDown() override { RegisterAutoServer(kSpreadsheetProgId, nullptr); }

  std::string Convert() {
    try {
      ConvertWorkbookToTable({book_, ""}, [this](const std::string&, const std::string&, int) {
        ++messages_;
      });
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }

  TempDir dir_;
  std::string book_ = dir_.File("class1.xls");
  std::string table_ = dir_.File("class1.dbf");
  int messages_ = 0;
};

TEST_F(LibreOfficeImportTest, OnlyTheFirstSheetReplacesAnEarlierTable) {
  // Field names longer than a table allows and twice the same name; a second sheet.
  Shell("/usr/bin/python3 -c " +
      Quote("import sys, xlwt\n"
            "b = xlwt.Workbook(encoding='utf-8')\n"
            "s = b.add_sheet('名单')\n"
            "for c, v in enumerate(['考籍号', '学生的考籍号码', '姓名', '姓名']): s.write(0, c, v)\n"
            "for c, v in enumerate(['0001', 'K1', '甲', '乙']): s.write(1, c, v)\n"
            "t = b.add_sheet('其他')\n"
            "t.write(0, 0, '别的'); t.write(1, 0, 5)\n"
            "b.save(sys.argv[1])\n") +
      " " + Quote(book_));
  WriteFile(table_, "earlier");

  ASSERT_EQ(Convert(), "");
  EXPECT_EQ(messages_, 1);
  TTableDataSet dataset;
  dataset.TableName = table_;
  dataset.Open();
  ASSERT_EQ(dataset.FieldCount(), 4);
  EXPECT_EQ(dataset.Fields(0).FieldName(), Gbk("考籍号"));
  EXPECT_EQ(dataset.Fields(1).FieldName(), Gbk("学生的考籍"));
  EXPECT_EQ(dataset.Fields(2).FieldName(), Gbk("姓名"));
  EXPECT_NE(dataset.Fields(3).FieldName(), Gbk("姓名"));
  EXPECT_LE(dataset.Fields(3).FieldName().size(), 10u);
  EXPECT_EQ(dataset.RecordCount(), 1);
  dataset.First();
  EXPECT_EQ(dataset.Fields(0).AsString(), "0001");
  EXPECT_EQ(dataset.Fields(3).AsString(), Gbk("乙"));
}

TEST_F(LibreOfficeImportTest, EarlierTableSurvivesAWorkbookTheApplicationCannotRead) {
  WriteFile(book_, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(4096, 'x'));
  WriteFile(table_, "earlier");
  std::string error = Convert();
  EXPECT_EQ(error.rfind("The spreadsheet application could not convert " + book_ + ": ", 0), 0u)
      << error;
  EXPECT_EQ(messages_, 0);
  EXPECT_EQ(ReadFile(table_), "earlier");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 2);
}

TEST(CliXls2DbfTest, WithoutTheApplicationTheCreationErrorIsReported) {
  TempDir dir;
  WriteFile(dir.File("a.xls"), std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8));
  EXPECT_EQ(Shell("PATH=" + Quote(dir.path()) + " " + Cli() + " xls2dbf " + Quote(dir.File("a.xls")), 1),
            "Cannot create the spreadsheet application: no spreadsheet application is installed "
            "(soffice not found)\n");
  EXPECT_EQ(Shell(Cli() + " xls2dbf", 2).rfind("mirestal-cli: xls2dbf takes one workbook file", 0), 0u);
}

// mirestal-cli xls2dbf killed while the converter runs (a stand-in that waits): with SIGTERM or
// SIGINT the converter is stopped, the temporary table and folder go and the command ends by
// that signal; with SIGKILL nothing can run, so the next conversion removes what was left (the
// temporary table a later kill leaves: XlsToDbfTest.TemporaryTablesOfAKilledConversion...). The
// earlier table is whole every time.
TEST(CliXls2DbfTest, KilledConversionKeepsTheEarlierTableAndLeavesNothingBehind) {
  TempDir dir;
  const std::string book = dir.File("a.xls"), table = dir.File("a.dbf");
  WriteFile(book, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, 'x'));
  ASSERT_EQ(::mkdir(dir.File("bin").c_str(), 0700), 0);
  ASSERT_EQ(::mkdir(dir.File("tmp").c_str(), 0700), 0);
  const std::string script = dir.File("bin/soffice");
  auto stand_in = [&](const std::string& body) {
    WriteFile(script, "#!/bin/sh\n" + body + "\n");
    ::chmod(script.c_str(), 0755);
  };
  auto folder = [&](const std::string& path) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(path)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  };
  const char* cli = std::getenv("MIRESTAL_CLI");
  ASSERT_NE(cli, nullptr);
  auto start = [&]() {
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::setenv("PATH", (dir.File("bin") + ":/usr/bin:/bin").c_str(), 1);
      ::setenv("TMPDIR", dir.File("tmp").c_str(), 1);
      ::execl(cli, "mirestal-cli", "xls2dbf", book.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Until the stand-in runs.
    for (int i = 0; i < 400 && !PathExists(dir.File("started")); ++i) ::usleep(50000);
    EXPECT_TRUE(PathExists(dir.File("started")));
    return pid;
  };

  stand_in("echo $$ > '" + dir.File("started") + ".tmp'; mv '" + dir.File("started") + ".tmp' '" +
           dir.File("started") + "'; exec sleep 60");
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    WriteFile(table, "earlier");
    const pid_t pid = start();
    const int converter = std::stoi(ReadFile(dir.File("started")));
    ::kill(pid, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << sig << " " << status;
    EXPECT_NE(::kill(converter, 0), 0) << "the converter outlived the command";
    EXPECT_EQ(ReadFile(table), "earlier");
    std::filesystem::remove(dir.File("started"));
    EXPECT_EQ(folder(dir.path()), (std::vector<std::string>{"a.dbf", "a.xls", "bin", "tmp"})) << sig;
    EXPECT_EQ(folder(dir.File("tmp")), std::vector<std::string>()) << sig;
  }

  const pid_t pid = start();
  const int converter = std::stoi(ReadFile(dir.File("started")));
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  ::kill(-converter, SIGKILL);  // what the killed command could not stop
  EXPECT_EQ(ReadFile(table), "earlier");
  std::filesystem::remove(dir.File("started"));
  // The table's temporary name is free until the converter is done; the scratch folder stays.
  EXPECT_EQ(folder(dir.path()), (std::vector<std::string>{"a.dbf", "a.xls", "bin", "tmp"}));
  EXPECT_EQ(folder(dir.File("tmp")).size(), 1u);
  // The next conversion (its converter writes nothing) clears both away.
  stand_in("exit 0");
  std::string out;
  EXPECT_EQ(RunCommand("PATH=" + Quote(dir.File("bin")) + ":/usr/bin:/bin TMPDIR=" +
                           Quote(dir.File("tmp")) + " " + Quote(cli) + " xls2dbf " + Quote(book) + " 2>&1",
                       &out),
            1);
  EXPECT_EQ(ReadFile(table), "earlier");
  EXPECT_EQ(folder(dir.path()), (std::vector<std::string>{"a.dbf", "a.xls", "bin", "tmp"}));
  EXPECT_EQ(folder(dir.File("tmp")), std::vector<std::string>());
}

}  // namespace
}  // namespace mirestal
