// Record writing on the table object: field puts and their alignment and number formats, the
// blank record, append, rewrite, the delete mark, the header write, truncation and the locks;
// and writes that fail half way (fault-injecting file layer).
#include <fcntl.h>
#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstring>
#include <ctime>

#include "platform/fault_file.h"
#include "table/dataset.h"
#include "table/dbf_table.h"
#include "tests/table/write_test_util.h"

namespace mirestal {
namespace {

using testing::DbfBuilder;
using testing::GetLe32;
using testing::OpenForMaintenance;
using testing::RawRecords;
using testing::ReadFile;
using testing::TempDir;
using testing::ThrownMessage;
using testing::WriteFile;

const std::string kWang = "\xCD\xF5\xD0\xA1\xC3\xF7";  // 王小明 (6 GBK bytes)
const std::string kScoreName = "\xB3\xC9\xBC\xA8";     // 成绩

struct Today {
  int year, month, day;
};
Today Now() {
  time_t t = std::time(nullptr);
  struct tm local;
  localtime_r(&t, &local);
  return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

class WriteRecord : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("t.dbf"); }
  void Write(const DbfBuilder& b) { WriteFile(Path(), b.Build()); }
  DbfTable& OpenTable(bool shared = false) {
    table_ = std::make_unique<DbfTable>(FileSystem::Default());
    table_->OpenTable(Path(), true, shared);
    table_->auto_flush = true;
    return *table_;
  }
  // A table of nine students with a key C(4) and a score N(6,2).
  void NineStudents() {
    DbfBuilder b;
    b.Field("KEY", 'C', 4).Field("SCORE", 'N', 6, 2);
    for (int i = 1; i <= 9; ++i) b.Record({"s" + std::to_string(i), std::to_string(i) + ".50"});
    Write(b);
  }

