// The workbook command against a recording automation object: the calls, their spellings,
// flags and argument kinds, the report, the clean-up, and what happens to an earlier table.
#include "import/xls_to_dbf.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <functional>
#include <memory>

#include "import/spreadsheet_adapter.h"
#include "platform/automation.h"
#include "platform/fault_file.h"
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
  std::function<void(const std::string& member)> on_call;
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
    if (log_->on_call) log_->on_call(member);
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

  // SaveAs leaves a new table behind, as the application does.
  void SaveAsWrites(const std::string& bytes) {
    log_->on_call = [this, bytes](const std::string& member) {
      if (member == "SaveAs") WriteFile(table_, bytes);
    };
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
            "WorkSheets.SaveAs/1(ref " + table_ + ", int 11)",
            "app.WorkBooks/2(int 1)",
            "WorkBooks.Saved/4(bool true)"};
  }
  static std::vector<std::string> CleanUpCalls() {
    return {"app.ActiveWorkBook/3()", "ActiveWorkBook.Saved/4(bool true)",
            "ActiveWorkBook.Close/1()", "app.Quit/1()"};
  }
  std::string Message() const {
    return "message 生成了Dbf文件: \r" + table_ + "\r\r你可以打开该dbf文件进行拍照。|提示|0";
  }

  TempDir dir_;
  std::string book_, table_;
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
  EXPECT_EQ(Run(), "");
  std::vector<std::string> expected = Conversion();
  expected.push_back(Message());
  for (const std::string& line : CleanUpCalls()) expected.push_back(line);
  EXPECT_EQ(log_->lines, expected);
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
    EXPECT_EQ(log_->lines, expected) << "failing call " << fail;
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

TEST_F(XlsToDbfTest, CreationFailureMakesNoCallAndKeepsTheEarlierTable) {
  RegisterAutoServer(kSpreadsheetProgId, []() -> std::unique_ptr<AutoObject> {
    throw AutomationCreateError("no spreadsheet application");
  });
  WriteFile(table_, "earlier");
  EXPECT_EQ(Run(), "no spreadsheet application");
  EXPECT_TRUE(log_->lines.empty());
  EXPECT_EQ(ReadFile(table_), "earlier");
  EXPECT_FALSE(PathExists(table_ + ".bak"));
}

TEST_F(XlsToDbfTest, ReadOnlyEarlierTableIsReplacedAndItsBackupRemoved) {
  WriteFile(table_, "earlier");
  WriteFile(table_ + ".bak", "someone's own file");
  SetReadOnly(table_, true);
  std::string seen_during;
  log_->on_call = [&](const std::string& member) {
    if (member != "SaveAs") return;
    seen_during = PathExists(table_) ? "table still there" : ReadFile(table_ + ".bak2");
    WriteFile(table_, "new");
  };
  EXPECT_EQ(Run(), "");
  EXPECT_EQ(seen_during, "earlier");
  EXPECT_EQ(ReadFile(table_), "new");
  EXPECT_FALSE(PathExists(table_ + ".bak2"));
  EXPECT_EQ(ReadFile(table_ + ".bak"), "someone's own file");
}

TEST_F(XlsToDbfTest, EarlierTableComesBackWithItsAttributeAfterAFailure) {
  WriteFile(table_, "earlier");
  SetReadOnly(table_, true);
  SaveAsWrites("half");
  log_->fail_at = 10;  // SaveAs
  EXPECT_EQ(Run(), "refused SaveAs");
  EXPECT_EQ(ReadFile(table_), "earlier");
  EXPECT_TRUE(IsReadOnly(table_));
  EXPECT_FALSE(PathExists(table_ + ".bak"));
}

TEST_F(XlsToDbfTest, EarlierTableThatCannotBeMovedAsideStopsBeforeTheApplication) {
  WriteFile(table_, "earlier");
  FaultFileSystem fs;
  fs.FailRenames(true);
  std::string error = Run(fs);
  EXPECT_EQ(error.rfind("Cannot move the existing table " + table_ + " aside to " + table_ +
                            ".bak: ",
                        0),
            0u)
      << error;
  EXPECT_FALSE(log_->created);
  EXPECT_EQ(ReadFile(table_), "earlier");
}

TEST_F(XlsToDbfTest, EarlierTableThatCannotBePutBackIsNamedInTheError) {
  WriteFile(table_, "earlier");
  FaultFileSystem fs;
  fs.FailOperation(FileOp::kRename, 2);  // the move aside works, the move back fails
  log_->fail_at = 10;
  std::string error = Run(fs);
  EXPECT_EQ(error.rfind("refused SaveAs\r\rThe earlier table could not be put back (", 0), 0u)
      << error;
  EXPECT_NE(error.find("it is kept as " + table_ + ".bak"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(table_ + ".bak"), "earlier");
}

#ifndef _WIN32  // symbolic and hard links made with the POSIX calls
TEST_F(XlsToDbfTest, TargetThatIsTheOpenRosterOrTheWorkbookIsRefused) {
  WriteFile(table_, "roster");
  ASSERT_EQ(::symlink(table_.c_str(), dir_.File("link.dbf").c_str()), 0);
  ASSERT_EQ(::mkdir(dir_.File("sub").c_str(), 0700), 0);
  struct Case {
    std::string book, roster, error;
  } cases[] = {
      {book_, dir_.File("sub/../link.dbf"),
       "The table " + table_ + " is the roster open in the window; close it before converting"},
      {table_, "", "The workbook " + table_ + " would be replaced by its own table"},
      {dir_.File("link"), "",
       "The workbook " + dir_.File("link") + " would be replaced by its own table"},
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
#endif

}  // namespace
}  // namespace mirestal
