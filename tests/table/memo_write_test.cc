// Writing memo texts: block counts and padding of the three formats, reuse of a text's blocks,
// the dBase IV free list (release by pack, reuse, split, and damaged lists), and a missing memo
// file met by the first posted change.
#include <fcntl.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "table/dataset.h"
#include "table/memo.h"
#include "tests/table/write_test_util.h"

namespace mirestal {
namespace {

using testing::Be32;
using testing::DbfBuilder;
using testing::EmptyDbase3Memo;
using testing::EmptyDbase4Memo;
using testing::EmptyFoxMemo;
using testing::GetBe32;
using testing::GetLe32;
using testing::Le32;
using testing::OpenForMaintenance;
using testing::RawRecords;
using testing::ReadFile;
using testing::TempDir;
using testing::ThrownMessage;
using testing::WriteFile;

class MemoWrite : public ::testing::Test {
 protected:
  // A table with a key and a memo field, no records, and an empty memo file of its format.
  void Create(uint8_t version, const std::string& memo) {
    version_ = version;
    DbfBuilder b(version);
    b.Field("K", 'C', 3).Field("M", 'M', version == 0x30 ? 4 : 10);
    if (version == 0x30) b.Flags(0x02);
    WriteFile(dir_.File("t.dbf"), b.Build());
    WriteFile(MemoPath(), memo);
    OpenForMaintenance(ds_, dir_.File("t.dbf"));
  }
  std::string MemoPath() const {
    return dir_.File(version_ == 0x30 || version_ == 0xF5 ? "t.fpt" : "t.dbt");
  }
  void AppendWithMemo(const std::string& key, const std::string& text) {
    ds_.Append();
    ds_.FieldByName("K").SetAsString(key);
    ds_.FieldByName("M").SetAsString(text);
    ds_.Post();
  }
  void EditMemo(int record, const std::string& text) {
    ds_.SetRecNo(record);
    ds_.Edit();
    ds_.FieldByName("M").SetAsString(text);
    ds_.Post();
  }
  // The block number in the memo field of a record, as stored in the file.
  uint32_t Block(int record) {
    std::string raw = RawRecords(ReadFile(dir_.File("t.dbf")))[record - 1];
    if (version_ == 0x30) return GetLe32(raw, 4);
    std::string digits = raw.substr(4, 10);
    size_t first = digits.find_first_not_of(' ');
    return first == std::string::npos ? 0 : static_cast<uint32_t>(std::stoul(digits.substr(first)));
  }
  std::string MemoText(int record) {
    ds_.SetRecNo(record);
    return ds_.FieldByName("M").AsString();
  }

