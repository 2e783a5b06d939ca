// The dataset over a table: opening, fields, navigation with deleted records hidden, record
// number and count, bookmarks, events and the notices of bound controls.
#include "table/dataset.h"
#include "table/dbf_table.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using testing::DbfBuilder;
using testing::TempDir;
using testing::WriteFile;

class DataSet : public ::testing::Test {
 protected:
  void Write(const DbfBuilder& b) { WriteFile(dir_.File("t.dbf"), b.Build()); }
  void OpenDs() {
    ds_.TableName = dir_.File("t.dbf");
    ds_.Exclusive = true;
    ds_.ExactCount = true;
    ds_.AfterScroll = [this](TTableDataSet&) { events_ += "S"; };
    ds_.BeforeScroll = [this](TTableDataSet&) { events_ += "b"; };
    ds_.AfterOpen = [this](TTableDataSet&) { events_ += "O"; };
    ds_.Open();
  }
  // Records 1-5 with 2 and 4 marked deleted.
  void FiveWithTwoDeleted() {
    DbfBuilder b;
    b.Field("K", 'C', 4);
    for (int i = 1; i <= 5; ++i) b.Record({"r" + std::to_string(i)}, i == 2 || i == 4);
    Write(b);
    OpenDs();
  }
  std::string Key() { return ds_.FieldByName("K").AsString(); }

  TempDir dir_;
  TTableDataSet ds_;
  std::string events_;
};

TEST_F(DataSet, NavigationSkipsDeletedRecords) {
  FiveWithTwoDeleted();
  EXPECT_EQ(events_, "OS");
  EXPECT_EQ(Key(), "r1");
  EXPECT_TRUE(ds_.Bof());
  ds_.Next();
  EXPECT_EQ(Key(), "r3");
  ds_.Next();
  EXPECT_EQ(Key(), "r5");
  EXPECT_EQ(ds_.RecNo(), 5);
  EXPECT_FALSE(ds_.Eof());
  ds_.Next();
  EXPECT_TRUE(ds_.Eof());
  EXPECT_EQ(Key(), "r5");
  events_.clear();
  ds_.Next();  // already at the end: BeforeScroll only
  EXPECT_EQ(events_, "b");
  EXPECT_EQ(ds_.RecordCount(), 3);
  ds_.Prior();
  EXPECT_EQ(Key(), "r3");
  ds_.Last();
  EXPECT_TRUE(ds_.Eof());
  EXPECT_EQ(Key(), "r5");
  ds_.First();
  ds_.MoveBy(2);
  EXPECT_EQ(Key(), "r5");
  ds_.MoveBy(-5);
  EXPECT_EQ(Key(), "r1");
  EXPECT_TRUE(ds_.Bof());
}

TEST_F(DataSet, LoopFromFirstUntilEofVisitsEveryVisibleRecordOnce) {
  FiveWithTwoDeleted();
  std::string seen;
  for (ds_.First(); !ds_.Eof(); ds_.Next()) seen += Key() + ",";
  EXPECT_EQ(seen, "r1,r3,r5,");
}

TEST_F(DataSet, RecNoAssignmentGivesWayToTheNextVisibleRecord) {
  FiveWithTwoDeleted();
  events_.clear();
  ds_.SetRecNo(2);
  EXPECT_EQ(ds_.RecNo(), 3);
  EXPECT_EQ(events_, "S");
  EXPECT_FALSE(ds_.Eof());
  EXPECT_FALSE(ds_.Bof());
  EXPECT_THROW(ds_.SetRecNo(7), ETableError);
}

TEST_F(DataSet, AllRecordsDeletedOpensEmpty) {
  DbfBuilder b;
  b.Field("K", 'C', 4).Record({"x"}, true).Record({"y"}, true);
  Write(b);
  OpenDs();
  EXPECT_EQ(events_, "O");
  EXPECT_TRUE(ds_.IsEmpty());
  EXPECT_TRUE(ds_.Eof());
  EXPECT_TRUE(ds_.Bof());
  EXPECT_EQ(ds_.RecordCount(), 0);
}

