// TXlsExport over real roster tables, read back with python3-xlrd and python3-olefile.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/fault_file.h"
#include "platform/gbk.h"
#include "table/dataset.h"
#include "tests/testutil/testutil.h"
#include "tests/xls/readers.h"
#include "xls/xls_export.h"

namespace mirestal {
namespace {

using mirestal::testing::DbfBuilder;
using mirestal::testing::TempDir;
using mirestal::testing::WriteFile;
using xls::testing::ReaderReport;
using xls::testing::ReadWithReaders;

std::string Gbk(const std::string& utf8) { return Utf8ToGbk(utf8).value(); }

std::string Binary(uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  return s;
}

// "row col type value format" of the cells the readers see.
std::vector<std::string> Cells(const ReaderReport& r) {
  std::vector<std::string> cells;
  for (const std::string& line : r.With("cell")) {
    std::string c = line;
    for (char& ch : c) {
      if (ch == '\t') ch = ' ';
    }
    cells.push_back(c);
  }
  return cells;
}

class ExportTest : public ::testing::Test {
 protected:
  void Open(const DbfBuilder& b) {
    WriteFile(dir_.File("roster.dbf"), b.Build());
    ds_.TableName = dir_.File("roster.dbf");
    ds_.Exclusive = true;
    ds_.ExactCount = true;
    ds_.AutoFlush = true;
    ds_.Open();
    export_.DataSet = &ds_;
  }
  // Exports to `name` and reads the workbook back; the readers must not complain.
  ReaderReport Export(const std::string& name = "out.xls") {
    export_.FileName = dir_.File(name);
    export_.Execute();
    ReaderReport report = ReadWithReaders(export_.FileName);
    EXPECT_EQ(report.status, 0) << report.errors;
    EXPECT_EQ(report.errors, "");
    EXPECT_EQ(
        report.With("stream"),
        std::vector<std::string>{"Workbook\t" + std::to_string(StreamSize(export_.FileName))});
    EXPECT_EQ(report.With("palette"), std::vector<std::string>{"default"});
    return report;
  }
  static size_t StreamSize(const std::string& path) {
    auto hex = ReadWithReaders(path, "--hex");
    return hex.lines.empty() ? 0 : hex.lines[0].size() / 2;
  }
  std::string ExpectRefused(const std::string& name = "refused.xls") {
    export_.FileName = dir_.File(name);
    try {
      export_.Execute();
    } catch (const std::exception& e) {
      EXPECT_FALSE(PathExists(export_.FileName)) << "a refused export left a file";
      return e.what();
    }
    ADD_FAILURE() << "the export was not refused";
    return "";
  }