  TempDir dir_;
  TTableDataSet ds_;
  uint8_t version_ = 0;
};

TEST_F(MemoWrite, Dbase3TextOf510BytesFillsOneBlockAnd511TakeTwo) {
  Create(0x83, EmptyDbase3Memo());
  AppendWithMemo("a", std::string(510, 'x'));
  std::string memo = ReadFile(MemoPath());
  ASSERT_EQ(memo.size(), 1024u);
  EXPECT_EQ(memo.substr(1022), "\x1A\x1A");
  EXPECT_EQ(GetLe32(memo, 0), 2u);
  EXPECT_EQ(Block(1), 1u);
  EXPECT_EQ(RawRecords(ReadFile(dir_.File("t.dbf")))[0].substr(4), "         1");
  AppendWithMemo("b", std::string(511, 'y'));
  memo = ReadFile(MemoPath());
  ASSERT_EQ(memo.size(), 2048u);
  EXPECT_EQ(GetLe32(memo, 0), 4u);
  EXPECT_EQ(memo.substr(1024 + 511, 3), std::string("\x1A\x1A\0", 3));
  EXPECT_EQ(Block(2), 2u);
  EXPECT_EQ(MemoText(1), std::string(510, 'x'));
  EXPECT_EQ(MemoText(2), std::string(511, 'y'));
}

TEST_F(MemoWrite, Dbase3ReusesTheBlocksOfAShorterTextOnly) {
  Create(0x83, EmptyDbase3Memo());
  AppendWithMemo("a", std::string(700, 'x'));  // two blocks
  EditMemo(1, "short");
  EXPECT_EQ(Block(1), 1u);
  EXPECT_EQ(MemoText(1), "short");
  EditMemo(1, std::string(1100, 'z'));  // three blocks: to the end of the file
  EXPECT_EQ(Block(1), 3u);
  EXPECT_EQ(GetLe32(ReadFile(MemoPath()), 0), 6u);
  EXPECT_EQ(MemoText(1), std::string(1100, 'z'));
}

TEST_F(MemoWrite, FoxProKeepsTheBlockForAShorterTextAndMovesALongerOneToTheEnd) {
  Create(0xF5, EmptyFoxMemo(64));
  AppendWithMemo("a", std::string(100, 'x'));  // 108 bytes: two blocks of 64 from block 8
  std::string memo = ReadFile(MemoPath());
  EXPECT_EQ(Block(1), 8u);
  EXPECT_EQ(GetBe32(memo, 0), 10u);
  EXPECT_EQ(GetBe32(memo, 512), 1u);    // type: text
  EXPECT_EQ(GetBe32(memo, 516), 100u);  // length without the block header
  EXPECT_EQ(memo.size(), 512u + 128u);
  EXPECT_EQ(memo.substr(512 + 108), std::string(20, '\0'));
  EditMemo(1, "shorter");
  EXPECT_EQ(Block(1), 8u);
  EXPECT_EQ(MemoText(1), "shorter");
  EditMemo(1, std::string(200, 'w'));  // four blocks: moves to the end
  EXPECT_EQ(Block(1), 10u);
  EXPECT_EQ(GetBe32(ReadFile(MemoPath()), 0), 14u);
  EXPECT_EQ(MemoText(1), std::string(200, 'w'));
}

// Damages the memo file while the table holds it, which Windows refuses to a foreign writer.
#ifndef _WIN32
TEST_F(MemoWrite, DamagedNextFreeBlockNeitherOverwritesTextsNorJumpsFarBehindTheEnd) {
  Create(0x83, EmptyDbase3Memo());
  AppendWithMemo("a", "first text");
  std::string memo = ReadFile(MemoPath());
  memo.replace(0, 4, Le32(1));  // points at the first text
  WriteFile(MemoPath(), memo);
  AppendWithMemo("b", "second text");
  EXPECT_EQ(Block(2), 2u);
  EXPECT_EQ(MemoText(1), "first text");
  EXPECT_EQ(GetLe32(ReadFile(MemoPath()), 0), 3u);
  ds_.Close();

  Create(0xF5, EmptyFoxMemo(64));
  memo = ReadFile(MemoPath());
  memo.replace(0, 4, Be32(0xFFFFFFF0u));  // far behind the end of the file
  WriteFile(MemoPath(), memo);
  AppendWithMemo("a", "text");
  EXPECT_EQ(Block(1), 8u);
  EXPECT_EQ(ReadFile(MemoPath()).size(), 512u + 64u);
  EXPECT_EQ(MemoText(1), "text");
}
#endif

TEST_F(MemoWrite, VisualFoxProStoresTheBlockNumberAsFourBinaryBytes) {
  Create(0x30, EmptyFoxMemo(64));
  AppendWithMemo("a", "hello");
  EXPECT_EQ(Block(1), 8u);
  EXPECT_EQ(MemoText(1), "hello");
  EditMemo(1, "");
  EXPECT_EQ(Block(1), 0u);
  EXPECT_TRUE(ds_.FieldByName("M").IsNull());
}

TEST_F(MemoWrite, EmptyTextLeavesTheFieldWithBlockZero) {
  Create(0x83, EmptyDbase3Memo());
  AppendWithMemo("a", "text");
  EditMemo(1, "");
  EXPECT_EQ(RawRecords(ReadFile(dir_.File("t.dbf")))[0].substr(4), "         0");
  EXPECT_TRUE(ds_.FieldByName("M").IsNull());
}

TEST_F(MemoWrite, Dbase4PackReleasesBlocksThatTheNextTextReuses) {
  Create(0x8B, EmptyDbase4Memo(512));
  AppendWithMemo("a", "one");                  // block 1
  AppendWithMemo("b", std::string(600, 'b'));  // blocks 2-3
  AppendWithMemo("c", "three");                // block 4
  std::string memo = ReadFile(MemoPath());
  EXPECT_EQ(GetLe32(memo, 0), 5u);  // the list ends at the end of the file
  EXPECT_EQ(memo.substr(1024, 8), std::string("\xFF\xFF\x08\x00", 4) + Le32(608));
  ds_.SetRecNo(2);
  ds_.Delete();
  ds_.Pack();
  memo = ReadFile(MemoPath());
  EXPECT_EQ(GetLe32(memo, 0), 2u);                     // head of the free list
  EXPECT_EQ(memo.substr(1024, 8), Le32(5) + Le32(2));  // next run, two blocks
  AppendWithMemo("d", std::string(700, 'd'));          // two blocks: reuses 2-3
  EXPECT_EQ(Block(3), 2u);
  EXPECT_EQ(GetLe32(ReadFile(MemoPath()), 0), 5u);
  EXPECT_EQ(MemoText(3), std::string(700, 'd'));
  EXPECT_EQ(MemoText(1), "one");
  EXPECT_EQ(MemoText(2), "three");
}

TEST_F(MemoWrite, Dbase4GivesReplacedBlocksBackWhenThePostLandsAndSplitsALargerRun) {
  Create(0x8B, EmptyDbase4Memo(512));
  AppendWithMemo("a", std::string(1200, 'a'));  // blocks 1-3
  AppendWithMemo("b", "b");                     // block 4
  EditMemo(1, "small");                         // block 5; the post releases 1-3
  EXPECT_EQ(Block(1), 5u);
  std::string memo = ReadFile(MemoPath());
  EXPECT_EQ(GetLe32(memo, 0), 1u);
  EXPECT_EQ(memo.substr(512, 8), Le32(6) + Le32(3));
  AppendWithMemo("c", "tiny");  // block 1 of the three-block run; the rest stays free
  EXPECT_EQ(Block(3), 1u);
  memo = ReadFile(MemoPath());
  EXPECT_EQ(GetLe32(memo, 0), 2u);
  EXPECT_EQ(memo.substr(1024, 8), Le32(6) + Le32(2));
  EXPECT_EQ(MemoText(1), "small");
  EXPECT_EQ(MemoText(2), "b");
  EXPECT_EQ(MemoText(3), "tiny");
}

TEST_F(MemoWrite, Dbase4CancelledMemoEditKeepsTheOldTextSafeFromReuse) {
  Create(0x8B, EmptyDbase4Memo(512));
  AppendWithMemo("a", "keep me");  // block 1
  ds_.SetRecNo(1);
  ds_.Edit();
  ds_.FieldByName("M").SetAsString("changed");  // written at once, to block 2
  ds_.Cancel();
  EXPECT_EQ(Block(1), 1u);
  EXPECT_EQ(MemoText(1), "keep me");
  AppendWithMemo("b", "another text");  // must not land on block 1
  EXPECT_NE(Block(2), 1u);
  EXPECT_EQ(MemoText(1), "keep me");
  EXPECT_EQ(MemoText(2), "another text");
}

TEST_F(MemoWrite, Dbase4FreeListThatLoopsOrLeavesTheFileIsRefusedNotWalkedForever) {
  // Blocks 1 and 2 are one-block free runs that point at each other.
  std::string looping = EmptyDbase4Memo(512);
  looping += Le32(2) + Le32(1);
  looping.resize(1024, '\0');
  looping += Le32(1) + Le32(1);
  looping.resize(1536, '\0');
  Create(0x8B, looping);
  ds_.Append();
  ds_.FieldByName("K").SetAsString("a");
  const std::string bad = "Memo record is bad in " + MemoPath();
  EXPECT_EQ(ThrownMessage([&] { ds_.FieldByName("M").SetAsString(std::string(600, 'x')); }), bad);
  EXPECT_EQ(ds_.State(), TDataSetState::dsInsert);
  ds_.Cancel();
  ds_.Close();

  std::string outside = EmptyDbase4Memo(512);
  outside += Le32(99) + Le32(1);  // next run far behind the end of the file
  outside.resize(1024, '\0');
  WriteFile(MemoPath(), outside);
  OpenForMaintenance(ds_, dir_.File("t.dbf"));
  ds_.Append();
  EXPECT_EQ(ThrownMessage([&] { ds_.FieldByName("M").SetAsString(std::string(600, 'x')); }), bad);
  ds_.Cancel();
  ds_.Close();

  std::string zero_link = EmptyDbase4Memo(512);
  zero_link.replace(0, 4, Le32(0));  // a list that points into the header
  WriteFile(MemoPath(), zero_link);
  OpenForMaintenance(ds_, dir_.File("t.dbf"));
  ds_.Append();
  EXPECT_EQ(ThrownMessage([&] { ds_.FieldByName("M").SetAsString("x"); }), bad);
}

#ifndef _WIN32  // the other program is a forked child
TEST_F(MemoWrite, SharedMemoFileLockedByAnotherProgramIsRefusedAfterItsTries) {
  DbfBuilder b(0x83);
  b.Field("K", 'C', 3).Field("M", 'M', 10).Record({"a", ""});
  WriteFile(dir_.File("t.dbf"), b.Build());
  version_ = 0x83;
  WriteFile(MemoPath(), EmptyDbase3Memo());
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t holder = fork();
  if (holder == 0) {
    // Another program holding the memo file's lock range.
    int fd = ::open(MemoPath().c_str(), O_RDWR);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0x40000000;
    fl.l_len = 0x3FFFFFFF;
    char ok = (fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0) ? 1 : 0;
    if (::write(ready[1], &ok, 1) != 1) _exit(1);
    ::pause();
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 1);
  ds_.TableName = dir_.File("t.dbf");
  ds_.Exclusive = false;
  ds_.AutoFlush = true;
  ds_.Open();
  ds_.Edit();
  EXPECT_EQ(ThrownMessage([&] { ds_.FieldByName("M").SetAsString("text"); }),
            "Can not Lock file " + MemoPath());
  EXPECT_EQ(ds_.State(), TDataSetState::dsEdit);
  ::kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
  ds_.FieldByName("M").SetAsString("text");  // the lock is free again
  ds_.Post();
  EXPECT_EQ(MemoText(1), "text");
}
#endif

TEST_F(MemoWrite, MissingMemoFileFailsTheFirstPostedChangeBeforeAnythingIsWritten) {
  DbfBuilder b(0x83);
  b.Field("K", 'C', 3).Field("M", 'M', 10).Record({"a", ""}).Record({"b", ""});
  WriteFile(dir_.File("t.dbf"), b.Build());
  const std::string before = ReadFile(dir_.File("t.dbf"));
  version_ = 0x83;
  OpenForMaintenance(ds_, dir_.File("t.dbf"));
  ds_.Next();  // browsing needs no memo file
  EXPECT_EQ(ds_.FieldByName("K").AsString(), "b");
  ds_.Edit();
  ds_.FieldByName("K").SetAsString("c");
  EXPECT_EQ(ThrownMessage([&] { ds_.Post(); }), "File " + MemoPath() + " could not be found");
  EXPECT_EQ(ds_.State(), TDataSetState::dsEdit);
  ds_.Cancel();
  ds_.Append();
  EXPECT_EQ(ThrownMessage([&] { ds_.Post(); }), "File " + MemoPath() + " could not be found");
  ds_.Cancel();
  ds_.Close();
  EXPECT_EQ(ReadFile(dir_.File("t.dbf")), before);
}

}  // namespace
}  // namespace mirestal
