// Setting field values through the dataset: the text conversions of the field objects and their
// messages, the state checks, and the kept record count against a fresh scan after every kind
// of change.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "platform/gbk.h"
#include "table/dataset.h"
#include "table/dbf_table.h"
#include "tests/table/write_test_util.h"

namespace mirestal {
namespace {

using testing::DbfBuilder;
using testing::OpenForMaintenance;
using testing::RawRecords;
using testing::ReadFile;
using testing::TempDir;
using testing::ThrownMessage;
using testing::WriteFile;

const std::string kName = "\xD0\xD5\xC3\xFB";                                      // 姓名
const std::string kLongName = "\xC5\xB7\xD1\xF4\xC4\xC9\xC0\xBC\xD0\xA1\xC3\xF7";  // 欧阳纳兰小明

class RecordingLink : public TDataLink {
 public:
  void RecordChanged(const TField* field) override {
    changes += field ? field->FieldName() + ";" : std::string("*;");
  }
  std::string changes;
};

class FieldSet : public ::testing::Test {
 protected:
  void SetUp() override {
    DbfBuilder b;
    b.Field(kName, 'C', 10).Field("SCORE", 'N', 6, 2).Field("AGE", 'N', 3).Field("BORN", 'D', 8);
    b.Field("OK", 'L', 1).Field("BIG", 'N', 20).Field("RATE", 'F', 9, 4);
    b.Record({"a", "1.00", "17", "20080520", "T", "1", "0.5"});
    b.Record({"b", "2.00", "18", "20080101", "F", "2", "0.25"});
    WriteFile(Path(), b.Build());
    OpenForMaintenance(ds_, Path());
    ds_.AddDataLink(&link_);
  }
  void TearDown() override { ds_.RemoveDataLink(&link_); }
  std::string Path() const { return dir_.File("t.dbf"); }
  TField& F(const std::string& name) { return ds_.FieldByName(name); }
  std::string Raw(int record, size_t from, size_t length) {
    return RawRecords(ReadFile(Path()))[record - 1].substr(from, length);
  }