  TempDir dir_;
  TTableDataSet ds_;
  TXlsExport export_;
};

TEST_F(ExportTest, WorkedExampleMatchesByteForByte) {
  DbfBuilder b;
  b.Field(Gbk("考籍号"), 'C', 14).Field(Gbk("姓名"), 'C', 8).Record({"0001", Gbk("张三")});
  Open(b);
  ReaderReport r = Export();
  EXPECT_EQ(Cells(r), (std::vector<std::string>{"0 0 text 考籍号 General", "0 1 text 姓名 General",
                                                "1 0 text 0001 General", "1 1 text 张三 General"}));
  EXPECT_EQ(r.With("dims"), std::vector<std::string>{"0\t2\t0\t2"});
  std::string hex = ReadWithReaders(export_.FileName, "--hex").lines.at(0);
  // Tail of 940 bytes after the 242-byte head, globals EOF at 1182, sheet BOF at 1186.
  EXPECT_EQ(hex.substr(2 * 1182, 8), "0a000000");
  EXPECT_EQ(hex.substr(2 * 1186, 8), "09081000");
  size_t boundsheet = hex.find("85001600");  // BOUNDSHEET with 22 data bytes
  ASSERT_NE(boundsheet, std::string::npos);
  EXPECT_EQ(hex.substr(boundsheet + 8, 8), "a2040000");  // 1186
  // The SST: 42 data bytes, total 4, unique 4, 考籍号 first.
  EXPECT_EQ(hex.substr(2 * (1182 - 46), 2 * 21), "fc002a00040000000400000003000103804d7cf753");
  EXPECT_EQ(ds_.Eof(), true);
  EXPECT_EQ(export_.ExportedRecords(), 1);
}

TEST_F(ExportTest, EveryValueKindRoundTrips) {
  DbfBuilder b;
  b.Field("NAME", 'C', 10)
      .Field("SEX", 'C', 2)
      .Field("SCORE", 'N', 5, 1)
      .Field("AGE", 'N', 3)
      .Field("ID", 'N', 9)
      .Field("BIG", 'N', 19)
      .Field("BORN", 'D', 8)
      .Field("OK", 'L', 1);
  b.Record(
      {Gbk("张三"), Gbk("男"), "95.5", "17", "123456789", "9007199254740993", "20080315", "T"});
  b.Record({Gbk("  李四 "), "", "0", "-5", "0", "12345", "", "F"});
  b.Record({"abc", Gbk("女"), "*****", "1", "7", "-9007199254740992", "20260229", "?"});
  Open(b);
  ReaderReport r = Export();
  const std::string n0 = "#,###,##0", n2 = "#,###,##0.00";
  EXPECT_EQ(Cells(r), (std::vector<std::string>{
                          "0 0 text NAME General", "0 1 text SEX General", "0 2 text SCORE General",
                          "0 3 text AGE General", "0 4 text ID General", "0 5 text BIG General",
                          "0 6 text BORN General", "0 7 text OK General", "1 0 text 张三 General",
                          "1 1 text 男 General", "1 2 number 95.5 " + n2, "1 3 number 17.0 " + n0,
                          "1 4 number 123456789.0 " + n0,
                          // Beyond 2^53 a double would round the value: kept as text.
                          "1 5 text 9007199254740993 " + n0, "1 6 date 39522.0 yyyy/M/d",
                          "1 7 boolean 1 General", "2 0 text 李四 General", "2 1 blank  General",
                          "2 2 number 0.0 " + n2, "2 3 number -5.0 " + n0, "2 4 number 0.0 " + n0,
                          "2 5 number 12345.0 " + n0, "2 6 blank  yyyy/M/d",
                          "2 7 boolean 0 General", "3 0 text abc General", "3 1 text 女 General",
                          "3 2 text ***** " + n2, "3 3 number 1.0 " + n0, "3 4 number 7.0 " + n0,
                          "3 5 number -9007199254740992.0 " + n0, "3 6 blank  yyyy/M/d",
                          "3 7 boolean 0 General"}));
  EXPECT_EQ(r.With("sheet"), std::vector<std::string>{"Sheet 1\t4\t8"});
  EXPECT_EQ(r.With("dims"), std::vector<std::string>{"0\t4\t0\t8"});
}

TEST_F(ExportTest, VisualFoxProIntegerCurrencyAndDateTime) {
  DbfBuilder b(0x30);
  b.Field("I", 'I', 4).Field("Y", 'Y', 8).Field("T", 'T', 8).Field("B", 'B', 8, 2);
  double three_halves = 1.5;
  uint64_t bits;
  std::memcpy(&bits, &three_halves, 8);
  // 2026-12-09 is Julian day 2461384; 12:30:15 is 45015000 ms.
  b.Record({Binary(static_cast<uint32_t>(-42), 4), Binary(12345678, 8),
            Binary(2461384, 4) + Binary(45015000, 4), Binary(bits, 8)});
  Open(b);
  ReaderReport r = Export();
  auto cells = Cells(r);
  // B is a binary large value here and, like memo fields, is not exported.
  ASSERT_EQ(cells.size(), 6u);
  EXPECT_EQ(cells[3], "1 0 number -42.0 #,###,##0");
  EXPECT_EQ(cells[4], "1 1 number 1234.5678 ￥#,###,##0.00");
  EXPECT_EQ(cells[5].substr(0, 10), "1 2 date 4");
  EXPECT_EQ(std::stod(cells[5].substr(9)), 46365 + 45015 / 86400.0);
  EXPECT_NE(cells[5].find(" yyyy/M/d H:mm"), std::string::npos);
}

TEST_F(ExportTest, DatesBeforeAndAfterFirstMarch1900) {
  DbfBuilder b;
  b.Field("D", 'D', 8);
  for (const char* d : {"19000301", "19000228", "19000102", "19000101", "18991231", "18991230",
                        "18000101", "20261209"}) {
    b.Record({d});
  }
  Open(b);
  ReaderReport r = Export();
  EXPECT_EQ(
      Cells(r),
      (std::vector<std::string>{
          "0 0 text D General",
          "1 0 date 61.0 yyyy/M/d",  // 1 March 1900: the serial as it is
          "2 0 date 59.0 yyyy/M/d",  // before it, one less: the reader's day count has 29 February
          "3 0 date 2.0 yyyy/M/d",
          "4 0 date 1.0 yyyy/M/d",  // 1 January 1900
          "5 0 text 1899/12/31 yyyy/M/d", "6 0 text 1899/12/30 yyyy/M/d",
          "7 0 text 1800/1/1 yyyy/M/d", "8 0 date 46365.0 yyyy/M/d"}));
}

TEST_F(ExportTest, EmptyRosterHasTheCaptionRowOnly) {
  DbfBuilder b;
  b.Field("A", 'C', 3).Field("B", 'N', 4);
  Open(b);
  ReaderReport r = Export();
  EXPECT_EQ(Cells(r), (std::vector<std::string>{"0 0 text A General", "0 1 text B General"}));
  EXPECT_EQ(r.With("dims"), std::vector<std::string>{"0\t1\t0\t2"});
}

TEST_F(ExportTest, RosterWithoutExportableColumns) {
  DbfBuilder b(0x83);
  b.Field("NOTE", 'M', 10).Record({""}).Record({""});
  Open(b);
  ReaderReport r = Export();
  EXPECT_TRUE(Cells(r).empty());
  EXPECT_EQ(r.With("dims"), std::vector<std::string>{"0\t0\t0\t0"});
  EXPECT_EQ(r.With("sheet"), std::vector<std::string>{"Sheet 1\t0\t0"});
  EXPECT_EQ(export_.ExportedRecords(), 2);
}

TEST_F(ExportTest, MemoColumnIsLeftOutAndTheNextMovesLeft) {
  DbfBuilder b(0x83);
  b.Field("A", 'C', 2).Field("NOTE", 'M', 10).Field("B", 'C', 2).Record({"a", "", "b"});
  Open(b);
  EXPECT_EQ(Cells(Export()),
            (std::vector<std::string>{"0 0 text A General", "0 1 text B General",
                                      "1 0 text a General", "1 1 text b General"}));
}

TEST_F(ExportTest, StringsInContinueRecordsAndLongStringsSplit) {
  DbfBuilder b;
  b.Field("S", 'C', 120).Field("L", 'C', 9000);
  std::vector<std::string> expected = {"0 0 text S General", "0 1 text L General"};
  for (int i = 0; i < 80; ++i) {
    std::string s = std::to_string(i) + std::string(100, static_cast<char>('a' + i % 26));
    std::string l(5000 + 50 * i, static_cast<char>('A' + i % 26));
    l += std::to_string(i);
    b.Record({s, l});
    expected.push_back(std::to_string(i + 1) + " 0 text " + s + " General");
    expected.push_back(std::to_string(i + 1) + " 1 text " + l + " General");
  }
  Open(b);
  ReaderReport r = Export();
  EXPECT_TRUE(Cells(r) == expected) << "the readers saw other texts";
}

TEST_F(ExportTest, ChineseCharacterFieldOfMaximumLength) {
  DbfBuilder b;
  std::string text;
  for (int i = 0; i < 32767; ++i) text += Gbk(i % 2 ? "号" : "张");
  b.Field("T", 'C', 65534).Record({text});
  Open(b);
  ReaderReport r = Export();
  auto cells = Cells(r);
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_TRUE(cells[1] == "1 0 text " + GbkToUtf8(text) + " General");
}

TEST_F(ExportTest, EveryGbkCharacterSurvives) {
  // Every double-byte code that the platform decodes, in one character field.
  std::string all;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) continue;
      std::string code{static_cast<char>(lead), static_cast<char>(trail)};
      std::u16string decoded = GbkToUtf16(code);
      if (decoded.size() == 1 && decoded[0] != u'\uFFFD') all += code;
    }
  }
  ASSERT_GT(all.size(), 2u * 21000);
  ASSERT_LE(all.size(), 65535u);
  DbfBuilder b;
  b.Field("ALL", 'C', static_cast<int>(all.size())).Record({all});
  Open(b);
  auto cells = Cells(Export());
  ASSERT_EQ(cells.size(), 2u);
  const std::string prefix = "1 0 text ", suffix = " General";
  ASSERT_GT(cells[1].size(), prefix.size() + suffix.size());
  std::string read =
      cells[1].substr(prefix.size(), cells[1].size() - prefix.size() - suffix.size());
  // What the reader decoded maps back to exactly the roster's bytes.
  EXPECT_TRUE(Utf8ToGbk(read) == all) << "characters were lost or changed";
}

