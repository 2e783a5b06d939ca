// Pack: the bytes it leaves, the cases where it changes nothing, and a pack that fails at every
// possible step (fault-injecting file layer) leaving either the old table or the packed one.
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <map>

#include "platform/fault_file.h"
#include "table/dataset.h"
#include "table/dbf_table.h"
#include "tests/table/write_test_util.h"

namespace mirestal {
namespace {

using testing::DbfBuilder;
using testing::EmptyDbase3Memo;
using testing::EmptyFoxMemo;
using testing::GetLe32;
using testing::OpenForMaintenance;
using testing::RawRecords;
using testing::ReadFile;
using testing::TempDir;
using testing::ThrownMessage;
using testing::WriteFile;

// The header's date (bytes 1-3) and stamp (16-19) change with every write; the rest is compared.
std::string WithoutDateAndStamp(std::string file) {
  if (file.size() >= 32) {
    file.replace(1, 3, 3, '\0');
    file.replace(16, 4, 4, '\0');
  }
  return file;
}

class Pack : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("t.dbf"); }
  // Records r1..rn; `deleted` are marked.
  DbfBuilder Table(int n, const std::vector<int>& deleted) {
    DbfBuilder b;
    b.Field("KEY", 'C', 6).Field("N", 'N', 4);
    for (int i = 1; i <= n; ++i) {
      bool marked = std::find(deleted.begin(), deleted.end(), i) != deleted.end();
      b.Record({"r" + std::to_string(i), std::to_string(i)}, marked);
    }
    return b;
  }
  void PackWithDataset() {
    TTableDataSet ds;
    OpenForMaintenance(ds, Path());
    ds.Pack();
  }
  TempDir dir_;
};

TEST_F(Pack, MovesTheKeptRecordsTogetherAndCutsTheFileBehindThem) {
  DbfBuilder b = Table(5, {2});
  WriteFile(Path(), b.Build());
  TTableDataSet ds;
  OpenForMaintenance(ds, Path());
  ds.Pack();
  EXPECT_EQ(ds.RecNo(), 1);
  EXPECT_EQ(ds.FieldByName("KEY").AsString(), "r1");
  EXPECT_EQ(ds.Table()->RecordCount(), 4);
  std::string file = ReadFile(Path());
  ASSERT_EQ(file.size(), static_cast<size_t>(b.HeaderLength() + 4 * b.RecordLength() + 1));
  EXPECT_EQ(file.back(), '\x1A');
  EXPECT_EQ(GetLe32(file, 4), 4u);
  // Byte for byte what moving records 3, 4, 5 to places 2, 3, 4 in place gives.
  std::string expected = Table(4, {}).Build();
  auto records = RawRecords(Table(5, {2}).Build());
  expected = expected.substr(0, b.HeaderLength()) + records[0] + records[2] + records[3] +
             records[4] + "\x1A";
  EXPECT_EQ(WithoutDateAndStamp(file), WithoutDateAndStamp(expected));
  EXPECT_EQ(ds.RecordCount(), 4);
  EXPECT_EQ(ds.CountVisibleByScan(), 4);
  EXPECT_FALSE(std::filesystem::exists(Path() + ".pack-tmp"));
}

TEST_F(Pack, OnlyRecordMarkedLeavesAnEmptyTable) {
  DbfBuilder b = Table(1, {1});
  WriteFile(Path(), b.Build());
  TTableDataSet ds;
  OpenForMaintenance(ds, Path());
  ds.Pack();
  EXPECT_TRUE(ds.IsEmpty());
  EXPECT_TRUE(ds.Eof());
  EXPECT_TRUE(ds.Bof());
  std::string file = ReadFile(Path());
  EXPECT_EQ(file.size(), static_cast<size_t>(b.HeaderLength() + 1));
  EXPECT_EQ(file.back(), '\x1A');
  EXPECT_EQ(GetLe32(file, 4), 0u);
}

