// The window logic without widgets: opening rosters, the student info texts, the data buttons'
// conditions through a walk, the position label, the error report text and the walk guard.
#include <gtest/gtest.h>

#include "app/dialogs.h"
#include "app/guard.h"
#include "core/roster_session.h"
#include "platform/paths.h"
#include "tests/app/roster_files.h"

namespace mirestal {
namespace {

using testing::G;
using testing::RosterSpec;
using testing::TempDir;
using testing::WriteRoster;

TEST(RecordPositionText, Forms) {
  struct Case {
    int recno, count;
    const char* text;
  } cases[] = {{5, 120, "5:120"}, {7, -1, "7"}, {-1, 0, "( 0 )"}, {-1, -1, ""}, {-1, 12, "( 12 )"}};
  for (const Case& c : cases) EXPECT_EQ(RecordPositionText(c.recno, c.count), c.text);
}

TEST(ErrorReportText, AppendsADotAfterBytesThatSortAfterIt) {
  struct Case {
    const char* message;
    const char* shown;
  } cases[] = {{"File not found", "File not found."},
               {"Disk full.", "Disk full."},
               {"Error 12", "Error 12."},
               {"count -", "count -"},
               {"无法写入", "无法写入."},
               {"", ""}};
  for (const Case& c : cases) EXPECT_EQ(ErrorReportText(c.message).toStdString(), c.shown);
}

TEST(PhotoNote, NineLinesWithTheProgramFolderInLineSeven) {
  const std::string note = PhotoNote("/opt/拍照/");
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t cr; (cr = note.find('\r', start)) != std::string::npos; start = cr + 1) {
    lines.push_back(note.substr(start, cr - start));
  }
  lines.push_back(note.substr(start));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[6], "    （例如: " + DisplayPath("/opt/拍照/照片/") + " ）");
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[8], "三、学生拍照结束后，请进入该照片文件夹，压缩所需照片后上传。");
}

class SessionTest : public ::testing::Test {
 protected:
  TempDir dir_;
  RosterSession session_{dir_.path() + "/"};
};

