// The shared string table: numbering, counting, and the record plan with CONTINUE records.
#include "xls/sst.h"

#include <gtest/gtest.h>

#include "tests/xls/biff_records.h"

namespace mirestal::xls {
namespace {

using namespace testing;  // NOLINT: the test helpers of this folder

// Joins the SST and CONTINUE records back into the entries they hold, checking that every
// header announces exactly the bytes that follow it. Returns the texts; `lengths` gets the
// records' data lengths.
std::vector<std::u16string> Reassemble(const std::string& bytes, std::vector<size_t>* lengths,
                                       uint32_t* total, uint32_t* unique) {
  auto records = SplitRecords(bytes);
  EXPECT_EQ(records.back().offset + 4 + records.back().data.size(), bytes.size());
  EXPECT_EQ(records.at(0).number, 0x00FC);
  for (size_t i = 1; i < records.size(); ++i) EXPECT_EQ(records[i].number, 0x003C);
  for (const Record& r : records) {
    lengths->push_back(r.data.size());
    EXPECT_LE(r.data.size(), 8224u);
  }
  const std::string& first = records[0].data;
  auto get16 = [](const std::string& d, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(d[at]) | static_cast<uint8_t>(d[at + 1])
                                                                   << 8);
  };
  *total = get16(first, 0) | uint32_t{get16(first, 2)} << 16;
  *unique = get16(first, 4) | uint32_t{get16(first, 6)} << 16;
  std::vector<std::u16string> texts;
  size_t record = 0, pos = 8;
  for (uint32_t e = 0; e < *unique; ++e) {
    if (pos == records[record].data.size()) ++record, pos = 0;
    const std::string* d = &records.at(record).data;
    uint16_t count = get16(*d, pos);
    EXPECT_EQ((*d)[pos + 2], 1);
    pos += 3;
    std::u16string text;
    while (text.size() < count) {
      if (pos == d->size()) {  // the entry goes on in the next record, after its option byte
        d = &records.at(++record).data;
        EXPECT_EQ((*d)[0], 1);
        pos = 1;
      }
      EXPECT_LE(pos + 2, d->size()) << "a character is split between records";
      text.push_back(static_cast<char16_t>(get16(*d, pos)));
      pos += 2;
    }
    texts.push_back(text);
  }
  EXPECT_EQ(record, records.size() - 1);
  EXPECT_EQ(pos, records.back().data.size());
  return texts;
}

TEST(SharedStringsTest, WorkedExample) {
  TsstStrings sst;
  EXPECT_EQ(sst.AddSharedString(u"考籍号"), 0u);
  EXPECT_EQ(sst.AddSharedString(u"姓名"), 1u);
  EXPECT_EQ(sst.AddSharedString(u"0001"), 2u);
  EXPECT_EQ(sst.AddSharedString(u"张三"), 3u);
  std::string out;
  sst.WriteSharedStrings(out);
  EXPECT_EQ(out.substr(0, 4), Bytes({0xFC, 0, 42, 0}));
  EXPECT_EQ(out.substr(4, 8), U32(4) + U32(4));
  EXPECT_EQ(out.substr(12, 9), Bytes({0x03, 0x00, 0x01, 0x03, 0x80, 0x4D, 0x7C, 0xF7, 0x53}));
  EXPECT_EQ(out.size(), 4u + 42);
}

TEST(SharedStringsTest, RepeatsShareOneEntryAndCaseMatters) {
  TsstStrings sst;
  EXPECT_EQ(sst.AddSharedString(u"男"), 0u);
  EXPECT_EQ(sst.AddSharedString(u"Abc"), 1u);
  EXPECT_EQ(sst.AddSharedString(u"男"), 0u);
  EXPECT_EQ(sst.AddSharedString(u"abc"), 2u);
  EXPECT_EQ(sst.AddSharedString(u"Abc"), 1u);
  EXPECT_EQ(sst.AddSharedString(u""), 3u);
  EXPECT_EQ(sst.total(), 6u);
  EXPECT_EQ(sst.unique(), 4u);
  EXPECT_EQ(sst.UseCount(0), 2u);
  EXPECT_EQ(sst.UseCount(2), 1u);
}

TEST(SharedStringsTest, ManyDistinctTextsKeepFirstUseOrder) {
  TsstStrings sst;
  for (int i = 2000; i-- > 0;) {
    std::string s = std::to_string(i * 7919 % 2000);
    EXPECT_EQ(sst.AddSharedString(std::u16string(s.begin(), s.end())), 1999u - i);
  }
  for (int i = 0; i < 2000; ++i) {
    std::string s = std::to_string(i * 7919 % 2000);
    EXPECT_EQ(sst.AddSharedString(std::u16string(s.begin(), s.end())), 1999u - i);
  }
  EXPECT_EQ(sst.unique(), 2000u);
  EXPECT_EQ(sst.total(), 4000u);
}

TEST(SharedStringsTest, EmptyTableHasEightBytes) {
  TsstStrings sst;
  std::string out;
  sst.WriteSharedStrings(out);
  EXPECT_EQ(out, Bytes({0xFC, 0, 8, 0}) + U32(0) + U32(0));
}

TEST(SharedStringsTest, StringThatWouldCrossTheLimitStartsTheNextRecordWhole) {
  TsstStrings sst;
  std::vector<std::u16string> added;
  for (int i = 0; i < 100; ++i) {
    std::u16string text(100, static_cast<char16_t>(0x4E00 + i));  // 203 bytes each
    added.push_back(text);
    sst.AddSharedString(text);
  }
  std::string out;
  sst.WriteSharedStrings(out);
  std::vector<size_t> lengths;
  uint32_t total = 0, unique = 0;
  EXPECT_EQ(Reassemble(out, &lengths, &total, &unique), added);
  // 8 + 40 * 203 = 8128; the 41st entry would end at 8331.
  ASSERT_EQ(lengths.size(), 3u);
  EXPECT_EQ(lengths[0], 8128u);
  EXPECT_EQ(lengths[1], 40u * 203);
  EXPECT_EQ(lengths[2], 20u * 203);
  EXPECT_EQ(total, 100u);
  EXPECT_EQ(unique, 100u);
  EXPECT_EQ(sst.SizePlan(), (std::vector<uint32_t>{8128, 8120, 4060}));
}

TEST(SharedStringsTest, StringOf4110CharactersFitsARecordOfItsOwn) {
  TsstStrings sst;
  std::u16string longest(4110, u'x');
  sst.AddSharedString(longest);
  sst.AddSharedString(u"y");
  std::string out;
  sst.WriteSharedStrings(out);
  std::vector<size_t> lengths;
  uint32_t total = 0, unique = 0;
  EXPECT_EQ(Reassemble(out, &lengths, &total, &unique),
            (std::vector<std::u16string>{longest, u"y"}));
  EXPECT_EQ(lengths, (std::vector<size_t>{8, 8223, 5}));
}

TEST(SharedStringsTest, LongerStringsAreSplitWithAnOptionByteInEachContinuation) {
  TsstStrings sst;
  std::u16string head = u"考籍号";
  std::u16string huge;
  for (int i = 0; i < 10000; ++i) huge.push_back(static_cast<char16_t>(0x4E00 + i % 5000));
  sst.AddSharedString(head);
  sst.AddSharedString(huge);
  sst.AddSharedString(u"after");
  std::string out;
  sst.WriteSharedStrings(out);
  std::vector<size_t> lengths;
  uint32_t total = 0, unique = 0;
  EXPECT_EQ(Reassemble(out, &lengths, &total, &unique),
            (std::vector<std::u16string>{head, huge, u"after"}));
  // 4110 characters after the entry header, 4111 after the option byte, the rest (1779) and
  // then the next entry in the same record.
  EXPECT_EQ(lengths, (std::vector<size_t>{8 + 9, 3 + 8220, 1 + 8222, 1 + 2 * 1779 + 13}));
}

TEST(SharedStringsTest, TextBeyond65535CharactersIsRefused) {
  TsstStrings sst;
  EXPECT_NO_THROW(sst.AddSharedString(std::u16string(65535, u'a')));
  EXPECT_THROW(sst.AddSharedString(std::u16string(65536, u'a')), std::length_error);
}

}  // namespace
}  // namespace mirestal::xls