TEST_F(Pack, NoMarkedRecordLeavesTheFileByteForByteUnchanged) {
  std::string original = Table(4, {}).Build();
  original += "junk";  // bytes behind the marker are not touched either
  WriteFile(Path(), original);
  PackWithDataset();
  EXPECT_EQ(ReadFile(Path()), original);
}

TEST_F(Pack, LastRecordMarkedOnlyCutsTheFileAndRewritesTheHeader) {
  DbfBuilder b = Table(4, {4});
  std::string original = b.Build();
  WriteFile(Path(), original);
  PackWithDataset();
  std::string file = ReadFile(Path());
  const size_t records_end = b.HeaderLength() + 3 * b.RecordLength();
  ASSERT_EQ(file.size(), records_end + 1);
  EXPECT_EQ(file.substr(32, records_end - 32), original.substr(32, records_end - 32));
  EXPECT_EQ(GetLe32(file, 4), 3u);
}

TEST_F(Pack, SharedTableCannotBePacked) {
  std::string original = Table(3, {2}).Build();
  WriteFile(Path(), original);
  DbfTable t(FileSystem::Default());
  t.OpenTable(Path(), true, /*shared=*/true);
  EXPECT_EQ(ThrownMessage([&] { t.Pack(); }), "Pack requires full access to file " + t.FileName());
  t.CloseTable();
  EXPECT_EQ(ReadFile(Path()), original);
}