TEST_F(DataSet, BookmarksAreRecordNumbersThatCompareAsText) {
  FiveWithTwoDeleted();
  ds_.Next();
  std::string mark = ds_.GetBookmark();
  EXPECT_EQ(mark, std::string("         3") + '\0');
  ds_.Last();
  EXPECT_EQ(TTableDataSet::CompareBookmarks(mark, ds_.GetBookmark()), -1);
  EXPECT_EQ(TTableDataSet::CompareBookmarks("", mark), -1);
  ds_.GotoBookmark(mark);
  EXPECT_EQ(Key(), "r3");
  EXPECT_TRUE(ds_.BookmarkValid(mark));
  EXPECT_FALSE(ds_.BookmarkValid("x"));
  try {
    ds_.GotoBookmark("abc");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "Bookmark is invalid for table " + dir_.File("t.dbf"));
  }
}

TEST_F(DataSet, FieldListKindsWidthsAndLookup) {
  DbfBuilder b;
  b.Field("NAME", 'C', 12).Field("S", 'N', 4).Field("I", 'N', 9).Field("BIG", 'N', 12)
      .Field("F", 'N', 6, 2).Field("D", 'D', 8).Field("L", 'L', 1).Field("X", 'X', 3)
      .Record({"", "-7", "2.5", "999999999999", "3.14", "", "t", "abc"});
  Write(b);
  OpenDs();
  ASSERT_EQ(ds_.FieldCount(), 7);  // X is not offered
  EXPECT_EQ(ds_.FindField("x"), nullptr);
  EXPECT_EQ(ds_.FindField("name")->DataType(), TFieldType::ftString);
  EXPECT_EQ(ds_.Fields(0).DisplayWidth(), 12);
  EXPECT_EQ(ds_.Fields(1).DataType(), TFieldType::ftSmallint);
  EXPECT_EQ(ds_.Fields(2).DataType(), TFieldType::ftInteger);
  EXPECT_EQ(ds_.Fields(3).DataType(), TFieldType::ftLargeint);
  EXPECT_EQ(ds_.Fields(4).DataType(), TFieldType::ftFloat);
  EXPECT_EQ(ds_.Fields(5).DisplayWidth(), 10);
  EXPECT_EQ(ds_.Fields(6).DisplayWidth(), 5);
  EXPECT_TRUE(ds_.Fields(0).IsNull());
  EXPECT_EQ(ds_.Fields(1).AsString(), "-7");
  EXPECT_EQ(ds_.Fields(2).AsString(), "2");  // 2.5 rounds half to even
  EXPECT_EQ(ds_.Fields(3).AsString(), "999999999999");
  EXPECT_EQ(ds_.Fields(3).AsLargeInt(), 999999999999LL);
  EXPECT_EQ(ds_.Fields(4).AsString(), "3.14");
  EXPECT_TRUE(ds_.Fields(5).IsNull());
  EXPECT_EQ(ds_.Fields(5).AsString(), "");
  EXPECT_EQ(ds_.Fields(6).AsString(), "True");
  try {
    ds_.FieldByName("NOPE");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Dbf: Field 'NOPE' not found");
  }
}

TEST_F(DataSet, LargeIntegersAreExactAndNeverWrap) {
  DbfBuilder b;
  b.Field("BIG", 'N', 20).Record({"4294967297"}).Record({"99999999999999999999"});
  Write(b);
  OpenDs();
  EXPECT_EQ(ds_.Fields(0).AsString(), "4294967297");
  ds_.Next();
  EXPECT_EQ(ds_.Fields(0).AsString(), "99999999999999999999");  // shown as it stands
  EXPECT_THROW(ds_.Fields(0).AsLargeInt(), ETableError);
}

TEST_F(DataSet, DatesRenderInTheShortDateFormat) {
  DbfBuilder b;
  b.Field("D", 'D', 8).Record({"20230105"});
  Write(b);
  OpenDs();
  EXPECT_EQ(ds_.Fields(0).AsString(), "2023/1/5");
  EXPECT_EQ(ds_.Fields(0).AsDateTime(), 44931);  // days since 1899-12-30
}