  TempDir dir_;
  std::unique_ptr<DbfTable> table_;
};

TEST_F(WriteRecord, NewRecordWithoutValuesIsTheBlankRecordFollowedByTheEndMarker) {
  DbfBuilder b;
  b.Field("NAME", 'C', 10).Field("SCORE", 'N', 6, 2).Field("BORN", 'D', 8).Field("OK", 'L', 1);
  b.Field("AGE", 'N', 5);
  Write(b);
  TTableDataSet ds;
  OpenForMaintenance(ds, Path());
  ds.Append();
  ds.Post();
  ds.Close();
  std::string file = ReadFile(Path());
  ASSERT_EQ(file.size(), static_cast<size_t>(b.HeaderLength() + b.RecordLength() + 1));
  EXPECT_EQ(file.substr(b.HeaderLength()),
            " " + std::string(10, ' ') + "  0.00" + std::string(8, ' ') + " " + "    0" + "\x1A");
  EXPECT_EQ(GetLe32(file, 4), 1u);
}

TEST_F(WriteRecord, HeaderWriteRefreshesDateCountStampAndKeepsTheRest) {
  DbfBuilder b;
  b.Field("KEY", 'C', 4).Flags(0xFF).Record({"a"});
  std::string original = b.Build();
  original[24] = 'x';
  original[25] = 'y';
  original[26] = 'z';
  original[27] = 'w';
  original[29] = 0x7A;
  original[30] = 'p';
  original[31] = 'q';
  WriteFile(Path(), original);
  TTableDataSet ds;
  ds.UserID = 77;
  OpenForMaintenance(ds, Path());
  Today before = Now();
  ds.Append();
  ds.FieldByName("KEY").SetAsString("b");
  ds.Post();
  Today after = Now();
  ds.Close();
  std::string file = ReadFile(Path());
  const int year = static_cast<unsigned char>(file[1]);
  const int month = file[2], day = file[3];
  EXPECT_TRUE((year == before.year % 100 && month == before.month && day == before.day) ||
              (year == after.year % 100 && month == after.month && day == after.day));
  EXPECT_LT(year, 100);
  EXPECT_EQ(GetLe32(file, 4), 2u);
  EXPECT_EQ(GetLe32(file, 20), 77u);
  EXPECT_EQ(file[15], 0);
  EXPECT_EQ(static_cast<unsigned char>(file[28]), 0x07);  // only bits 0-2 survive
  EXPECT_EQ(file.substr(24, 4), "xyzw");
  EXPECT_EQ(file.substr(29, 3), std::string("\x7A") + "pq");
  EXPECT_EQ(file.substr(8, 4), original.substr(8, 4));
  EXPECT_EQ(file[0], original[0]);
  // The stamp is ((hour * 64 + minute) * 64 + second) * 1024 + millisecond.
  uint32_t stamp = GetLe32(file, 16);
  EXPECT_LT(stamp % 1024, 1000u);
  EXPECT_LT(stamp / 1024 % 64, 60u);
  EXPECT_LT(stamp / 1024 / 64 % 64, 60u);
  EXPECT_LT(stamp / 1024 / 64 / 64, 24u);
}

TEST_F(WriteRecord, NumbersAreRoundedRightAlignedAndRefusedWhenTooLong) {
  DbfBuilder b;
  b.Field(kScoreName, 'N', 6, 2).Field("AGE", 'N', 3).Field("F", 'F', 8, 3).Record({"1", "2", "3"});
  Write(b);
  DbfTable& t = OpenTable();
  t.MoveTo(1);
  t.PutFieldNumber(1, 3.14159);
  EXPECT_EQ(t.FieldRawText(1), "  3.14");
  t.PutFieldNumber(1, -1.5);
  EXPECT_EQ(t.FieldRawText(1), " -1.50");
  t.PutFieldNumber(1, -0.001);  // rounds to zero: no sign
  EXPECT_EQ(t.FieldRawText(1), "  0.00");
  t.PutFieldNumber(2, 12.7);
  EXPECT_EQ(t.FieldRawText(2), " 13");
  t.PutFieldNumber(3, -2.5);
  EXPECT_EQ(t.FieldRawText(3), "  -2.500");
  t.PutFieldNumber(1, 3.14);
  EXPECT_EQ(ThrownMessage([&] { t.PutFieldNumber(1, 12345.6); }),
            "numeric value too big in field 成绩 - 12345.60");
  EXPECT_EQ(t.FieldRawText(1), "  3.14");  // a refused value leaves the buffer as it was
  EXPECT_EQ(ThrownMessage([&] { t.PutFieldNumber(2, -100); }),
            "numeric value too big in field AGE - -100");
  EXPECT_EQ(t.FieldRawText(2), " 13");
}

TEST_F(WriteRecord, PutsOfTheWrongKindAreRefused) {
  DbfBuilder b;
  b.Field("KEY", 'C', 4).Field("I", 'I', 4).Field("OK", 'L', 1).Field("N", 'N', 3).Record({"a"});
  Write(b);
  DbfTable& t = OpenTable();
  t.MoveTo(1);
  std::string before(t.CurrentBuffer(), t.RecordLength());
  EXPECT_EQ(ThrownMessage([&] { t.PutFieldNumber(1, 1); }), "Field KEY is the incorrect type");
  // I is a number field only in Visual FoxPro tables.
  EXPECT_EQ(ThrownMessage([&] { t.PutFieldNumber(2, 1); }), "Field I is the incorrect type");
  EXPECT_EQ(ThrownMessage([&] { t.PutFieldLogical(4, true); }),
            "Invalid Logical value for field N");
  EXPECT_EQ(ThrownMessage([&] { t.PutFieldText(4, "1"); }), "Field N is the incorrect type");
  EXPECT_EQ(std::string(t.CurrentBuffer(), t.RecordLength()), before);
  t.PutFieldLogical(3, true);
  EXPECT_EQ(t.FieldRawText(3), "T");
  t.PutFieldLogical(3, false);
  EXPECT_EQ(t.FieldRawText(3), "F");
  // Field numbers outside the table are no field: nothing happens.
  t.PutFieldRawText(0, "zz");
  t.PutFieldNumber(99, 1);
  EXPECT_EQ(std::string(t.CurrentBuffer() + 1, 4), "a   ");
}

TEST_F(WriteRecord, RawTextIsAlignedByTypeAndCutToTheFieldLength) {
  DbfBuilder b;
  b.Field("KEY", 'C', 5).Field("N", 'N', 5).Field("D", 'D', 8).Record({"a"});
  Write(b);
  DbfTable& t = OpenTable();
  t.MoveTo(1);
  t.PutFieldRawText(1, "ab");
  EXPECT_EQ(t.FieldRawText(1), "ab   ");
  t.PutFieldRawText(2, "42");
  EXPECT_EQ(t.FieldRawText(2), "   42");
  t.PutFieldRawText(2, "1234567");
  EXPECT_EQ(t.FieldRawText(2), "12345");
  t.PutFieldRawText(3, "2023");
  EXPECT_EQ(t.FieldRawText(3), "2023    ");
  t.PutFieldRawText(1, "abcdefg");
  EXPECT_EQ(t.FieldRawText(1), "abcde");
}

TEST_F(WriteRecord, TextCutNeverLeavesHalfADoubleByteCharacter) {
  DbfBuilder b;
  b.Field("NAME", 'C', 5).Field("N4", 'C', 4).Record({"x"});
  Write(b);
  DbfTable& t = OpenTable();
  t.MoveTo(1);
  t.PutFieldText(1, kWang);  // 6 bytes into 5: the third character does not fit at all
  EXPECT_EQ(t.FieldRawText(1), kWang.substr(0, 4) + " ");
  t.PutFieldText(2, "a" + kWang);  // "a", 王 fit; 小 would be cut
  EXPECT_EQ(t.FieldRawText(2), "a" + kWang.substr(0, 2) + " ");
  t.PutFieldText(2, "abcdef");  // single-byte text is cut where the field ends
  EXPECT_EQ(t.FieldRawText(2), "abcd");
}

TEST_F(WriteRecord, VisualFoxProBinaryFieldsAreBlankedToZeroAndWrittenInTheirForms) {
  DbfBuilder b(0x30);
  b.Field("I", 'I', 4).Field("B", 'B', 8).Field("Y", 'Y', 8).Field("T", 'T', 8);
  b.Field("N", 'N', 4, 1);
  Write(b);
  DbfTable& t = OpenTable();
  std::vector<char> buffer(t.RecordLength() + 1, 'q');
  t.SetCurrentBuffer(buffer.data());
  t.BlankRecord();
  EXPECT_EQ(std::string(buffer.data(), t.RecordLength()),
            std::string(1, ' ') + std::string(28, '\0') + " 0.0");
  EXPECT_EQ(buffer.back(), 'q');  // the byte behind the record is not the blank record's
  t.PutFieldNumber(1, -7.9);
  EXPECT_EQ(std::string(buffer.data() + 1, 4), std::string("\xF9\xFF\xFF\xFF", 4));
  t.PutFieldNumber(2, 2.5);
  EXPECT_EQ(t.FieldNumber(2), 2.5);
  t.PutFieldNumber(3, 1.23456);
  EXPECT_EQ(GetLe32(std::string(buffer.data(), buffer.size()), 13), 12346u);
  EXPECT_DOUBLE_EQ(t.FieldNumber(3), 1.2346);
  // 2023-01-05 12:00:00 is day 738,525 after 0001-01-01 counted from 1.
  const int64_t ms = 738525LL * 86400000 + 12 * 3600000LL;
  t.PutFieldNumber(4, static_cast<double>(ms));
  EXPECT_EQ(GetLe32(std::string(buffer.data(), buffer.size()), 21), 738525u + 1721425u);
  EXPECT_EQ(GetLe32(std::string(buffer.data(), buffer.size()), 25), 12u * 3600000u);
  EXPECT_EQ(t.FieldDateTimeMs(4), ms);
  t.PutFieldNumber(4, 0);
  EXPECT_EQ(std::string(buffer.data() + 21, 8), std::string(8, '\0'));
  EXPECT_EQ(ThrownMessage([&] { t.PutFieldNumber(1, 3e9); }),
            "numeric value too big in field I - 3000000000");
  t.SetCurrentBuffer(nullptr);
}

TEST_F(WriteRecord, AppendFromABufferOfExactlyOneRecordWritesTheMarkerBehindIt) {
  NineStudents();
  DbfTable& t = OpenTable();
  // The caller's buffer has no room for the marker; the sanitizer catches a write behind it.
  std::unique_ptr<char[]> buffer(new char[t.RecordLength()]);
  t.SetCurrentBuffer(buffer.get());
  t.BlankRecord();
  t.PutFieldText(1, "new");
  t.AppendCurrent();
  t.SetCurrentBuffer(nullptr);
  EXPECT_EQ(t.RecordCount(), 10);
  EXPECT_EQ(t.CurrentRecord(), 10);
  std::string file = ReadFile(Path());
  ASSERT_EQ(file.size(), static_cast<size_t>(t.HeaderLength() + 10 * t.RecordLength() + 1));
  EXPECT_EQ(file.back(), '\x1A');
  EXPECT_EQ(RawRecords(file)[9], " new   0.00");
  EXPECT_EQ(GetLe32(file, 4), 10u);
}

TEST_F(WriteRecord, RewriteTouchesOnlyTheRecordAndTheHeader) {
  NineStudents();
  std::string before = ReadFile(Path());
  DbfTable& t = OpenTable();
  t.MoveTo(7);
  t.PutFieldNumber(2, 99.25);
  t.RewriteRecord(7);
  std::string after = ReadFile(Path());
  ASSERT_EQ(after.size(), before.size());
  const size_t at = t.HeaderLength() + 6 * t.RecordLength();
  EXPECT_EQ(after.substr(at, t.RecordLength()), " s7   99.25");
  EXPECT_EQ(after.substr(32, at - 32), before.substr(32, at - 32));
  EXPECT_EQ(after.substr(at + t.RecordLength()), before.substr(at + t.RecordLength()));
  EXPECT_EQ(after.back(), '\x1A');
  EXPECT_EQ(GetLe32(after, 4), 9u);
  EXPECT_FALSE(t.header_dirty());
}

TEST_F(WriteRecord, RewriteOfRecordZeroOrBeyondTheCountAppends) {
  NineStudents();
  DbfTable& t = OpenTable();
  t.MoveTo(2);
  t.RewriteRecord(0);
  EXPECT_EQ(t.RecordCount(), 10);
  t.RewriteRecord(42);
  EXPECT_EQ(t.RecordCount(), 11);
  EXPECT_EQ(RawRecords(ReadFile(Path()))[10], " s2    2.50");
}

TEST_F(WriteRecord, DeleteMarkRewritesTheRecordAndKeepsTheFileSize) {
  NineStudents();
  size_t size = ReadFile(Path()).size();
  DbfTable& t = OpenTable();
  t.MoveTo(3);
  t.MarkDeleted();
  t.MarkDeleted();  // already marked: nothing happens
  std::string file = ReadFile(Path());
  EXPECT_EQ(file.size(), size);
  EXPECT_EQ(RawRecords(file)[2], "*s3    3.50");
  t.Recall();
  EXPECT_EQ(RawRecords(ReadFile(Path()))[2], " s3    3.50");
  // Without a record under the cursor there is nothing to mark; nothing is appended.
  DbfTable& fresh = OpenTable();
  EXPECT_EQ(ThrownMessage([&] { fresh.MarkDeleted(); }), "Cannot delete the record");
  EXPECT_EQ(ReadFile(Path()).size(), size);
}

TEST_F(WriteRecord, TruncateNeedsFullAccess) {
  NineStudents();
  {
    DbfTable& shared = OpenTable(/*shared=*/true);
    EXPECT_EQ(ThrownMessage([&] { shared.Truncate(100); }),
              "Truncate requires full access to file " + shared.FileName());
    ASSERT_TRUE(shared.LockTable());
    shared.Truncate(shared.HeaderLength() + 3 * shared.RecordLength() + 1);
    shared.Unlock();
    table_.reset();
  }
  DbfTable read_only(FileSystem::Default());
  read_only.OpenTable(Path(), false, false);
  EXPECT_EQ(ThrownMessage([&] { read_only.Truncate(1); }),
            "Truncate requires full access to file " + read_only.FileName());
  read_only.CloseTable();
  DbfTable& t = OpenTable();
  EXPECT_EQ(t.RecordCount(), 3);
  t.Truncate(t.HeaderLength());
  EXPECT_EQ(ReadFile(Path()).size(), static_cast<size_t>(t.HeaderLength()));
}

#ifdef _WIN32
// The lock another process sees on the byte at `offset` (0: none). Windows locks belong to the
// handle, so a second handle of this process sees what another process would.
int LockSeenByAnotherProcess(const std::string& path, uint64_t offset) {
  std::wstring wide(path.size(), L'\0');
  wide.resize(::MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()),
                                    wide.data(), static_cast<int>(wide.size())));
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return 99;
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  int seen = 1;
  if (::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &o)) {
    ::UnlockFileEx(h, 0, 1, 0, &o);
    seen = 0;
  }
  ::CloseHandle(h);
  return seen;
}
#else
// The lock another process sees on the byte at `offset` (F_UNLCK: none).
int LockSeenByAnotherProcess(const std::string& path, uint64_t offset) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = ::open(path.c_str(), O_RDWR);
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = 1;
    if (fd < 0 || ::fcntl(fd, F_GETLK, &fl) != 0) _exit(99);
    _exit(fl.l_type == F_UNLCK ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

TEST_F(WriteRecord, ExclusiveLocksOnlyCountWhileSharedLocksReachTheSystem) {
  NineStudents();
  DbfTable& t = OpenTable();
  const uint64_t record3 = 0x40000000u + t.HeaderLength() + 2 * t.RecordLength();
  EXPECT_TRUE(t.LockRecord(3));
  EXPECT_TRUE(t.LockAppend());  // exclusive: any range, always granted
  EXPECT_EQ(t.lock_count(), 2);
  EXPECT_EQ(LockSeenByAnotherProcess(Path(), record3), 0);
  t.Unlock();
  t.Unlock();
  t.Unlock();  // one too many does not go below zero
  EXPECT_EQ(t.lock_count(), 0);
  table_.reset();

  DbfTable& shared = OpenTable(/*shared=*/true);
  EXPECT_TRUE(shared.LockRecord(3));
  EXPECT_EQ(LockSeenByAnotherProcess(Path(), record3), 1);
  EXPECT_TRUE(shared.LockRecord(3));   // nested, same range
  EXPECT_FALSE(shared.LockRecord(4));  // nested locks must name the same range
  EXPECT_EQ(shared.lock_count(), 2);
  shared.Unlock();
  EXPECT_EQ(LockSeenByAnotherProcess(Path(), record3), 1);
  shared.Unlock();
  EXPECT_EQ(LockSeenByAnotherProcess(Path(), record3), 0);
}

TEST_F(WriteRecord, SharedAppendsRereadTheHeaderAndLandBehindEachOther) {
  NineStudents();
  DbfTable first(FileSystem::Default()), second(FileSystem::Default());
  first.OpenTable(Path(), true, /*shared=*/true);
  second.OpenTable(Path(), true, /*shared=*/true);
  for (DbfTable* t : {&first, &second}) {
    t->MoveTo(1);
    t->PutFieldText(1, t == &first ? "one" : "two");
    t->AppendCurrent();
  }
  EXPECT_EQ(first.RecordCount(), 10);
  EXPECT_EQ(second.RecordCount(), 11);  // counted again from the file before appending
  auto records = RawRecords(ReadFile(Path()));
  ASSERT_EQ(records.size(), 11u);
  EXPECT_EQ(records[9].substr(0, 5), " one ");
  EXPECT_EQ(records[10].substr(0, 5), " two ");
  first.RefreshHeader();
  EXPECT_EQ(first.RecordCount(), 11);
  EXPECT_EQ(first.lock_count(), 0);
  EXPECT_EQ(second.lock_count(), 0);
}

TEST(LockRanges, FollowTheProtocol) {
  TempDir dir;
  DbfBuilder b;
  b.Field("KEY", 'C', 4).Record({"a"});
  WriteFile(dir.File("t.dbf"), b.Build());
  struct Case {
    TLockProtocol protocol;
    uint64_t record2;
    uint64_t append;
  } cases[] = {
      {TLockProtocol::Default, 0x40000000u + 65 + 5, 0x7FFFFFFE},
      {TLockProtocol::FoxLock, 0x40000000u + 65 + 5, 0x7FFFFFFE},
      {TLockProtocol::DB4Lock, 0xEFFFFFFFu - 3, 0xEFFFFFFF},
      {TLockProtocol::ClipLock, 1000000002, 1000000000},
  };
  for (const auto& c : cases) {
    DbfTable t(FileSystem::Default());
    t.OpenTable(dir.File("t.dbf"), true, true);
    t.lock_protocol = c.protocol;
    ASSERT_TRUE(t.LockRecord(2));
    EXPECT_EQ(LockSeenByAnotherProcess(dir.File("t.dbf"), c.record2), 1);
    t.Unlock();
    ASSERT_TRUE(t.LockAppend());
    EXPECT_EQ(LockSeenByAnotherProcess(dir.File("t.dbf"), c.append), 1);
    t.Unlock();
  }
}

// --- Writes that fail half way ---

class FailingWrite : public WriteRecord {
 protected:
  void OpenDs() {
    NineStudents();
    before_ = ReadFile(Path());
    OpenForMaintenance(ds_, Path());
  }
  // Records of the file now; the header's date and stamp may have changed.
  std::vector<std::string> Records() { return RawRecords(ReadFile(Path())); }

  FaultFileSystem fs_;
  TTableDataSet ds_{"Dbf", fs_};
  std::string before_;
};

TEST_F(FailingWrite, AppendFailingHalfWayIsTakenBackAndPostingAgainAddsTheStudentOnce) {
  OpenDs();
  ds_.Append();
  ds_.FieldByName("KEY").SetAsString("new");
  fs_.FailWriteAt(1);  // the record write itself
  EXPECT_EQ(ThrownMessage([&] { ds_.Post(); }), "Error writing to " + ds_.Table()->FileName());
  EXPECT_EQ(ds_.State(), TDataSetState::dsInsert);
  EXPECT_EQ(Records(), RawRecords(before_));
  EXPECT_EQ(ReadFile(Path()).size(), before_.size());
  EXPECT_EQ(ReadFile(Path()).back(), '\x1A');
  EXPECT_EQ(ds_.Table()->RecordCount(), 9);
  fs_.Reset();
  ds_.Post();
  auto records = Records();
  ASSERT_EQ(records.size(), 10u);
  EXPECT_EQ(records[9], " new   0.00");
  EXPECT_EQ(ds_.RecordCount(), 10);
  EXPECT_EQ(ds_.CountVisibleByScan(), 10);
}

TEST_F(FailingWrite, AppendWhoseHeaderWriteOrFlushFailsIsTakenBackToo) {
  OpenDs();
  for (int step = 0; step < 2; ++step) {
    SCOPED_TRACE(step);
    ds_.Append();
    ds_.FieldByName("KEY").SetAsString("n" + std::to_string(step));
    if (step == 0) {
      fs_.FailWriteAt(2);  // the header write after the record
    } else {
      fs_.FailFlushAt(1);
    }
    EXPECT_NE(ThrownMessage([&] { ds_.Post(); }), "(nothing thrown)");
    EXPECT_EQ(ds_.State(), TDataSetState::dsInsert);
    EXPECT_EQ(Records().size(), static_cast<size_t>(9 + step));
    fs_.Reset();
    ds_.Post();
    EXPECT_EQ(Records().size(), static_cast<size_t>(10 + step));
    EXPECT_EQ(ds_.RecordCount(), ds_.CountVisibleByScan());
  }
  ds_.Close();
  EXPECT_EQ(GetLe32(ReadFile(Path()), 4), 11u);
}

TEST_F(FailingWrite, EditFailingHalfWayStaysInEditStateWithTheRecordIntact) {
  OpenDs();
  ds_.SetRecNo(4);
  ds_.Edit();
  ds_.FieldByName("SCORE").SetAsString("77.5");
  fs_.FailWriteAt(1);
  EXPECT_EQ(ThrownMessage([&] { ds_.Post(); }), "Error writing to " + ds_.Table()->FileName());
  EXPECT_EQ(ds_.State(), TDataSetState::dsEdit);
  EXPECT_EQ(Records(), RawRecords(before_));
  EXPECT_EQ(ds_.FieldByName("SCORE").AsString(), "77.5");  // the typed value is kept
  fs_.Reset();
  ds_.Post();
  EXPECT_EQ(Records()[3], " s4   77.50");
  EXPECT_EQ(ds_.RecordCount(), 9);
  EXPECT_EQ(ds_.CountVisibleByScan(), 9);
}

}  // namespace
}  // namespace mirestal