#ifndef _WIN32  // permission bits and symbolic links
TEST_F(Pack, KeepsPermissionsAndLinksAndReplacesALeftoverFile) {
  WriteFile(Path(), Table(3, {1}).Build());
  ::chmod(Path().c_str(), 0640);
  WriteFile(Path() + ".pack-tmp", "left by a killed pack");
  std::filesystem::create_symlink(Path(), dir_.File("link.dbf"));
  TTableDataSet ds;
  OpenForMaintenance(ds, dir_.File("link.dbf"));
  ds.Pack();
  ds.Close();
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("link.dbf")));
  struct stat st;
  ASSERT_EQ(::stat(Path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(RawRecords(ReadFile(Path())).size(), 2u);
  EXPECT_FALSE(std::filesystem::exists(Path() + ".pack-tmp"));
}
#endif

TEST_F(Pack, MemoTextOfARemovedRecordStaysInDbase3AndFoxProMemoFiles) {
  for (uint8_t version : {0x83, 0xF5}) {
    SCOPED_TRACE(static_cast<int>(version));
    const std::string memo_path = dir_.File(version == 0x83 ? "t.dbt" : "t.fpt");
    DbfBuilder b(version);
    b.Field("K", 'C', 2).Field("M", 'M', 10);
    WriteFile(Path(), b.Build());
    WriteFile(memo_path, version == 0x83 ? EmptyDbase3Memo() : EmptyFoxMemo(64));
    TTableDataSet ds;
    OpenForMaintenance(ds, Path());
    for (const char* key : {"a", "b"}) {
      ds.Append();
      ds.FieldByName("K").SetAsString(key);
      ds.FieldByName("M").SetAsString(std::string("memo of ") + key);
      ds.Post();
    }
    const std::string memo_before = ReadFile(memo_path);
    ds.First();
    ds.Delete();
    ds.Pack();
    EXPECT_EQ(ReadFile(memo_path), memo_before);
    EXPECT_EQ(ds.FieldByName("M").AsString(), "memo of b");
    ds.Close();
    std::filesystem::remove(memo_path);
  }
}

// --- A pack that fails at every possible step ---

class FailingPack : public Pack {
 protected:
  // Enough records that the packed file is written in several pieces.
  static constexpr int kRecords = 120000;
  void SetUp() override {
    DbfBuilder b;
    b.Field("KEY", 'C', 8).Field("N", 'N', 7);
    for (int i = 1; i <= kRecords; ++i) {
      b.Record({"s" + std::to_string(i), std::to_string(i)}, i % 7 == 3);
    }
    original_ = b.Build();
    for (int i = 1; i <= kRecords; ++i) {
      if (i % 7 != 3) expected_.push_back("s" + std::to_string(i));
    }
  }
  // Visible keys of the table as a fresh dataset reads them.
  std::vector<std::string> VisibleKeys() {
    TTableDataSet ds;
    OpenForMaintenance(ds, Path());
    std::vector<std::string> keys;
    for (ds.First(); !ds.Eof(); ds.Next()) keys.push_back(ds.FieldByName("KEY").AsString());
    EXPECT_EQ(static_cast<int>(keys.size()), ds.RecordCount());
    return keys;
  }
  // Runs a pack with a fault armed; returns true when it raised no error. Either way the table
  // holds every student exactly once, and is either untouched or packed (a read failing after
  // the packed file took over reports an error on a packed table).
  bool PackWith(const std::function<void(FaultFileSystem&)>& arm) {
    WriteFile(Path(), original_);
    FaultFileSystem fs;
    bool ok = false;
    {
      TTableDataSet ds("Dbf", fs);
      OpenForMaintenance(ds, Path());
      arm(fs);
      try {
        ds.Pack();
        ok = true;
      } catch (const std::exception& e) {
        last_message_ = e.what();
        EXPECT_TRUE(last_message_.rfind("Error writing to ", 0) == 0 ||
                    last_message_.rfind("Error on Flush for file ", 0) == 0 ||
                    last_message_.rfind("Error on Read of file ", 0) == 0 ||
                    last_message_.rfind("Cannot create file ", 0) == 0)
            << last_message_;
      }
      fs.Reset();
    }
    EXPECT_EQ(VisibleKeys(), expected_);
    std::string file = ReadFile(Path());
    if (ok || file != original_) {
      EXPECT_EQ(RawRecords(file).size(), expected_.size());
      EXPECT_EQ(file.size(), (32 + 32 * 2 + 1) + expected_.size() * 16 + 1);
    }
    EXPECT_EQ(testing::FileNames(dir_.path()), std::vector<std::string>{"t.dbf"});
    return ok;
  }

  std::string original_;
  std::string last_message_;
  std::vector<std::string> expected_;
};

TEST_F(FailingPack, EveryWriteFailingHalfWay) {
  int step = 1;
  while (!PackWith([&](FaultFileSystem& fs) { fs.FailWriteAt(step); })) ++step;
  EXPECT_GT(step, 2);  // the packed file took several writes
}

TEST_F(FailingPack, EveryFlushFailing) {
  int step = 1;
  while (!PackWith([&](FaultFileSystem& fs) { fs.FailFlushAt(step); })) ++step;
  EXPECT_GT(step, 1);
}

TEST_F(FailingPack, EveryReadComingBackShort) {
  int step = 1;
  while (!PackWith([&](FaultFileSystem& fs) { fs.ShortReadAt(step); })) ++step;
  EXPECT_GT(step, 2);
}

TEST_F(FailingPack, RenameFailing) {
  EXPECT_FALSE(PackWith([](FaultFileSystem& fs) { fs.FailRenames(true); }));
}

TEST_F(FailingPack, MessagesNameTheTemporaryFileThatFailed) {
  const std::string temp = Path() + ".pack-tmp-";
  EXPECT_FALSE(
      PackWith([](FaultFileSystem& fs) { fs.FailOperation(FileOp::kCreateExclusiveTemp); }));
  EXPECT_EQ(last_message_.rfind("Cannot create file " + temp, 0), 0u) << last_message_;
  EXPECT_FALSE(PackWith([](FaultFileSystem& fs) { fs.FailWriteAt(1); }));
  EXPECT_EQ(last_message_.rfind("Error writing to " + temp, 0), 0u) << last_message_;
  EXPECT_FALSE(PackWith([](FaultFileSystem& fs) { fs.FailFlushAt(1); }));
  EXPECT_EQ(last_message_.rfind("Error on Flush for file " + temp, 0), 0u) << last_message_;
}

}  // namespace
}  // namespace mirestal