TEST_F(DataSet, DuplicateNamesIgnoringCaseRefuseTheOpen) {
  DbfBuilder b;
  b.Field("Name", 'C', 3).Field("NAME", 'C', 3).Record({"a", "b"});
  Write(b);
  try {
    OpenDs();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "A component named NAME already exists");
  }
  EXPECT_FALSE(ds_.Active());
}

TEST_F(DataSet, GbkTrailBytesAreNotCaseFolded) {
  // Two different characters whose trail bytes are 'a' and 'A' are different names.
  DbfBuilder b;
  b.Field("\xB0\x61", 'C', 3).Field("\xB0\x41", 'C', 3).Record({"a", "b"});
  Write(b);
  EXPECT_NO_THROW(OpenDs());
  EXPECT_EQ(ds_.FieldCount(), 2);
}

TEST_F(DataSet, OpenErrors) {
  TTableDataSet ds;
  EXPECT_THROW(ds.Open(), EDatabaseError);
  ds.TableName = dir_.File("missing");
  try {
    ds.Open();
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot find file " + dir_.File("missing.DBF"));
  }
  EXPECT_THROW(ds.RecNo(), EDatabaseError);
  EXPECT_THROW(ds.RecordCount(), EDatabaseError);

  DbfBuilder b;
  b.Field("K", 'C', 4).Record({"a"});
  Write(b);
  OpenDs();
  TTableDataSet second;
  second.TableName = dir_.File("t.dbf");
  second.Exclusive = true;
  try {
    second.Open();
    FAIL();
  } catch (const ETableError& e) {
    EXPECT_EQ(std::string(e.what()), "Access denied to file " + dir_.File("t.dbf"));
  }
  EXPECT_FALSE(second.Active());
  ds_.Close();
  SetReadOnly(dir_.File("t.dbf"), true);
  EXPECT_THROW(second.Open(), ETableError);  // write access is asked for
  EXPECT_FALSE(second.Active());
}

TEST_F(DataSet, ExtensionIsAddedWhenMissing) {
  DbfBuilder b;
  b.Field("K", 'C', 4).Record({"a"});
  WriteFile(dir_.File("lower.dbf"), b.Build());
  TTableDataSet ds;
  ds.TableName = dir_.File("lower");
  ds.Open();
  EXPECT_EQ(ds.Fields(0).AsString(), "a");
}

class RecordingLink : public TDataLink {
 public:
  void ActiveChanged() override { log += "active;"; }
  void DataSetScrolled() override { log += "scroll;"; }
  void StateChanged() override { log += "state;"; }
  void DataSetChanged() override { log += "data;"; }
  std::string log;
};

TEST_F(DataSet, DisableControlsSilencesLinksButNotEvents) {
  FiveWithTwoDeleted();
  RecordingLink link;
  link.SetDataSet(&ds_);
  events_.clear();
  {
    ScopedDisableControls outer(ds_);
    ScopedDisableControls inner(ds_);
    ds_.Next();
    ds_.Next();
  }
  EXPECT_EQ(events_, "bSbS");
  EXPECT_EQ(link.log, "data;");  // one notice when the counter returns to zero
  link.log.clear();
  ds_.First();
  EXPECT_EQ(link.log, "scroll;");
  ds_.Close();
  EXPECT_EQ(link.log, "scroll;state;active;");
}

TEST_F(DataSet, LinksOwnTheirRegistration) {
  FiveWithTwoDeleted();
  RecordingLink kept;
  {
    RecordingLink gone;
    ds_.AddDataLink(&gone);
    ds_.AddDataLink(&kept);
    EXPECT_EQ(gone.DataSet(), &ds_);
  }  // destroyed while registered: the dataset must not call it again
  ds_.Next();
  EXPECT_EQ(kept.log, "scroll;");
  {
    TTableDataSet other;
    kept.SetDataSet(&other);  // moves: the first dataset no longer tells it
    ds_.Next();
    EXPECT_EQ(kept.log, "scroll;");
  }
  EXPECT_EQ(kept.DataSet(), nullptr);  // the dataset went first and detached it
}

