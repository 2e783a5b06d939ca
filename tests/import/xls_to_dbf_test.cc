// The workbook command against a recording automation object: the calls, their spellings,
// flags and argument kinds, the report, the clean-up, and what happens to an earlier table.
#include "import/xls_to_dbf.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
#include <memory>

#include "import/spreadsheet_adapter.h"
#include "platform/automation.h"
#include "platform/fault_file.h"
#include "platform/paths.h"
#include "platform/target_rule.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using mirestal::testing::ReadFile;
using mirestal::testing::TempDir;
using mirestal::testing::WriteFile;

// Every call of every object goes into one log as "object.member/flags(args)". The n-th call
// (from 1) fails when `fail_at` is n; `on_call` runs before a call is answered.
struct Log {
  std::vector<std::string> lines;
  int fail_at = 0;
  std::function<void(const std::string& member, const std::vector<AutoArg>& args)> on_call;
  bool created = false;
};

std::string Describe(const AutoArg& arg) {
  switch (arg.kind) {
    case AutoKind::kText: return (arg.by_ref ? "ref " : "text ") + arg.text;
    case AutoKind::kInt: return "int " + std::to_string(arg.int_value);
    case AutoKind::kBool: return arg.bool_value ? "bool true" : "bool false";
    case AutoKind::kObject: return "object";
    case AutoKind::kEmpty: break;
  }
  return "empty";
}

class Recorder : public AutoObject {
 public:
  Recorder(std::string name, std::shared_ptr<Log> log) : name_(std::move(name)), log_(log) {}
  AutoValue Invoke(const std::string& member, AutoInvoke flags,
                   std::vector<AutoArg>& args) override {
    std::string line = name_ + "." + member + "/" + std::to_string(static_cast<int>(flags)) + "(";
    for (size_t i = 0; i < args.size(); ++i) line += (i ? ", " : "") + Describe(args[i]);
    log_->lines.push_back(line + ")");
    if (log_->on_call) log_->on_call(member, args);
    if (static_cast<int>(log_->lines.size()) == log_->fail_at) {
      throw AutomationError("refused " + member);
    }
    if (flags == AutoInvoke::kPropertyGet || flags == AutoInvoke::kMethodOrGet) {
      return AutoValue::Object(std::make_shared<Recorder>(member, log_));
    }
    return {};
  }

 private:
  std::string name_;
  std::shared_ptr<Log> log_;
};

class XlsToDbfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    book_ = dir_.File("高一(1).xls");
    table_ = dir_.File("高一(1).dbf");
    WriteFile(book_, "workbook");
    SaveAsWrites("new");
    auto log = log_;
    RegisterAutoServer(kSpreadsheetProgId, [log]() -> std::unique_ptr<AutoObject> {
      log->created = true;
      return std::make_unique<Recorder>("app", log);
    });
  }
  void TearDown() override { RegisterAutoServer(kSpreadsheetProgId, nullptr); }

  // Runs the command; returns the error text, empty on success.
  std::string Run(FileSystem& fs = FileSystem::Default(), const std::string& roster = "") {
    auto box = [this](const std::string& text, const std::string& caption, int flags) {
      log_->lines.push_back("message " + text + "|" + caption + "|" + std::to_string(flags));
    };
    try {
      EXPECT_EQ(ConvertWorkbookToTable({book_, roster}, box, fs), table_);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }

  // SaveAs leaves a new table behind at the name it is given, as the application does; the
  // name is noted (the log shows it as "TEMP").
  void SaveAsWrites(const std::string& bytes) {
    log_->on_call = [this, bytes](const std::string& member, const std::vector<AutoArg>& args) {
      if (member != "SaveAs") return;
      saved_as_ = args[0].text;
      EXPECT_FALSE(PathExists(saved_as_));
      WriteFile(saved_as_, bytes);
    };
  }

  // Everything in the folder but the workbook and the table: no temporary file may stay.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(FsPath(dir_.path()))) {
      const std::string path = Utf8Path(e.path());
      if (path != book_ && path != table_) names.push_back(path);
    }
    return names;
  }

  std::vector<std::string> Conversion() const {
    return {"app.WorkBooks/3()",
            "WorkBooks.Open/1(ref " + book_ + ")",
            "app.Visible/4(bool false)",
            "app.WorkSheets/2(int 1)",
            "WorkSheets.Activate/1()",
            "app.Columns/3()",
            "Columns.AutoFit/1()",
            "app.goto/1(text R1C1)",
            "app.WorkSheets/2(int 1)",
            "WorkSheets.SaveAs/1(ref TEMP, int 11)",
            "app.WorkBooks/2(int 1)",
            "WorkBooks.Saved/4(bool true)"};
  }
  static std::vector<std::string> CleanUpCalls() {
    return {"app.ActiveWorkBook/3()", "ActiveWorkBook.Saved/4(bool true)",
            "ActiveWorkBook.Close/1()", "app.Quit/1()"};
  }
  // The log with the temporary table's name (checked below) written as TEMP.
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines = log_->lines;
    for (std::string& line : lines) {
      const size_t at = saved_as_.empty() ? std::string::npos : line.find(saved_as_);
      if (at != std::string::npos) line.replace(at, saved_as_.size(), "TEMP");
    }
    return lines;
  }
  std::string Message() const {
    return "message 生成了Dbf文件: \r" + table_ + "\r\r你可以打开该dbf文件进行拍照。|提示|0";
  }

  TempDir dir_;
  std::string book_, table_, saved_as_;
  std::shared_ptr<Log> log_ = std::make_shared<Log>();
};