TEST_F(ExportTest, SettingsChooseOrderCaptionsWidthsFormatsAndRecords) {
  DbfBuilder b;
  b.Field("A", 'C', 2).Field("B", 'N', 6, 2).Field("C", 'C', 2);
  for (int i = 1; i <= 5; ++i) b.Record({"a" + std::to_string(i), std::to_string(i), "c"});
  Open(b);
  export_.ExportedFields = {"c", "B", "MISSING"};
  export_.Captions = {"b=Amount"};
  export_.UserFormats = {"B=0.0"};
  export_.ColumnsWidth = {"C=x"};
  export_.SkipRecCount = 1;
  export_.ExportRecCount = 2;
  export_.StartDataCol = 2;
  ReaderReport r = Export();
  EXPECT_EQ(Cells(r), (std::vector<std::string>{"0 2 text C General", "0 3 text Amount General",
                                                "1 2 text c General", "1 3 number 2.0 0.0",
                                                "2 2 text c General", "2 3 number 3.0 0.0"}));
  EXPECT_EQ(r.With("dims"), std::vector<std::string>{"0\t3\t2\t4"});
  EXPECT_EQ(export_.ExportedRecords(), 2);
}

TEST_F(ExportTest, NullTextIsWrittenAsALabel) {
  DbfBuilder b;
  b.Field("S", 'C', 4).Field("D", 'D', 8).Field("N", 'N', 3).Record({"", "", ""});
  Open(b);
  export_.Formats.NullString = Gbk("空");
  EXPECT_EQ(Cells(Export()),
            (std::vector<std::string>{
                "0 0 text S General", "0 1 text D General", "0 2 text N General",
                // Numbers are never null: a blank N field reads as 0.
                "1 0 text 空 General", "1 1 text 空 yyyy/M/d", "1 2 number 0.0 #,###,##0"}));
}