  TempDir dir_;
  TTableDataSet ds_;
  RecordingLink link_;
};

// Offsets in the record: 姓名 1, SCORE 11, AGE 17, BORN 20, OK 28, BIG 29, RATE 49.

TEST_F(FieldSet, SettingOutsideEditOrInsertStateIsRefused) {
  EXPECT_EQ(ThrownMessage([&] { F("AGE").SetAsString("3"); }),
            "Dataset not in edit or insert mode");
  EXPECT_EQ(ThrownMessage([&] { F("AGE").Clear(); }), "Dataset not in edit or insert mode");
  ds_.Edit();
  ds_.ReadOnly = true;
  EXPECT_EQ(ThrownMessage([&] { F("AGE").SetAsInteger(3); }),
            "Dbf: Cannot modify a read-only dataset");
}

TEST_F(FieldSet, NumbersTypedIntoTheGridAreRoundedOrRefused) {
  ds_.Edit();
  F("SCORE").SetAsString("3.14159");
  EXPECT_EQ(F("SCORE").AsString(), "3.14");
  EXPECT_EQ(ThrownMessage([&] { F("SCORE").SetAsString("12345.6"); }),
            "numeric value too big in field SCORE - 12345.60");
  EXPECT_EQ(ds_.State(), TDataSetState::dsEdit);
  EXPECT_EQ(F("SCORE").AsString(), "3.14");
  EXPECT_EQ(ThrownMessage([&] { F("AGE").SetAsString("12a"); }),
            "'12a' is not a valid integer value for field 'AGE'");
  EXPECT_EQ(ThrownMessage([&] { F("AGE").SetAsString("3.5"); }),
            "'3.5' is not a valid integer value for field 'AGE'");
  EXPECT_EQ(ThrownMessage([&] { F("SCORE").SetAsString("1,5"); }),
            "'1,5' is not a valid floating point value for field 'SCORE'");
  EXPECT_EQ(ThrownMessage([&] { F("SCORE").SetAsString("inf"); }),
            "'inf' is not a valid floating point value for field 'SCORE'");
  F("AGE").SetAsString(" -12 ");
  F("RATE").SetAsString("1e-2");
  F("SCORE").SetAsFloat(-0.125);
  ds_.Post();
  EXPECT_EQ(Raw(1, 11, 6), " -0.12");  // an exact tie rounds to the even digit
  EXPECT_EQ(Raw(1, 17, 3), "-12");
  EXPECT_EQ(Raw(1, 49, 9), "   0.0100");
}

TEST_F(FieldSet, ClearingANumberStoresZeroAndClearingTextOrDateStoresBlanks) {
  ds_.Edit();
  F("AGE").SetAsString("");
  F("SCORE").Clear();
  F(kName).SetAsString("");
  F("BORN").SetAsString("");
  F("OK").Clear();
  ds_.Post();
  EXPECT_EQ(Raw(1, 1, 10), std::string(10, ' '));
  EXPECT_EQ(Raw(1, 11, 6), "  0.00");
  EXPECT_EQ(Raw(1, 17, 3), "  0");
  EXPECT_EQ(Raw(1, 20, 8), std::string(8, ' '));
  EXPECT_EQ(Raw(1, 28, 1), "F");
  EXPECT_TRUE(F(kName).IsNull());
}

TEST_F(FieldSet, DatesAreStoredAsEightDigitsWhateverTheFormatTyped) {
  ds_.Edit();
  F("BORN").SetAsString("2023/1/5");
  EXPECT_EQ(F("BORN").AsString(), "2023/1/5");
  ds_.Post();
  EXPECT_EQ(Raw(1, 20, 8), "20230105");
  ds_.Edit();
  F("BORN").SetAsString("2008-12-31");
  EXPECT_EQ(ThrownMessage([&] { F("BORN").SetAsString("2023/2/31"); }),
            "'2023/2/31' is not a valid date");
  EXPECT_EQ(ThrownMessage([&] { F("BORN").SetAsString("5 Jan 2023"); }),
            "'5 Jan 2023' is not a valid date");
  ds_.Post();
  EXPECT_EQ(Raw(1, 20, 8), "20081231");
  ds_.Edit();
  F("BORN").SetAsDate(TDate{1999, 7, 1});
  ds_.Post();
  EXPECT_EQ(Raw(1, 20, 8), "19990701");
  ds_.Edit();
  EXPECT_EQ(ThrownMessage([&] { F("BORN").SetAsFloat(1e300); }), "'1E+300' is not a valid date");
  F("BORN").SetAsFloat(44931);  // the serial day of 2023-01-05
  ds_.Post();
  EXPECT_EQ(Raw(1, 20, 8), "20230105");
}

TEST_F(FieldSet, BooleansAcceptTheBeginningOfTrueOrFalse) {
  ds_.Edit();
  for (const char* yes : {"t", "TR", "True", " true "}) {
    F("OK").SetAsString("F");
    F("OK").SetAsString(yes);
    EXPECT_TRUE(F("OK").AsBoolean()) << yes;
  }
  for (const char* no : {"f", "FAL", "false"}) {
    F("OK").SetAsString("T");
    F("OK").SetAsString(no);
    EXPECT_FALSE(F("OK").AsBoolean()) << no;
  }
  EXPECT_EQ(ThrownMessage([&] { F("OK").SetAsString("yes"); }),
            "'yes' is not a valid boolean value for field 'OK'");
  EXPECT_EQ(ThrownMessage([&] { F("OK").SetAsString("truer"); }),
            "'truer' is not a valid boolean value for field 'OK'");
  F("OK").SetAsBoolean(true);
  ds_.Post();
  EXPECT_EQ(Raw(1, 28, 1), "T");
}

TEST_F(FieldSet, TextIsCutToTheFieldWithoutHalvingACharacter) {
  ds_.Edit();
  F(kName).SetAsString(kLongName);  // 12 GBK bytes into a C(10)
  ds_.Post();
  EXPECT_EQ(Raw(1, 1, 10), kLongName.substr(0, 10));
  ds_.Edit();
  F(kName).SetAsString("x" + kLongName);  // the fifth character would be cut in half
  ds_.Post();
  EXPECT_EQ(Raw(1, 1, 10), "x" + kLongName.substr(0, 8) + " ");
  EXPECT_EQ(GbkToUtf8(F(kName).AsString()), "x欧阳纳兰");
}

TEST_F(FieldSet, LargeIntegersKeepEveryDigit) {
  ds_.Edit();
  F("BIG").SetAsInteger(1234567890123456789LL);
  ds_.Post();
  EXPECT_EQ(Raw(1, 29, 20), " 1234567890123456789");
  ds_.Edit();
  F("BIG").SetAsString("-9007199254740993");
  ds_.Post();
  EXPECT_EQ(Raw(1, 29, 20), "   -9007199254740993");
}

TEST_F(FieldSet, NothingReachesTheFileBeforePostAndBoundControlsAreTold) {
  const std::string before = ReadFile(Path());
  ds_.Edit();
  EXPECT_FALSE(ds_.Modified());
  F("AGE").SetAsInteger(44);
  F(kName).SetAsString("zz");
  EXPECT_TRUE(ds_.Modified());
  EXPECT_EQ(link_.changes, "AGE;" + kName + ";");
  EXPECT_EQ(ReadFile(Path()), before);
  ds_.Cancel();
  EXPECT_EQ(F("AGE").AsString(), "17");
  EXPECT_EQ(ReadFile(Path()), before);
}

// The visible records' numbers read from the file through a record view, independently of the
// dataset's index.
std::vector<int> VisibleByReading(TTableDataSet& ds) {
  std::vector<int> rows;
  TRecordView view(ds);
  for (int r = 1; view.Load(r); ++r) {
    if (!view.Deleted()) rows.push_back(r);
  }
  return rows;
}

TEST_F(FieldSet, KeptCountAndRowIndexMatchAFreshScanAfterEveryKindOfChange) {
  auto check = [&](const char* what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(ds_.RecordCount(), ds_.CountVisibleByScan());
    const std::vector<int> rows = VisibleByReading(ds_);
    ASSERT_EQ(ds_.RowCount(), static_cast<int>(rows.size()));
    for (int row = 0; row < ds_.RowCount(); ++row) {
      EXPECT_EQ(ds_.RecNoOfRow(row), rows[row]);
      EXPECT_EQ(ds_.RowOfRecNo(rows[row]), row);
    }
    for (int r = 1; r <= ds_.Table()->RecordCount(); ++r) {
      if (std::find(rows.begin(), rows.end(), r) == rows.end()) {
        EXPECT_EQ(ds_.RowOfRecNo(r), -1);
      }
    }
    EXPECT_EQ(ds_.RecNoOfRow(ds_.RowCount()), -1);
  };
  check("open");
  ds_.Append();
  F(kName).SetAsString("c");
  ds_.Post();
  check("append");
  EXPECT_EQ(ds_.RecordCount(), 3);
  EXPECT_EQ(ds_.RecNo(), 3);
  ds_.Insert();
  ds_.Cancel();
  check("cancelled insert");
  ds_.SetRecNo(2);
  ds_.Edit();
  F("AGE").SetAsInteger(20);
  ds_.Post();
  check("edit");
  ds_.SetRecNo(1);
  ds_.Delete();
  check("delete");
  EXPECT_EQ(ds_.RecordCount(), 2);
  ds_.SetRecNo(3);
  ds_.Delete();
  ds_.Recall(3);
  check("recall");
  EXPECT_EQ(ds_.RecordCount(), 2);
  ds_.Append();
  F(kName).SetAsString("d");
  ds_.Next();  // a move posts the modified new record
  check("posted by a move");
  EXPECT_EQ(ds_.RecordCount(), 3);
  ds_.Recall(1);
  check("recall of a record deleted before the index was built");
  ds_.SetRecNo(2);
  ds_.Delete();
  ds_.Pack();
  check("pack");
  EXPECT_EQ(ds_.RecordCount(), 3);
  EXPECT_EQ(ds_.Table()->RecordCount(), 3);
  ds_.Close();
  ds_.Open();
  check("reopen");
}

TEST_F(FieldSet, SharedModeRebuildsTheIndexOnEveryCall) {
  ds_.Close();
  ds_.Exclusive = false;
  ds_.Open();
  TTableDataSet writer;
  writer.TableName = Path();
  writer.ExactCount = true;
  writer.Open();
  EXPECT_EQ(ds_.RowCount(), 2);
  writer.Delete();
  writer.Append();
  writer.FieldByName(kName).SetAsString("c");
  writer.Post();
  EXPECT_EQ(ds_.RowCount(), 2);
  EXPECT_EQ(ds_.RecNoOfRow(0), 2);
  EXPECT_EQ(ds_.RowOfRecNo(3), 1);
}

// One kind of change each, and the notices the bound controls hear.
TEST_F(FieldSet, BoundControlsHearEachKindOfChange) {
  class Log : public TDataLink {
   public:
    void ActiveChanged() override { text += "active;"; }
    void DataSetScrolled() override { text += "scroll;"; }
    void DataSetChanged() override { text += "data;"; }
    void RecordChanged(const TField* field) override {
      text += field ? "record " + field->FieldName() + ";" : std::string("record;");
    }
    void StateChanged() override { text += "state;"; }
    std::string text;
  } log;
  log.SetDataSet(&ds_);
  const std::string bookmark = ds_.GetBookmark();
  struct Case {
    const char* what;
    std::function<void()> change;
    std::string heard;
  };
  const std::vector<Case> cases = {
      {"next", [&] { ds_.Next(); }, "scroll;"},
      {"bookmark", [&] { ds_.GotoBookmark(bookmark); }, "scroll;"},
      {"record number", [&] { ds_.SetRecNo(2); }, "scroll;"},
      {"edit", [&] { ds_.Edit(); }, "state;"},
      {"set", [&] { F("AGE").SetAsInteger(5); }, "record AGE;"},
      {"cancel edit", [&] { ds_.Cancel(); }, "state;record;"},
      {"insert", [&] { ds_.Insert(); }, "state;"},
      {"cancel insert", [&] { ds_.Cancel(); }, "state;data;"},
      {"append and post",
       [&] {
         ds_.Append();
         ds_.Post();
       },
       "state;state;data;"},
      {"delete", [&] { ds_.Delete(); }, "data;"},
      {"recall", [&] { ds_.Recall(3); }, "data;"},
      {"pack", [&] { ds_.Pack(); }, "data;"},
      {"disabled", [&] { ScopedDisableControls quiet(ds_); ds_.Last(); ds_.Delete(); }, "data;"},
      {"close", [&] { ds_.Close(); }, "state;active;"},
      {"open", [&] { ds_.Open(); }, "state;active;"},
  };
  for (const Case& c : cases) {
    log.text.clear();
    c.change();
    EXPECT_EQ(log.text, c.heard) << c.what;
  }
}

TEST_F(FieldSet, NewRecordIsShownWhereInsertOrAppendPutIt) {
  EXPECT_EQ(ds_.NewRecordPlace(), TNewRecordPlace::kNone);
  EXPECT_EQ(ds_.NewRecordRow(), -1);
  ds_.Next();
  ds_.Insert();
  EXPECT_EQ(ds_.NewRecordPlace(), TNewRecordPlace::kInsert);
  EXPECT_EQ(ds_.NewRecordRow(), 1);
  ds_.Cancel();
  ds_.Append();
  EXPECT_EQ(ds_.NewRecordPlace(), TNewRecordPlace::kAppend);
  EXPECT_EQ(ds_.NewRecordRow(), 2);
  F(kName).SetAsString("c");
  TRecordView view(ds_);
  ASSERT_TRUE(view.LoadCurrent());
  EXPECT_EQ(view.RecNo(), 0);
  EXPECT_EQ(F(kName).AsString(view), "c");  // the typed values of the pending row
  ds_.Post();
  EXPECT_EQ(ds_.NewRecordPlace(), TNewRecordPlace::kNone);
  EXPECT_EQ(ds_.NewRecordRow(), -1);
}

TEST(FieldSetVfp, DateTimesAndBinaryNumbers) {
  TempDir dir;
  DbfBuilder b(0x30);
  b.Field("T", 'T', 8).Field("I", 'I', 4).Field("Y", 'Y', 8).Field("B", 'B', 8);
  WriteFile(dir.File("t.dbf"), b.Build());
  TTableDataSet ds;
  OpenForMaintenance(ds, dir.File("t.dbf"));
  ds.Append();
  ds.FieldByName("T").SetAsString("2023/1/5 12:30:15");
  ds.FieldByName("I").SetAsString("-42");
  ds.FieldByName("Y").SetAsString("12.3456");
  ds.FieldByName("B").SetAsString("2.5");
  ds.Post();
  ds.Close();
  ds.Open();
  EXPECT_EQ(ds.FieldByName("T").AsString(), "2023/1/5 12:30:15");
  EXPECT_EQ(ds.FieldByName("I").AsInteger(), -42);
  EXPECT_DOUBLE_EQ(ds.FieldByName("Y").AsFloat(), 12.3456);
  EXPECT_EQ(ds.FieldByName("B").AsString(), "2.5");
  ds.Edit();
  ds.FieldByName("T").Clear();
  EXPECT_EQ(ThrownMessage([&] { ds.FieldByName("T").SetAsString("2023/1/5 25:00"); }),
            "'2023/1/5 25:00' is not a valid date and time");
  ds.Post();
  EXPECT_TRUE(ds.FieldByName("T").IsNull());
}

}  // namespace
}  // namespace mirestal