TEST_F(SessionTest, OpenOutcomes) {
  const std::string good = WriteRoster(dir_, "good.dbf", {});
  const std::string keyless = WriteRoster(dir_, "keyless.dbf", {.with_key = false});
  const std::string damaged = dir_.File("damaged.dbf");
  testing::WriteFile(damaged, "this is not a table at all, only some words");
  const std::string missing = dir_.File("missing.dbf");
  struct Case {
    std::string path;
    bool opened, has_key;
    std::string message;
  } cases[] = {
      {good, true, true, ""},
      {keyless, true, false, "该文件没有\"考籍号\"字段,无法拍照"},
      {damaged, false, false, "无法打开文件:" + DisplayPath(damaged) + "\r\r请确认该文件没有被别的程序打开,或文件格式是否正确"},
      {missing, false, false, "无法打开文件:" + DisplayPath(missing) + "\r\r请确认该文件没有被别的程序打开,或文件格式是否正确"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    session_.Open(good);  // another roster is open before each attempt
    const OpenOutcome outcome = session_.Open(c.path);
    EXPECT_EQ(outcome.opened, c.opened);
    EXPECT_EQ(outcome.message, c.message);
    EXPECT_EQ(session_.has_key(), c.has_key);
    EXPECT_EQ(session_.key_field_name(), c.has_key ? "考籍号" : "None");
    EXPECT_EQ(session_.dataset().Active(), c.opened);
    EXPECT_FALSE(session_.dataset().ControlsDisabled());
  }
}

TEST_F(SessionTest, StudentInfoTrimsValuesAndNamesMissingFields) {
  testing::DbfBuilder b;
  b.Field(G("考籍号"), 'C', 20).Field(G("姓名"), 'C', 10);
  b.Record({"  12345678901234567", ""});
  testing::WriteFile(dir_.File("r.dbf"), b.Build());
  ASSERT_TRUE(session_.Open(dir_.File("r.dbf")).opened);
  const StudentInfoTexts t = session_.StudentInfo();
  EXPECT_EQ(t.zch, "考籍号：12345678901234567");
  EXPECT_EQ(t.name, "姓名：");
  EXPECT_EQ(t.sex, "性别未知");
  EXPECT_EQ(*session_.CurrentPhotoPath(), dir_.path() + "/照片/12345678901234567.jpg");

  ASSERT_TRUE(session_.Open(WriteRoster(dir_, "k.dbf", {.with_key = false, .with_name_sex = false})).opened);
  const StudentInfoTexts none = session_.StudentInfo();
  EXPECT_EQ(none.zch, "考籍号未知");
  EXPECT_EQ(none.name, "姓名未知");
  EXPECT_FALSE(session_.CurrentPhotoPath());
}

TEST_F(SessionTest, FindListSelectsTheKeyFieldElseTheFirst) {
  ASSERT_TRUE(session_.Open(WriteRoster(dir_, "a.dbf", {})).opened);
  EXPECT_EQ(session_.FieldNames(), (std::vector<std::string>{"SEQ", "考籍号", "姓名", "性别"}));
  EXPECT_EQ(session_.FindListSelection(), 1);
  ASSERT_TRUE(session_.Open(WriteRoster(dir_, "b.dbf", {.with_key = false})).opened);
  EXPECT_EQ(session_.FindListSelection(), 0);
}

TEST_F(SessionTest, DataButtonConditionsThroughAWalk) {
  const unsigned first = kAtBegin | kEditing | kEmpty;  // "首" and "前"
  const unsigned next = kAtEnd | kEditing | kEmpty;     // "后" and "末"
  const unsigned change = kReadOnly | kEditing | kEmpty;
  EXPECT_FALSE(DataButtonEnabled(kReadOnly | kEditing, DataConditions(session_.dataset())));

  ASSERT_TRUE(session_.Open(WriteRoster(dir_, "w.dbf", {.students = 3})).opened);
  TTableDataSet& ds = session_.dataset();
  EXPECT_FALSE(DataButtonEnabled(first, DataConditions(ds)));
  EXPECT_TRUE(DataButtonEnabled(next, DataConditions(ds)));
  PerformDataAction(ds, DataAction::kNext);
  EXPECT_TRUE(DataButtonEnabled(first, DataConditions(ds)));
  PerformDataAction(ds, DataAction::kPrior);  // back on the first record: still enabled
  EXPECT_TRUE(DataButtonEnabled(first, DataConditions(ds)));
  PerformDataAction(ds, DataAction::kPrior);
  EXPECT_FALSE(DataButtonEnabled(first, DataConditions(ds)));
  PerformDataAction(ds, DataAction::kLast);
  EXPECT_FALSE(DataButtonEnabled(next, DataConditions(ds)));
  ds.Edit();
  EXPECT_FALSE(DataButtonEnabled(change, DataConditions(ds)));
  EXPECT_TRUE(DataButtonEnabled(kNotEditing, DataConditions(ds)));
  ds.Cancel();

  ASSERT_TRUE(session_.Open(WriteRoster(dir_, "e.dbf", {.students = 0})).opened);
  EXPECT_FALSE(DataButtonEnabled(first | next | change, DataConditions(ds)));
  EXPECT_TRUE(DataButtonEnabled(kReadOnly | kEditing, DataConditions(ds)));  // add
}

TEST_F(SessionTest, AWalkThatFailsHalfWayRestoresRefreshAndControls) {
  ASSERT_TRUE(session_.Open(WriteRoster(dir_, "w.dbf", {})).opened);
  EXPECT_THROW(
      {
        TableWalkScope walk(session_);
        EXPECT_FALSE(session_.scroll_refresh());
        EXPECT_TRUE(session_.dataset().ControlsDisabled());
        session_.dataset().FieldByName("NO_SUCH_FIELD");
      },
      EDatabaseError);
  EXPECT_TRUE(session_.scroll_refresh());
  EXPECT_FALSE(session_.dataset().ControlsDisabled());
}

TEST_F(SessionTest, AnOpenWhoseHandlersFailIsTakenBackWhole) {
  const std::string good = WriteRoster(dir_, "good.dbf", {});
  session_.dataset().AfterScroll = [](TTableDataSet&) { throw std::runtime_error("cannot show"); };
  const OpenOutcome outcome = session_.Open(good);
  EXPECT_FALSE(outcome.opened);
  EXPECT_FALSE(session_.dataset().Active()) << "reported as not opened, yet left open";
  session_.dataset().AfterScroll = nullptr;
}

// A data-link notice that fails inside the destructor of a walk scope is reported, never thrown
// out of the destructor (which would end the program).
TEST_F(SessionTest, ANoticeFailingWhileAWalkUnwindsIsReportedNotThrown) {
  ASSERT_TRUE(session_.Open(WriteRoster(dir_, "n.dbf", {})).opened);
  struct FailingLink : TDataLink {
    std::vector<std::string> reported;
    void DataSetChanged() override {
      RunNoticeGuarded([] { throw std::runtime_error("label failed"); },
                       [this](const std::string& m) { reported.push_back(m); });
    }
  } link;
  session_.dataset().AddDataLink(&link);
  EXPECT_THROW(
      {
        TableWalkScope walk(session_);
        session_.dataset().FieldByName("NO_SUCH_FIELD");
      },
      EDatabaseError);
  EXPECT_EQ(link.reported, std::vector<std::string>{"label failed"});
  session_.dataset().RemoveDataLink(&link);
}

TEST(Guard, SilentStopShowsNothingAndErrorsAreReported) {
  ScriptedDialogs dialogs;
  EXPECT_EQ(RunGuarded(dialogs, [] { SilentStop(); }), GuardResult::kSilentStop);
  EXPECT_EQ(RunGuarded(dialogs, [] { throw std::runtime_error("Disk full"); }), GuardResult::kError);
  EXPECT_EQ(RunGuarded(dialogs, [] {}), GuardResult::kDone);
  ASSERT_EQ(dialogs.log().size(), 1u);
  EXPECT_EQ(dialogs.log()[0].text, QStringLiteral("Disk full."));
  EXPECT_EQ(dialogs.log()[0].caption, QStringLiteral("Mirestal"));
  EXPECT_EQ(dialogs.log()[0].flags, kMbStop);
}

}  // namespace
}  // namespace mirestal
