// The workbook stream written into memory: the worked example byte for byte, the cell-format
// registry, the used range and the sheet records.
#include <gtest/gtest.h>

#include "tests/xls/biff_records.h"
#include "xls/biff_format.h"
#include "xls/workbook_writer.h"

namespace mirestal::xls {
namespace {

using namespace testing;  // NOLINT: the test helpers of this folder

std::string ExpectedHead() {
  std::string access = U16(23) + Bytes({0}) + "Tolvaranquesmerith 3.44" + std::string(86, ' ');
  return Rec(0x0809, U16(0x0600) + U16(5) + U16(3515) + U16(1996) + U32(0) + U32(0x0206)) +
         Rec(0x005C, access) + Rec(0x0042, U16(1252)) + Rec(0x0161, U16(0)) + Rec(0x009C, U16(14)) +
         Rec(0x0019, U16(0)) + Rec(0x0012, U16(0)) + Rec(0x0013, U16(0)) + Rec(0x01AF, U16(0)) +
         Rec(0x01BC, U16(0)) +
         Rec(0x003D, U16(120) + U16(120) + U16(23820) + U16(15720) + U16(0x38) + U16(0) + U16(0) +
                         U16(1) + U16(600)) +
         Rec(0x0040, U16(0)) + Rec(0x008D, U16(0)) + Rec(0x0022, U16(0)) + Rec(0x000E, U16(1)) +
         Rec(0x01B7, U16(0)) + Rec(0x00DA, U16(0));
}

// The roster of the worked example: text fields 考籍号 (14 long) and 姓名 (8 long), one record
// 0001 / 张三, written the way the export driver writes it.
struct WorkedExample {
  TMemoryStream stream;
  TWorkbookWriter w{stream, TxlsFormat{}};
  std::string bytes;

