// The table object reading files exactly as written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "platform/gbk.h"
#include "table/dbf_table.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using testing::DbfBuilder;
using testing::TempDir;
using testing::WriteFile;

const std::string kXingMing = "\xD0\xD5\xC3\xFB";  // 姓名

class TableRead : public ::testing::Test {
 protected:
  std::unique_ptr<DbfTable> Open(const std::string& bytes) {
    path_ = dir_.File("t.dbf");
    WriteFile(path_, bytes);
    auto table = std::make_unique<DbfTable>(FileSystem::Default());
    table->OpenTable(path_, false, false);
    return table;
  }
  TempDir dir_;
  std::string path_;
};

TEST_F(TableRead, RecordCountIsDerivedFromFileSize) {
  DbfBuilder b;
  b.Field("A", 'C', 4).Record({"x"}).Record({"y"}).Record({"z"}).HeaderCount(99);
  auto t = Open(b.Build());
  EXPECT_EQ(t->RecordCount(), 3);
  EXPECT_EQ(t->HeaderRecordCount(), 99u);
  // A truncated last record and stray bytes after the records are not counted.
  std::string bytes = b.EndMarker(false).Build();
  t.reset();
  t = Open(bytes + "ab");
  EXPECT_EQ(t->RecordCount(), 3);
  t.reset();
  t = Open(bytes.substr(0, bytes.size() - 2));
  EXPECT_EQ(t->RecordCount(), 2);
}

TEST_F(TableRead, FieldPositionsLengthsAndNames) {
  DbfBuilder b;
  b.Field(kXingMing, 'C', 300).Field("N", 'N', 5).Record({"\xCD\xF5  ", "7"});
  std::string bytes = b.Build();
  bytes[32 + 12] = 'Z';  // nonsense in the stored position
  auto t = Open(bytes);
  EXPECT_EQ(t->FieldCount(), 2);
  EXPECT_EQ(t->FieldName(1), kXingMing);
  EXPECT_EQ(t->FieldLength(1), 300);
  EXPECT_EQ(t->FieldDecimals(1), 0);
  EXPECT_EQ(t->FieldOffset(1), 1);
  EXPECT_EQ(t->FieldOffset(2), 301);
  EXPECT_EQ(t->FieldNumberOf(kXingMing), 1);
  t->MoveTo(kMoveTop);
  EXPECT_EQ(t->FieldText(1), "\xCD\xF5");
  EXPECT_EQ(t->FieldNumber(2), 7);
  // Field numbers outside the table are no field.
  EXPECT_EQ(t->FieldName(3), "");
  EXPECT_EQ(t->FieldRawText(0), "");
  EXPECT_EQ(t->FieldNumber(9), 0);
}

TEST_F(TableRead, NumbersLogicalsAndDates) {
  DbfBuilder b;
  b.Field("N", 'N', 5).Field("L", 'L', 1).Field("D", 'D', 8);
  b.Record({"  -12", "y", "20230105"})
      .Record({"12 34", "?", "20230231"})
      .Record({"     ", " ", "2023-1-5"})
      .Record({"1e2", "J", "00000000"})
      .Record({"1", "T", "-0230105"});
  auto t = Open(b.Build());
  t->MoveTo(1);
  EXPECT_EQ(t->FieldNumber(1), -12);
  EXPECT_TRUE(t->FieldLogical(2));
  EXPECT_EQ(t->FieldDate(3), (TDate{2023, 1, 5}));
  t->MoveTo(2);
  try {
    t->FieldNumber(1);
    FAIL();
  } catch (const ETableError& e) {
    EXPECT_STREQ(e.what(), "Invalid numeric value in field t->N (12 34)");
  }
  EXPECT_FALSE(t->FieldLogical(2));
  EXPECT_FALSE(t->FieldDate(3).has_value());
  t->MoveTo(3);
  EXPECT_EQ(t->FieldNumber(1), 0);
  EXPECT_FALSE(t->FieldLogical(2));
  EXPECT_FALSE(t->FieldDate(3).has_value());
  t->MoveTo(4);
  EXPECT_EQ(t->FieldNumber(1), 100);
  EXPECT_TRUE(t->FieldLogical(2));
  EXPECT_FALSE(t->FieldDate(3).has_value());
  t->MoveTo(5);
  EXPECT_FALSE(t->FieldDate(3).has_value());
}