TEST_F(ExportTest, CurrentRecordOnlyFromWhereTheDatasetStands) {
  DbfBuilder b;
  b.Field("K", 'C', 2);
  for (const char* k : {"a", "b", "c"}) b.Record({k});
  Open(b);
  ds_.Next();
  export_.GoToFirstRecord = false;
  export_.CurrentRecordOnly = true;
  EXPECT_EQ(Cells(Export()),
            (std::vector<std::string>{"0 0 text K General", "1 0 text b General"}));
  EXPECT_EQ(ds_.FieldByName("K").AsString(), "b");  // stopped before moving
  export_.CurrentRecordOnly = false;
  std::vector<int> progress;
  export_.OnExportedRecord = [&](TExportBase&, int exported) { progress.push_back(exported); };
  EXPECT_EQ(Cells(Export()).size(), 3u);  // b and c
  EXPECT_EQ(progress, (std::vector<int>{1, 2}));
  EXPECT_TRUE(ds_.Eof());
}

TEST_F(ExportTest, ReplacesAnExistingFileUnderAChineseName) {
  DbfBuilder b;
  b.Field("A", 'C', 2).Record({"x"});
  Open(b);
  WriteFile(dir_.File("名单.xls"), std::string(70000, 'z'));
  ReaderReport r = Export("名单.xls");
  EXPECT_EQ(Cells(r).size(), 2u);
}

TEST_F(ExportTest, MissingFolderIsCreated) {
  DbfBuilder b;
  b.Field("A", 'C', 2).Record({"x"});
  Open(b);
  ReaderReport r = Export("new/deeper/out.xls");
  EXPECT_EQ(Cells(r).size(), 2u);
}

TEST_F(ExportTest, SourceChecksFailBeforeAnyFileIsWritten) {
  EXPECT_EQ(ExpectRefused(),
            "Sheet Sheet 1 define with error: Export source (DataSet) is not "
            "assigned");
  export_.DataSet = &ds_;
  EXPECT_EQ(ExpectRefused(), "Export source (DataSet) is closed");
  export_.FileName.clear();
  try {
    export_.Execute();
    ADD_FAILURE();
  } catch (const EExportError& e) {
    EXPECT_STREQ(e.what(), "Result file name not present");
  }
}

TEST_F(ExportTest, EmptyRosterIsRefusedWhenExportEmptyIsOff) {
  DbfBuilder b;
  b.Field("A", 'C', 2);
  Open(b);
  export_.ExportEmpty = false;
  EXPECT_EQ(ExpectRefused(), "Export source (DataSet) is empty");
}