TEST(TablePathTest, ExtensionOfTheFileNameIsReplaced) {
  struct Case {
    const char* book;
    const char* table;
  } cases[] = {
      {"/data/class1.xls", "/data/class1.dbf"},
      {"/data/class1.XLS", "/data/class1.dbf"},
      {"/data/a.b.xls", "/data/a.b.dbf"},
      {"/data/class1", "/data/class1.dbf"},
      {"/data.v2/class1", "/data.v2/class1.dbf"},
      {"/data/高一.", "/data/高一.dbf"},
      {"D:\\data\\class1.xls", "D:\\data\\class1.dbf"},
  };
  for (const Case& c : cases) EXPECT_EQ(TablePathForWorkbook(c.book), c.table) << c.book;
}

TEST_F(XlsToDbfTest, SuccessMakesTheCallsInOrderReportsThenCleansUp) {
  WriteFile(table_, "earlier");
  EXPECT_EQ(Run(), "");
  std::vector<std::string> expected = Conversion();
  expected.push_back(Message());
  for (const std::string& line : CleanUpCalls()) expected.push_back(line);
  EXPECT_EQ(Lines(), expected);
  // Written beside the table under a name of its own, then renamed over it.
  EXPECT_EQ(saved_as_.rfind(table_ + ".import-", 0), 0u) << saved_as_;
  EXPECT_EQ(saved_as_.size(), table_.size() + 8 + 12);
  EXPECT_EQ(ReadFile(table_), "new");
  EXPECT_TRUE(Leftovers().empty());
}

TEST_F(XlsToDbfTest, FailingCallIsReportedAfterTheCleanUpWithoutMessage) {
  const size_t calls = Conversion().size();
  for (size_t fail = 1; fail <= calls; ++fail) {
    log_->lines.clear();
    log_->fail_at = static_cast<int>(fail);
    std::vector<std::string> conversion = Conversion();
    std::string member = conversion[fail - 1].substr(conversion[fail - 1].find('.') + 1);
    member = member.substr(0, member.find('/'));
    EXPECT_EQ(Run(), "refused " + member);
    std::vector<std::string> expected(conversion.begin(), conversion.begin() + fail);
    for (const std::string& line : CleanUpCalls()) expected.push_back(line);
    EXPECT_EQ(Lines(), expected) << "failing call " << fail;
  }
}

TEST_F(XlsToDbfTest, FailingCleanUpCallStillQuitsAndKeepsTheSuccess) {
  const int first = static_cast<int>(Conversion().size()) + 2;  // after the message
  struct Case {
    int fail_offset;
    std::vector<std::string> cleanup;
  } cases[] = {
      {0, {"app.ActiveWorkBook/3()", "app.Quit/1()"}},
      {1, CleanUpCalls()},
      {2, CleanUpCalls()},
      {3, CleanUpCalls()},
  };
  for (const Case& c : cases) {
    log_->lines.clear();
    log_->fail_at = first + c.fail_offset;
    EXPECT_EQ(Run(), "");
    std::vector<std::string> tail(log_->lines.end() - static_cast<long>(c.cleanup.size()),
                                  log_->lines.end());
    EXPECT_EQ(tail, c.cleanup) << "failing clean-up call " << c.fail_offset;
  }
}

