// The spreadsheet adapter with a stand-in converter: a script in place of LibreOffice that
// records how it was started and answers as LibreOffice does.
#include "import/spreadsheet_adapter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/automation.h"
#include "platform/gbk.h"
#include "platform/paths.h"
#include "table/dataset.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using mirestal::testing::ReadFile;
using mirestal::testing::TempDir;
using mirestal::testing::WriteFile;

const std::string kSignature("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);

class AdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    book_ = dir_.File("高一 (1).xls");
    table_ = dir_.File("高一 (1).dbf");
    WriteFile(book_, kSignature + "rest of the workbook");
  }
  void TearDown() override { RegisterAutoServer(kSpreadsheetProgId, nullptr); }

  // Installs a converter script: it notes its arguments, its folder and that it ran, then runs
  // `body` with $out set to the --outdir folder.
  void Converter(const std::string& body, int timeout_seconds = 60) {
    std::string script = dir_.File("soffice");
    WriteFile(script,
              "#!/bin/sh\n"
              "printf '%s\\n' \"$@\" > '" + dir_.File("args") + "'\n"
              "pwd > '" + dir_.File("cwd") + "'\n"
              "out=''\n"
              "for a; do [ \"$prev\" = --outdir ] && out=$a; prev=$a; done\n"
              "eval \"last=\\${$#}\"\n"
              "cp \"$last\" '" + dir_.File("seen.xls") + "'\n" + body + "\n");
    ::chmod(script.c_str(), 0755);
    SpreadsheetAdapterOptions options;
    options.program = script;
    options.timeout_seconds = timeout_seconds;
    RegisterSpreadsheetAdapter(options);
  }

  // Opens the workbook and saves its first sheet as the table; returns the error, if any.
  std::string Convert(const std::string& book, int format = 11) {
    try {
      auto app = CreateAutoObject(kSpreadsheetProgId);
      std::vector<AutoArg> open{AutoValue::TextRef(book)};
      app->Invoke("WorkBooks", AutoInvoke::kMethodOrGet).object->Invoke("Open", AutoInvoke::kMethod,
                                                                        open);
      std::vector<AutoArg> index{AutoValue::Int(1)};
      auto sheet = app->Invoke("WorkSheets", AutoInvoke::kPropertyGet, index).object;
      std::vector<AutoArg> save{AutoValue::TextRef(table_), AutoValue::Int(format)};
      sheet->Invoke("SaveAs", AutoInvoke::kMethod, save);
      app->Invoke("Quit", AutoInvoke::kMethod);
    } catch (const AutomationError& e) {
      return e.what();
    }
    return "";
  }

  TempDir dir_;
  std::string book_, table_;
};

TEST_F(AdapterTest, ConverterIsStartedWithAnArgumentListOnACopyAndItsSheetBecomesTheTable) {
  Converter("printf '\"考籍号\",\"成绩\",\"出生\"\\n\"0001\",12.5,05/20/2008\\n' > \"$out/book-一.csv\"");
  ASSERT_EQ(Convert(book_), "");

  std::vector<std::string> args;
  std::string all = ReadFile(dir_.File("args")), line;
  for (char c : all) {
    if (c == '\n') args.push_back(line), line.clear();
    else line += c;
  }
  ASSERT_EQ(args.size(), 9u) << all;
  std::string scratch = ReadFile(dir_.File("cwd"));
  scratch.pop_back();
  EXPECT_EQ(scratch.rfind(UserTempDirectory() + "mirestal-import-", 0), 0u) << scratch;
  std::vector<std::string> expected = {
      "-env:UserInstallation=file://" + scratch + "/profile",
      "--headless",
      "--norestore",
      "--infilter=MS Excel 97",
      "--convert-to",
      "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,false,false,false,1",
      "--outdir",
      scratch + "/out",
      scratch + "/book.xls"};
  EXPECT_EQ(args, expected);
  EXPECT_EQ(ReadFile(dir_.File("seen.xls")), ReadFile(book_));
  EXPECT_FALSE(std::filesystem::exists(scratch)) << "scratch folder left behind";

  TTableDataSet table;
  table.TableName = table_;
  table.Open();
  ASSERT_EQ(table.FieldCount(), 3);
  EXPECT_EQ(table.Fields(0).FieldName(), Utf8ToGbk("考籍号").value());
  EXPECT_EQ(table.Fields(1).TypeLetter(), 'N');
  EXPECT_EQ(table.Fields(2).TypeLetter(), 'D');
  table.First();
  EXPECT_EQ(table.Fields(0).AsString(), "0001");
  EXPECT_EQ(table.Fields(1).AsFloat(), 12.5);
  EXPECT_EQ(table.Fields(2).AsDate(), (TDate{2008, 5, 20}));
}