  WorkedExample() {
    w.WriteWorkbookHead();
    uint16_t key_xf = w.RegisterCellFormat(u"", nullptr);
    uint16_t name_xf = w.RegisterCellFormat(u"", nullptr);
    TxlsSheet sheet;
    sheet.ColumnWidths = {14, 8};
    int s = w.WriteSheetHead(sheet);
    TXLSOptions options;
    const std::u16string captions[2] = {u"考籍号", u"姓名"};
    for (uint16_t c = 0; c < 2; ++c) {
      TxlsFormat bold = options.CaptionsFormat;
      uint16_t xf = w.RegisterCellFormat(u"General", &bold);
      w.NoteUsedCell(s, 0, c);
      w.WriteLabel(0, c, captions[c], xf);
    }
    w.NoteUsedCell(s, 1, 0);
    w.WriteLabel(1, 0, u"0001", key_xf);
    w.NoteUsedCell(s, 1, 1);
    w.WriteLabel(1, 1, u"张三", name_xf);
    w.WriteSheetTail();
    w.WriteWorkbookTail();
    bytes = stream.Bytes();
  }
};

const std::string kArial = Utf16Le(u"arial");
const std::string kDefaultFont =
    Bytes({0xC8, 0, 0, 0, 0x08, 0, 0x90, 0x01, 0, 0, 0, 0, 0x01, 0, 0x05, 0x01}) + kArial;
const std::string kBoldFont =
    Bytes({0xC8, 0, 0, 0, 0x08, 0, 0xBC, 0x02, 0, 0, 0, 0, 0x01, 0, 0x05, 0x01}) + kArial;
const std::string kGeneralDataXf =
    Bytes({1, 0, 0, 0, 1, 0, 0x20, 0, 0, 0x50, 0, 0, 0, 0, 0, 0, 0, 0, 0x09, 0x04});
const std::string kBoldCaptionXf =
    Bytes({5, 0, 0, 0, 1, 0, 0x20, 0, 0, 0x58, 0, 0, 0, 0, 0, 0, 0, 0, 0x09, 0x04});

TEST(WorkedExampleTest, HeadIs242BytesAsListed) {
  std::string bytes = WorkedExample().bytes;
  EXPECT_EQ(ExpectedHead().size(), 242u);
  EXPECT_EQ(bytes.substr(0, 242), ExpectedHead());
}

TEST(WorkedExampleTest, TailIs940BytesInTheListedOrder) {
  WorkedExample example;
  const std::string& bytes = example.bytes;
  EXPECT_EQ(example.w.InsertionPosition(), 242u);
  auto tail = SplitRecords(bytes, 242, 242 + 940);
  ASSERT_EQ(tail.size(), 5u + 18 + 6 + 1 + 1 + 1 + 1);
  EXPECT_EQ(tail.back().offset + 4 + tail.back().data.size(), 242u + 940);
  size_t i = 0;
  for (int f = 0; f < 4; ++f, ++i) {
    EXPECT_EQ(tail[i].number, 0x0031);
    EXPECT_EQ(tail[i].data, kDefaultFont);
  }
  EXPECT_EQ(tail[i].number, 0x0031);
  EXPECT_EQ(tail[i++].data, kBoldFont);
  for (int x = 0; x < 16; ++x, ++i) {
    EXPECT_EQ(tail[i].number, 0x00E0);
    EXPECT_EQ(tail[i].data,
              std::string(reinterpret_cast<const char*>(biff::kDefaultXfData[x]), 20));
  }
  EXPECT_EQ(tail[15 + 5].data,
            Bytes({1, 0, 0, 0, 1, 0, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0x20}));
  EXPECT_EQ(tail[i++].data, kGeneralDataXf);  // 16
  EXPECT_EQ(tail[i++].data, kBoldCaptionXf);  // 17
  const std::string styles[6] = {Bytes({0x10, 0x80, 3, 0xFF}), Bytes({0x11, 0x80, 6, 0xFF}),
                                 Bytes({0x12, 0x80, 4, 0xFF}), Bytes({0x13, 0x80, 7, 0xFF}),
                                 Bytes({0x00, 0x80, 0, 0xFF}), Bytes({0x14, 0x80, 5, 0xFF})};
  for (const std::string& style : styles) {
    EXPECT_EQ(tail[i].number, 0x0293);
    EXPECT_EQ(tail[i++].data, style);
  }
  EXPECT_EQ(tail[i].number, 0x0092);
  EXPECT_EQ(tail[i].data.size(), 226u);
  EXPECT_EQ(tail[i].data.substr(0, 2 + 4 * 3),
            U16(56) + Bytes({0, 0, 0, 0, 255, 255, 255, 0, 255, 0, 0, 0}));
  ++i;
  EXPECT_EQ(tail[i].number, 0x0085);
  EXPECT_EQ(tail[i++].data, U32(1186) + Bytes({0, 0, 7, 1}) + Utf16Le(u"Sheet 1"));
  EXPECT_EQ(tail[i].number, 0x008C);
  EXPECT_EQ(tail[i++].data, U16(1) + U16(1));
  EXPECT_EQ(tail[i].number, 0x00FC);
  EXPECT_EQ(tail[i].data, U32(4) + U32(4) + Bytes({3, 0, 1}) + Utf16Le(u"考籍号") +
                              Bytes({2, 0, 1}) + Utf16Le(u"姓名") + Bytes({4, 0, 1}) +
                              Utf16Le(u"0001") + Bytes({2, 0, 1}) + Utf16Le(u"张三"));
  EXPECT_EQ(tail[i].data.substr(8, 9),
            Bytes({0x03, 0x00, 0x01, 0x03, 0x80, 0x4D, 0x7C, 0xF7, 0x53}));
}

TEST(WorkedExampleTest, GlobalsEofAt1182AndSheetBofAt1186) {
  WorkedExample example;
  const std::string& bytes = example.bytes;
  EXPECT_EQ(bytes.substr(1182, 4), Rec(0x000A, ""));
  EXPECT_EQ(example.w.SheetBofPosition(0), 1186u);
  auto sheet = SplitRecords(bytes, 1186);
  ASSERT_FALSE(sheet.empty());
  EXPECT_EQ(sheet[0].number, 0x0809);
  EXPECT_EQ(sheet[0].data, U16(0x0600) + U16(0x10) + U16(3515) + U16(1996) + U32(0) + U32(0x0206));
}

TEST(WorkedExampleTest, SheetRecords) {
  std::string bytes = WorkedExample().bytes;
  auto sheet = SplitRecords(bytes, 1186);
  std::vector<std::pair<uint16_t, std::string>> got;
  for (const Record& r : sheet) got.emplace_back(r.number, r.data);
  const std::vector<std::pair<uint16_t, std::string>> expected = {
      {0x0809, U16(0x0600) + U16(0x10) + U16(3515) + U16(1996) + U32(0) + U32(0x0206)},
      {0x000D, U16(1)},
      {0x000C, U16(100)},
      {0x000F, U16(1)},
      {0x0011, U16(0)},
      {0x0010, Bytes({0xFC, 0xA9, 0xF1, 0xD2, 0x4D, 0x62, 0x50, 0x3F})},
      {0x005F, U16(1)},
      {0x002A, U16(0)},
      {0x002B, U16(0)},
      {0x0082, U16(1)},
      {0x0080, std::string(8, '\0')},
      {0x0055, U16(8)},
      {0x0225, U16(0) + U16(255)},
      {0x0081, U16(0x04C1)},
      {0x0014, ""},
      {0x0015, Bytes({13, 0, 0}) + "Page &P of &N"},
      {0x0083, U16(0)},
      {0x0084, U16(0)},
      // (14 + 1 + 1/7) * 256 = 3876.57; (8 + 1 + 1/7) * 256 = 2340.57
      {0x007D, U16(0) + U16(0) + U16(3877) + U16(15) + U16(0) + U16(0)},
      {0x007D, U16(1) + U16(1) + U16(2341) + U16(15) + U16(0) + U16(0)},
      {0x0200, U32(0) + U32(2) + U16(0) + U16(2) + U16(0)},
      {0x00FD, U16(0) + U16(0) + U16(17) + U32(0)},
      {0x00FD, U16(0) + U16(1) + U16(17) + U32(1)},
      {0x00FD, U16(1) + U16(0) + U16(16) + U32(2)},
      {0x00FD, U16(1) + U16(1) + U16(16) + U32(3)},
      {0x023E, U16(0x06B6) + std::string(16, '\0')},
      {0x001D, Bytes({3}) + U16(0) + U16(0) + U16(0) + U16(1) + U16(0) + U16(0) + Bytes({0, 0})},
      {0x000A, ""},
  };
  EXPECT_EQ(got, expected);
  EXPECT_EQ(sheet.back().offset + 4, bytes.size());
}

TEST(CellFormatTest, DateBeforeIntegerGetsFormats50And51InColumnOrder) {
  TMemoryStream stream;
  TWorkbookWriter w(stream, TxlsFormat{});
  w.WriteWorkbookHead();
  EXPECT_EQ(w.RegisterCellFormat(u"yyyy/M/d", nullptr), 16);
  EXPECT_EQ(w.RegisterCellFormat(u"#,###,##0", nullptr), 17);
  EXPECT_EQ(w.RegisterCellFormat(u"yyyy/M/d", nullptr), 16);  // shared
  EXPECT_EQ(w.RegisterCellFormat(u"General", nullptr), 15);
  EXPECT_EQ(w.RegisterCellFormat(u"", nullptr), 18);
  TxlsSheet sheet;
  w.WriteSheetHead(sheet);
  w.WriteSheetTail();
  w.WriteWorkbookTail();
  std::vector<Record> formats, xfs;
  for (const Record& r : SplitRecords(stream.Bytes())) {
    if (r.number == 0x041E) formats.push_back(r);
    if (r.number == 0x00E0) xfs.push_back(r);
  }
  ASSERT_EQ(formats.size(), 2u);
  EXPECT_EQ(formats[0].data, U16(50) + U16(8) + Bytes({1}) + Utf16Le(u"yyyy/M/d"));
  EXPECT_EQ(formats[1].data, U16(51) + U16(9) + Bytes({1}) + Utf16Le(u"#,###,##0"));
  ASSERT_EQ(xfs.size(), 19u);
  EXPECT_EQ(xfs[16].data.substr(2, 2), U16(50));
  EXPECT_EQ(xfs[17].data.substr(2, 2), U16(51));
  EXPECT_EQ(xfs[18].data, kGeneralDataXf);
}

TEST(CellFormatTest, FontsAndLooksAreSharedAndCompared) {
  TMemoryStream stream;
  TxlsFormat data;
  TWorkbookWriter w(stream, data);
  TxlsFormat plain;  // same font as the data format: no font of its own
  EXPECT_EQ(w.RegisterCellFormat(u"General", &plain), 16);
  TxlsFormat italic;
  italic.Font.Style = xfsItalic;
  EXPECT_EQ(w.RegisterCellFormat(u"General", &italic), 17);
  TxlsFormat italic_boxed = italic;
  italic_boxed.Borders.Left.Style = TxlsBorderStyle::bstThin;
  italic_boxed.Borders.Left.Color = TxlsColor::clrRed;
  italic_boxed.Borders.DiagUp.Style = TxlsBorderStyle::bstDashed;
  italic_boxed.Fill.Pattern = TxlsPattern::ptSolid;
  italic_boxed.Alignment.Horizontal = TxlsHorizontal::halCenter;
  italic_boxed.Wrap = true;
  EXPECT_EQ(w.RegisterCellFormat(u"0.0", &italic_boxed), 18);
  EXPECT_EQ(w.RegisterCellFormat(u"General", &italic), 17);
  TxlsFormat renamed = italic;
  renamed.Font.Name = u"Arial";  // names compare exactly
  EXPECT_EQ(w.RegisterCellFormat(u"General", &renamed), 19);
  w.WriteWorkbookHead();
  w.WriteSheetHead(TxlsSheet{});
  w.WriteSheetTail();
  w.WriteWorkbookTail();
  std::vector<Record> fonts, xfs;
  for (const Record& r : SplitRecords(stream.Bytes())) {
    if (r.number == 0x0031) fonts.push_back(r);
    if (r.number == 0x00E0) xfs.push_back(r);
  }
  ASSERT_EQ(fonts.size(), 6u);  // 4 default, italic (5), italic "Arial" (6)
  EXPECT_EQ(fonts[4].data.substr(2, 2), U16(2));
  ASSERT_EQ(xfs.size(), 20u);
  EXPECT_EQ(xfs[16].data, kGeneralDataXf);
  EXPECT_EQ(xfs[17].data.substr(0, 2), U16(5));
  EXPECT_EQ(xfs[19].data.substr(0, 2), U16(6));
  const std::string& boxed = xfs[18].data;
  EXPECT_EQ(boxed.substr(0, 4), U16(5) + U16(50));
  EXPECT_EQ(boxed.substr(6, 2), U16(0x02 | 0x08 | 0x20));  // center, wrap, bottom
  EXPECT_EQ(boxed.substr(8, 2), U16(0x5000 | 0x0800 | 0x2000));
  EXPECT_EQ(boxed.substr(10, 2), U16(1));            // left thin
  EXPECT_EQ(boxed.substr(12, 2), U16(10 | 0x8000));  // red left, diagonal up
  EXPECT_EQ(boxed.substr(14, 4), U32((8u << 14) | (3u << 21) | (1u << 26)));
  EXPECT_EQ(boxed.substr(18, 2), U16(0x0409));
}

TEST(UsedRangeTest, EmptySheetKeepsZeroDimensions) {
  TMemoryStream stream;
  TWorkbookWriter w(stream, TxlsFormat{});
  w.WriteWorkbookHead();
  w.WriteSheetHead(TxlsSheet{});
  w.WriteSheetTail();
  w.WriteWorkbookTail();
  bool seen = false;
  for (const Record& r : SplitRecords(stream.Bytes())) {
    EXPECT_NE(r.number, 0x007D);
    if (r.number == 0x0200) {
      EXPECT_EQ(r.data, std::string(14, '\0'));
      seen = true;
    }
  }
  EXPECT_TRUE(seen);
}

TEST(UsedRangeTest, WidensToEveryNotedCell) {
  TMemoryStream stream;
  TWorkbookWriter w(stream, TxlsFormat{});
  w.WriteWorkbookHead();
  int s = w.WriteSheetHead(TxlsSheet{});
  w.NoteUsedCell(s, 5, 3);
  w.NoteUsedCell(s, 2, 7);
  w.NoteUsedCell(s, 65535, 4);
  w.WriteSheetTail();
  w.WriteWorkbookTail();
  for (const Record& r : SplitRecords(stream.Bytes())) {
    if (r.number == 0x0200) {
      EXPECT_EQ(r.data, U32(2) + U32(65536) + U16(3) + U16(8) + U16(0));
    }
  }
}

TEST(SheetHeadTest, ColumnWidthsRoundHalvesToEvenAndCap) {
  EXPECT_EQ(ColumnInfoWidth(10), 2853);  // 2852.57
  EXPECT_EQ(ColumnInfoWidth(0), 293);    // 292.57
  EXPECT_EQ(ColumnInfoWidth(300), 65535);
  EXPECT_EQ(ColumnInfoWidth(-4), 293);
}

TEST(SheetHeadTest, PageTextsBeyond8BitsAreWrittenAsUtf16) {
  TMemoryStream stream;
  TWorkbookWriter w(stream, TxlsFormat{});
  TxlsSheet sheet;
  sheet.PageHeader = u"第&P页";
  sheet.PageFooter = u"";
  sheet.StartDataCol = 2;
  sheet.ColumnWidths = {5};
  w.WriteSheetHead(sheet);
  auto records = SplitRecords(stream.Bytes());
  for (const Record& r : records) {
    if (r.number == 0x0014) {
      EXPECT_EQ(r.data, Bytes({4, 0, 1}) + Utf16Le(u"第&P页"));
    }
    if (r.number == 0x0015) {
      EXPECT_EQ(r.data, "");
    }
    if (r.number == 0x007D) {
      EXPECT_EQ(r.data.substr(0, 4), U16(2) + U16(2));
    }
  }
}

TEST(CellRecordTest, NumberBooleanBlank) {
  TMemoryStream stream;
  TWorkbookWriter w(stream, TxlsFormat{});
  w.WriteNumber(3, 4, 1.5, 16);
  w.WriteBoolean(65535, 255, true, 15);
  w.WriteBoolean(1, 1, false, 15);
  w.WriteBlank(7, 8, 21);
  auto records = SplitRecords(stream.Bytes());
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[0].number, 0x0203);
  EXPECT_EQ(records[0].data, U16(3) + U16(4) + U16(16) + Bytes({0, 0, 0, 0, 0, 0, 0xF8, 0x3F}));
  EXPECT_EQ(records[1].number, 0x0205);
  EXPECT_EQ(records[1].data, U16(65535) + U16(255) + U16(15) + Bytes({1, 0}));
  EXPECT_EQ(records[2].data, U16(1) + U16(1) + U16(15) + Bytes({0, 0}));
  EXPECT_EQ(records[3].number, 0x0201);
  EXPECT_EQ(records[3].data, U16(7) + U16(8) + U16(21));
}

// A stream that takes fewer bytes than asked.
class ShortStream : public TMemoryStream {
 public:
  size_t Write(const void* data, size_t n) override {
    return TMemoryStream::Write(data, n > 1 ? n - 1 : n);
  }
};

TEST(CellRecordTest, ShortWriteFailsWithErrorWritingOutputFile) {
  ShortStream stream;
  TWorkbookWriter w(stream, TxlsFormat{});
  try {
    w.WriteBlank(0, 0, 15);
    FAIL();
  } catch (const EExportError& e) {
    EXPECT_STREQ(e.what(), "Error writing output file");
  }
}

}  // namespace
}  // namespace mirestal::xls