// The conversion stopped at each of its steps: the earlier table stays as it was and no
// temporary file is left beside it.
TEST_F(XlsToDbfTest, EarlierTableSurvivesAStopAtEveryStep) {
  struct Case {
    const char* step;
    int fail_at;           // the failing automation call (0: none)
    bool no_application;   // the application cannot be created
    FileOp fs_op;          // the failing file operation ...
    int fs_nth;            // ... at its n-th use (0: none)
    const char* error;     // the start of the error
  } cases[] = {
      {"before the application", 0, true, FileOp::kRename, 0, "no spreadsheet application"},
      {"no temporary name", 0, false, FileOp::kCreateExclusiveTemp, 1, "无法在原表旁边建立新表："},
      {"while it converts", 10, false, FileOp::kRename, 0, "refused SaveAs"},
      {"after the new table is written", 12, false, FileOp::kRename, 0, "refused Saved"},
      {"during the swap", 0, false, FileOp::kRename, 1, "无法替换数据表："},
  };
  for (const Case& c : cases) {
    WriteFile(table_, "earlier");
    SetReadOnly(table_, false);
    log_->lines.clear();
    log_->fail_at = c.fail_at;
    if (c.no_application) {
      RegisterAutoServer(kSpreadsheetProgId, []() -> std::unique_ptr<AutoObject> {
        throw AutomationCreateError("no spreadsheet application");
      });
    } else {
      auto log = log_;
      RegisterAutoServer(kSpreadsheetProgId, [log]() -> std::unique_ptr<AutoObject> {
        return std::make_unique<Recorder>("app", log);
      });
    }
    FaultFileSystem fs;
    if (c.fs_nth > 0) fs.FailOperation(c.fs_op, c.fs_nth);
    const std::string error = Run(fs);
    EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.step << ": " << error;
    EXPECT_EQ(ReadFile(table_), "earlier") << c.step;
    EXPECT_EQ(Leftovers(), std::vector<std::string>()) << c.step;
  }
}

TEST_F(XlsToDbfTest, TemporaryTablesOfAKilledConversionAreRemovedFirst) {
  WriteFile(table_ + ".import-AbCdEfGhIjKl", "left by a killed conversion");
  WriteFile(table_ + ".import-short", "someone's own file");
  EXPECT_EQ(Run(), "");
  EXPECT_FALSE(PathExists(table_ + ".import-AbCdEfGhIjKl"));
  EXPECT_EQ(ReadFile(table_ + ".import-short"), "someone's own file");
}

#ifndef _WIN32  // symbolic and hard links made with the POSIX calls
TEST_F(XlsToDbfTest, TargetThatIsTheOpenRosterOrTheWorkbookIsRefused) {
  WriteFile(table_, "roster");
  ASSERT_EQ(::symlink(table_.c_str(), dir_.File("link.dbf").c_str()), 0);
  ASSERT_EQ(::mkdir(dir_.File("sub").c_str(), 0700), 0);
  struct Case {
    std::string book, roster, error;
  } cases[] = {
      {book_, dir_.File("sub/../link.dbf"), std::string(kMsgTargetIsTable) + "\r" + table_},
      {table_, "", std::string(kMsgTargetIsSource) + "\r" + table_},
      {dir_.File("link"), "", std::string(kMsgTargetIsSource) + "\r" + dir_.File("link.dbf")},
  };
  ::link(table_.c_str(), dir_.File("link").c_str());
  for (const Case& c : cases) {
    book_ = c.book;
    std::string error;
    try {
      ConvertWorkbookToTable({c.book, c.roster}, [](auto&&...) {});
    } catch (const EImportError& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.error);
  }
  EXPECT_FALSE(log_->created);
  EXPECT_EQ(ReadFile(table_), "roster");
}

// A named pipe never reaches the application (it would wait for a writer for good), nor does a
// folder; a read-only earlier table is kept.
TEST_F(XlsToDbfTest, WorkbookThatIsNoFileAndReadOnlyTableAreRefusedFirst) {
  const std::string pipe = dir_.File("pipe.xls");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(dir_.File("folder.xls").c_str(), 0700), 0);
  WriteFile(table_, "read-only");
  SetReadOnly(table_, true);
  struct Case {
    std::string book, error;
  } cases[] = {
      {pipe, "工作簿不是普通文件，无法转换：" + pipe},
      {dir_.File("folder.xls"), "工作簿不是普通文件，无法转换：" + dir_.File("folder.xls")},
      {dir_.File("none.xls"), "工作簿文件不存在：" + dir_.File("none.xls")},
      {book_, std::string(kMsgTargetReadOnly) + "\r" + table_},
  };
  for (const Case& c : cases) {
    std::string error;
    try {
      ConvertWorkbookToTable({c.book, ""}, [](auto&&...) {});
    } catch (const EImportError& e) {
      error = e.what();
    }
    EXPECT_EQ(error, c.error);
  }
  EXPECT_FALSE(log_->created);
  EXPECT_EQ(ReadFile(table_), "read-only");
  EXPECT_FALSE(PathExists(dir_.File("pipe.dbf")));
}
#endif

}  // namespace
}  // namespace mirestal