// More rows than a worksheet holds used to wrap the 16-bit row numbers over the caption row.
TEST_F(ExportTest, MoreThan65535RecordsAreRefusedBeforeWriting) {
  DbfBuilder b;
  b.Field("A", 'C', 1);
  for (int i = 0; i < 65536; ++i) b.Record({"x"});
  Open(b);
  EXPECT_EQ(ExpectRefused(), "Too many records for a worksheet: 65536 (at most 65535)");
  // Without the caption row they fit: the last record lands on row 65535.
  export_.AllowCaptions = false;
  export_.FileName = dir_.File("fits.xls");
  export_.Execute();
  EXPECT_EQ(export_.ExportedRecords(), 65536);
  auto hex = ReadWithReaders(export_.FileName, "--hex");
  ASSERT_EQ(hex.status, 0) << hex.errors;
  // The last cell record before the sheet tail: LABELSST on row 65535.
  EXPECT_NE(hex.lines.at(0).find("fd000a00ffff0000"), std::string::npos);
}

TEST_F(ExportTest, MoreThan256ColumnsAreRefusedBeforeWriting) {
  DbfBuilder b;
  for (int i = 0; i < 256; ++i) b.Field("F" + std::to_string(i), 'C', 1);
  b.Record(std::vector<std::string>(256, "v"));
  Open(b);
  export_.StartDataCol = 1;
  EXPECT_EQ(ExpectRefused("new/refused.xls"),
            "Too many columns for a worksheet: 257 (at most 256)");
  EXPECT_FALSE(PathExists(dir_.File("new"))) << "a refused export created its folder";
  export_.StartDataCol = 0;
  ReaderReport r = Export();
  EXPECT_EQ(r.With("sheet"), std::vector<std::string>{"Sheet 1\t2\t256"});
}

// A failed export leaves the workbook that was there before byte for byte, and no temporary file.
TEST(ExportFaultTest, EveryFailureKeepsThePreviousWorkbookAndLeavesNoTemporaryFile) {
  TempDir dir;
  DbfBuilder b;
  b.Field("K", 'C', 20).Field("N", 'N', 6);
  for (int i = 0; i < 3000; ++i) b.Record({"key" + std::to_string(i), std::to_string(i)});
  WriteFile(dir.File("r.dbf"), b.Build());
  TTableDataSet ds;
  ds.TableName = dir.File("r.dbf");
  ds.Exclusive = true;
  ds.Open();
  FaultFileSystem fs;
  TXlsExport exporter(fs);
  exporter.DataSet = &ds;
  exporter.FileName = dir.File("book.xls");
  exporter.Execute();
  const std::string previous = mirestal::testing::ReadFile(exporter.FileName);
  const std::vector<std::string> files = {"book.xls", "r.dbf"};
  const int writes = fs.writes();
  ASSERT_GT(writes, 3);  // the cells, the moved sheet, the tail, the allocation tables
  auto expect_kept = [&](const std::string& step) {
    EXPECT_EQ(mirestal::testing::ReadFile(exporter.FileName), previous) << step;
    EXPECT_EQ(mirestal::testing::FileNames(dir.path()), files) << step;
    EXPECT_FALSE(ds.ControlsDisabled()) << step;
  };
  for (int n = 1; n <= writes; ++n) {
    fs.FailWriteAt(n);
    try {
      exporter.Execute();
      ADD_FAILURE() << "write " << n << " failed silently";
    } catch (const IoError& e) {
      EXPECT_STREQ(e.what(), "injected write failure");
    }
    expect_kept("write " + std::to_string(n));
  }
  fs.Reset();
  fs.FailFlushAt(1);
  EXPECT_THROW(exporter.Execute(), IoError);
  expect_kept("flush");
  for (FileOp op : {FileOp::kCreateExclusiveTemp, FileOp::kRename}) {
    fs.Reset();
    fs.FailOperation(op);
    EXPECT_THROW(exporter.Execute(), IoError);
    expect_kept("operation " + std::to_string(static_cast<int>(op)));
  }
  // The sheet is read back to make room for the tail: a short read is an error, not a gap.
  fs.Reset();
  fs.ShortReadAt(1);
  try {
    exporter.Execute();
    ADD_FAILURE() << "a short read went unnoticed";
  } catch (const EExportError& e) {
    EXPECT_STREQ(e.what(), "Stream read error");
  }
  expect_kept("short read");
  fs.Reset();
  exporter.Execute();
  EXPECT_EQ(mirestal::testing::FileNames(dir.path()), files);
}

}  // namespace
}  // namespace mirestal