// FoxPro writes "*****" into a number that overflows; the text is shown as it stands, and it
// must be the text of the record being read, not of the one the table read last.
TEST_F(DataSet, UnconvertibleNumbersShowTheRecordBeingRead) {
  DbfBuilder b;
  b.Field("N", 'N', 5);
  b.Record({"7"}).Record({"*****"}).Record({"****9"}).Record({"42"}, true);
  Write(b);
  OpenDs();
  std::string row;
  ASSERT_TRUE(ds_.ReadRecordInto(2, &row));
  {
    TTableDataSet::DisplayBufferScope scope(ds_, row);  // drawing row 2 while 1 is current
    EXPECT_EQ(ds_.Fields(0).AsString(), "*****");
  }
  TRecordView view(ds_);
  ASSERT_TRUE(view.Load(2));
  EXPECT_EQ(ds_.Fields(0).AsString(view), "*****");
  EXPECT_EQ(ds_.Fields(0).AsString(), "7");
  ds_.SetRecNo(3);
  ds_.Next();  // reads the deleted record 4 behind the last visible one
  EXPECT_TRUE(ds_.Eof());
  EXPECT_EQ(ds_.RecNo(), 3);
  EXPECT_EQ(ds_.Fields(0).AsString(), "****9");
  EXPECT_THROW(ds_.Fields(0).AsInteger(), ETableError);
}

TEST_F(DataSet, RecordViewReadsAnyRowWithoutMovingTheCursor) {
  DbfBuilder b;
  b.Field("K", 'C', 4).Field("D", 'D', 8).Field("N", 'N', 6, 2);
  b.Record({"r1", "20230105", "1.5"}).Record({"r2", "", "2"}, true).Record({"r3", "", ""});
  Write(b);
  OpenDs();
  ds_.Next();
  const int cursor = ds_.Table()->CurrentRecord();
  RecordingLink link;
  link.SetDataSet(&ds_);
  TRecordView view(ds_);
  ASSERT_TRUE(view.Load(1));
  EXPECT_EQ(ds_.Fields(0).AsString(view), "r1");
  EXPECT_EQ(ds_.Fields(1).AsDate(view), (TDate{2023, 1, 5}));
  EXPECT_EQ(ds_.Fields(2).AsFloat(view), 1.5);
  ASSERT_TRUE(view.Load(2));
  EXPECT_TRUE(view.Deleted());
  EXPECT_TRUE(ds_.Fields(1).IsNull(view));
  EXPECT_EQ(ds_.Fields(0).DisplayText(view), "r2");
  EXPECT_FALSE(view.Load(4));
  EXPECT_FALSE(view.Loaded());
  EXPECT_EQ(ds_.RecNo(), 3);
  EXPECT_EQ(ds_.Table()->CurrentRecord(), cursor);
  EXPECT_EQ(ds_.State(), TDataSetState::dsBrowse);
  EXPECT_EQ(link.log, "");
  ASSERT_TRUE(view.Load(3));
  ds_.Close();
  ds_.Open();
  EXPECT_THROW(ds_.Fields(0).AsString(view), EDatabaseError);  // loaded before the reopen
}

TEST_F(DataSet, KeptRecordCountIsFastAndEqualsAScan) {
  FiveWithTwoDeleted();
  EXPECT_EQ(ds_.RecordCount(), ds_.CountVisibleByScan());
  ds_.Next();
  EXPECT_EQ(ds_.RecordCount(), 3);
  EXPECT_EQ(Key(), "r3");  // counting does not move the dataset
}

TEST_F(DataSet, DisplayBufferScopeReadsAnotherRecord) {
  FiveWithTwoDeleted();
  std::string row;
  int cursor = ds_.Table()->CurrentRecord();
  ASSERT_TRUE(ds_.ReadRecordInto(4, &row));
  EXPECT_EQ(ds_.CountVisibleByScan(), 3);
  EXPECT_EQ(ds_.Table()->CurrentRecord(), cursor);  // drawing and counting do not move it
  {
    TTableDataSet::DisplayBufferScope scope(ds_, row);
    EXPECT_EQ(Key(), "r4");
  }
  EXPECT_EQ(Key(), "r1");
  EXPECT_FALSE(ds_.ReadRecordInto(6, &row));
}

}  // namespace
}  // namespace mirestal