// Short decimal texts take a quick path; every text must read as the correctly rounded value.
TEST_F(TableRead, DecimalTextsReadCorrectlyRounded) {
  std::mt19937_64 random(12);
  std::vector<std::string> texts = {"0.1", "-0", "123456789012345", "1234567890123456",
                                    "0.000000000000001", "9007199254740993", ".5", "7."};
  for (int i = 0; i < 3000; ++i) {
    std::string digits = std::to_string(random() % 10000000000000000ULL);
    digits.insert(random() % (digits.size() + 1), ".");
    texts.push_back((random() % 2 ? "-" : "") + digits);
  }
  DbfBuilder b;
  b.Field("N", 'N', 20, 3);
  for (const std::string& text : texts) b.Record({text});
  auto t = Open(b.Build());
  for (size_t i = 0; i < texts.size(); ++i) {
    t->MoveTo(static_cast<int>(i) + 1);
    ASSERT_EQ(t->FieldNumber(1), std::strtod(texts[i].c_str(), nullptr)) << texts[i];
  }
}

TEST_F(TableRead, CursorFlagsAtBothEnds) {
  DbfBuilder b;
  b.Field("A", 'C', 2).Record({"a"}).Record({"b"});
  auto t = Open(b.Build());
  EXPECT_EQ(t->CurrentRecord(), 0);
  EXPECT_TRUE(t->AtBegin());
  t->MoveTo(kMoveTop);
  t->MoveTo(kMovePrevious);
  EXPECT_TRUE(t->AtBegin());
  EXPECT_EQ(t->CurrentRecord(), 1);
  EXPECT_EQ(t->FieldText(1), "a");
  t->MoveTo(kMoveBottom);
  t->MoveTo(kMoveNext);
  EXPECT_TRUE(t->AtEnd());
  EXPECT_EQ(t->FieldText(1), "b");
  t->MoveTo(0);  // does nothing
  EXPECT_TRUE(t->AtEnd());
  EXPECT_THROW(t->MoveTo(4), ETableError);
  EXPECT_THROW(t->MoveTo(-9), ETableError);
}

TEST_F(TableRead, VisualFoxProBinaryFields) {
  DbfBuilder b(0x30);
  b.Field("I", 'I', 4).Field("Y", 'Y', 8).Field("T", 'T', 8).Field("B", 'B', 8);
  std::string i = "\xFE\xFF\xFF\xFF";                       // -2
  std::string y = std::string("\x10\x27\0\0\0\0\0\0", 8);   // 10000 -> 1.0
  // Julian day 2459950 (2023-01-05), 3,600,000 ms (1:00).
  std::string tt = std::string("\x2E\x89\x25\x00\x80\xEE\x36\x00", 8);
  double d = 2.5;
  std::string bd(reinterpret_cast<const char*>(&d), 8);
  b.Record({i, y, tt, bd}).Record({"    ", std::string(8, '\0'), std::string(8, '\0'), bd});
  auto t = Open(b.Build());
  t->MoveTo(1);
  EXPECT_EQ(t->FieldNumber(1), -2);
  EXPECT_EQ(t->FieldNumber(2), 1.0);
  EXPECT_EQ(t->FieldDateTimeMs(3), (2459950LL - 1721425) * 86400000 + 3600000);
  EXPECT_EQ(t->FieldNumber(4), 2.5);
  t->MoveTo(2);
  EXPECT_EQ(t->FieldNumber(1), 0);  // four blanks
  EXPECT_EQ(t->FieldDateTimeMs(3), 0);
}

TEST_F(TableRead, PaddingAfterTheDescriptorsIsNotReadAsFields) {
  DbfBuilder b;
  b.Field("A", 'C', 3).Record({"abc"});
  std::string bytes = b.Build();
  // Insert 64 bytes of padding after the terminator and move the records with it.
  std::string padded = bytes.substr(0, 65) + std::string(64, '\0') + bytes.substr(65);
  padded[8] = static_cast<char>(65 + 64);
  auto t = Open(padded);
  EXPECT_EQ(t->FieldCount(), 1);
  EXPECT_EQ(t->RecordCount(), 1);
  t->MoveTo(1);
  EXPECT_EQ(t->FieldText(1), "abc");
}

}  // namespace
}  // namespace mirestal
