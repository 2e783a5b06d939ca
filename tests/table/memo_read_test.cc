// Reading memo texts of the three formats, and refusing damaged memo files.
#include <gtest/gtest.h>

#include "table/dataset.h"
#include "tests/table/write_test_util.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using testing::Be32;
using testing::DbfBuilder;
using testing::Le32;
using testing::TempDir;
using testing::WriteFile;

std::string Block(std::string content, size_t size) {
  content.resize(size, '\0');
  return content;
}

class MemoRead : public ::testing::Test {
 protected:
  // A table with one C field and one memo field; `blocks` are the memo block numbers.
  void WriteTable(uint8_t version, const std::vector<std::string>& blocks) {
    DbfBuilder b(version);
    b.Field("K", 'C', 2).Field("M", 'M', version == 0x30 ? 4 : 10);
    if (version == 0x30) b.Flags(0x02);
    for (const auto& block : blocks) b.Record({"k", block});
    WriteFile(dir_.File("t.dbf"), b.Build());
  }
  std::string ReadMemo(int record) {
    TTableDataSet ds;
    ds.TableName = dir_.File("t.dbf");
    ds.Exclusive = true;
    ds.Open();
    ds.SetRecNo(record);
    return ds.FieldByName("M").AsString();
  }
  TempDir dir_;
};

TEST_F(MemoRead, Dbase3TextEndsAtTheFirstEndMarker) {
  WriteTable(0x83, {"1", "2", "0"});
  std::string memo = Block(Le32(4), 512) + Block("hello\x1A\x1A", 512) +
                     std::string(510, 'x') + "\x1A\x1A";
  WriteFile(dir_.File("t.dbt"), memo);
  EXPECT_EQ(ReadMemo(1), "hello");
  EXPECT_EQ(ReadMemo(2), std::string(510, 'x'));
  EXPECT_EQ(ReadMemo(3), "");
}

TEST_F(MemoRead, Dbase4TextLengthComesFromItsBlockHeader) {
  WriteTable(0x8B, {"1"});
  std::string head = Le32(3) + std::string(16, '\0') + Le32(512);
  std::string text = std::string("\xFF\xFF\x08\x00", 4) + Le32(8 + 5) + "world";
  WriteFile(dir_.File("t.dbt"), Block(head, 512) + Block(text, 512));
  EXPECT_EQ(ReadMemo(1), "world");
}

TEST_F(MemoRead, FoxProBlocksAndVisualFoxProBinaryBlockNumbers) {
  std::string head = Be32(3) + Be32(64);
  std::string memo = Block(head, 64) + Block(Be32(1) + Be32(3) + "abc", 64) +
                     Block(Be32(1) + Be32(0), 64);
  WriteTable(0xF5, {"1"});
  WriteFile(dir_.File("t.fpt"), memo);
  EXPECT_EQ(ReadMemo(1), "abc");
  WriteTable(0x30, {Le32(1)});
  EXPECT_EQ(ReadMemo(1), "abc");
}

TEST_F(MemoRead, DamagedMemoFilesAreRefusedWithoutHugeReads) {
  const std::string bad = "Memo record is bad in " + dir_.File("t.fpt");
  const std::string fox_head = Block(Be32(2) + Be32(64), 64);
  struct Case {
    const char* name;
    uint8_t version;
    std::string block;
    std::string memo;
    std::string ext;
  };
  const std::vector<Case> cases = {
      {"fox block past the end", 0xF5, "9", fox_head + Block(Be32(1) + Be32(1), 64), "fpt"},
      {"fox length past the end", 0xF5, "1", fox_head + Block(Be32(1) + Be32(0x7FFFFFFF), 64),
       "fpt"},
      {"fox wrong type", 0xF5, "1", fox_head + Block(Be32(7) + Be32(1) + "a", 64), "fpt"},
      {"fox block size 0", 0xF5, "1", Block(Be32(2) + Be32(0), 64) + Block("", 64), "fpt"},
      {"dbase3 without end marker", 0x83, "1", Block(Le32(2), 512) + std::string(700, 'a'),
       "dbt"},
      {"dbase3 block past the end", 0x83, "5", Block(Le32(2), 512), "dbt"},
      {"dbase4 without FF FF", 0x8B, "1",
       Block(Le32(2) + std::string(16, '\0') + Le32(512), 512) + Block("abcdefgh", 512), "dbt"},
      {"dbase4 length past the end", 0x8B, "1",
       Block(Le32(2) + std::string(16, '\0') + Le32(512), 512) +
           Block(std::string("\xFF\xFF\x08\x00", 4) + Le32(0xFFFFFFF0), 512),
       "dbt"},
      {"dbase4 block size 0", 0x8B, "1", Block(Le32(2), 512) + Block("", 512), "dbt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteTable(c.version, {c.block});
    WriteFile(dir_.File("t." + c.ext), c.memo);
    try {
      ReadMemo(1);
      ADD_FAILURE() << "no error";
    } catch (const ETableError& e) {
      EXPECT_EQ(std::string(e.what()), "Memo record is bad in " + dir_.File("t." + c.ext));
    }
  }
}

TEST_F(MemoRead, MissingMemoFileFailsOnlyTheRead) {
  WriteTable(0x83, {"1"});
  TTableDataSet ds;
  ds.TableName = dir_.File("t.dbf");
  ds.Open();
  EXPECT_EQ(ds.FieldByName("K").AsString(), "k");
  try {
    ds.FieldByName("M").AsString();
    FAIL();
  } catch (const ETableError& e) {
    EXPECT_EQ(std::string(e.what()), "File " + dir_.File("t.dbt") + " could not be found");
  }
  EXPECT_FALSE(ds.FieldByName("M").IsNull());
  EXPECT_EQ(ds.FieldByName("M").DisplayText(), "(MEMO)");
}

}  // namespace
}  // namespace mirestal