TEST_F(AdapterTest, ConverterFailuresAreErrorsAndLeaveNoTable) {
  struct Case {
    std::string body;
    int timeout;
    std::string error;
  } cases[] = {
      {"echo 'Error: source file could not be loaded'; exit 0", 60,
       "The spreadsheet application could not convert " + book_ +
           ": Error: source file could not be loaded"},
      {"echo x > \"$out/book.csv\"; echo 'Error: Please verify input parameters...' >&2", 60,
       "The spreadsheet application could not convert " + book_ +
           ": Error: Please verify input parameters..."},
      {"exit 0", 60, "The spreadsheet application could not convert " + book_ + ": it wrote nothing"},
      {"exit 81", 60,
       "The spreadsheet application could not convert " + book_ + ": it ended with status 81"},
      {"sleep 600", 1,
       "The spreadsheet application did not finish converting " + book_ + " within 1 seconds"},
      {"printf ',,\\n' > \"$out/book.csv\"", 60,
       book_ + ": The first worksheet has no column to convert"},
  };
  for (const Case& c : cases) {
    Converter(c.body, c.timeout);
    EXPECT_EQ(Convert(book_), c.error) << c.body;
    EXPECT_FALSE(PathExists(table_)) << c.body;
  }
}

TEST_F(AdapterTest, WhatIsNotAWorkbookIsRefusedWithoutStartingTheConverter) {
  Converter("touch '" + dir_.File("ran") + "'");
  WriteFile(dir_.File("empty.xls"), "");
  WriteFile(dir_.File("text.xls"), "考籍号,姓名\n");
  struct Case {
    std::string book, error;
  } cases[] = {
      {dir_.File("empty.xls"), "The workbook " + dir_.File("empty.xls") + " is empty"},
      {dir_.File("text.xls"), "The file " + dir_.File("text.xls") + " is not a workbook (.xls)"},
      {dir_.File("missing.xls"),
       "Cannot open the workbook " + dir_.File("missing.xls") + ": not a regular file"},
      {dir_.path(), "Cannot open the workbook " + dir_.path() + ": not a regular file"},
      // A named pipe is never opened: it would wait for a writer for good.
      {dir_.File("pipe.xls"), "Cannot open the workbook " + dir_.File("pipe.xls") + ": not a regular file"},
  };
  ASSERT_EQ(::mkfifo(dir_.File("pipe.xls").c_str(), 0600), 0);
  for (const Case& c : cases) EXPECT_EQ(Convert(c.book), c.error);
  EXPECT_FALSE(PathExists(dir_.File("ran")));
}

TEST_F(AdapterTest, SaveAsNeverReplacesAFileAndWritesOnlyDbaseIv) {
  Converter("touch '" + dir_.File("ran") + "'");
  EXPECT_EQ(Convert(book_, 56), "File format 56 cannot be written; only 11 (dBASE IV) can");
  WriteFile(table_, "earlier");
  EXPECT_EQ(Convert(book_), "The file " + table_ + " already exists");
  EXPECT_EQ(ReadFile(table_), "earlier");
  EXPECT_FALSE(PathExists(dir_.File("ran")));
}

TEST_F(AdapterTest, MissingConverterIsACreationError) {
  SpreadsheetAdapterOptions options;
  options.program = dir_.File("no-soffice");
  RegisterSpreadsheetAdapter(options);
  try {
    CreateAutoObject(kSpreadsheetProgId);
    FAIL() << "created";
  } catch (const AutomationCreateError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create the spreadsheet application: no spreadsheet application is "
              "installed (" + options.program + " not found)");
  }
}

}  // namespace
}  // namespace mirestal
