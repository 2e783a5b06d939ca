#include "platform/file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>

#include "platform/fault_file.h"
#include "platform/paths.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using testing::FileNames;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(File, PositionedReadAndWriteSizeAndTruncate) {
  TempDir dir;
  std::string path = dir.File("a.bin");
  WriteFile(path, "0123456789");
  auto f = FileSystem::Default().Open(path, Access::kReadWrite, Share::kNone);
  char buf[4];
  EXPECT_EQ(f->ReadAt(8, buf, 4), 2u);  // short at the end of the file
  EXPECT_EQ(std::string(buf, 2), "89");
  f->WriteAt(2, "ab", 2);
  f->Truncate(6);
  f->Flush();
  EXPECT_EQ(f->Size(), 6u);
  f.reset();
  EXPECT_EQ(ReadFile(path), "01ab45");
}

TEST(File, ExclusiveOpenShutsOutASecondOpener) {
  TempDir dir;
  std::string path = dir.File("t.dbf");
  WriteFile(path, "x");
  auto first = FileSystem::Default().Open(path, Access::kReadWrite, Share::kNone);
  EXPECT_THROW(FileSystem::Default().Open(path, Access::kRead, Share::kNone), IoError);
  EXPECT_THROW(FileSystem::Default().Open(path, Access::kRead, Share::kReadWrite), IoError);
  first.reset();
  auto shared1 = FileSystem::Default().Open(path, Access::kRead, Share::kReadWrite);
  auto shared2 = FileSystem::Default().Open(path, Access::kRead, Share::kReadWrite);
  EXPECT_THROW(FileSystem::Default().Open(path, Access::kReadWrite, Share::kNone), IoError);
}

TEST(File, ReadOnlyAttributeIsTheOwnerWriteBitAndRefusesWriting) {
  TempDir dir;
  std::string path = dir.File("r.dbf");
  WriteFile(path, "x");
  EXPECT_FALSE(IsReadOnly(path));
  SetReadOnly(path, true);
  EXPECT_TRUE(IsReadOnly(path));
  EXPECT_THROW(FileSystem::Default().Open(path, Access::kReadWrite, Share::kNone), IoError);
  EXPECT_NO_THROW(FileSystem::Default().Open(path, Access::kRead, Share::kNone));
  ForceDeleteFile(path);
  EXPECT_FALSE(PathExists(path));
  ForceDeleteFile(path);  // silent when missing
}

TEST(File, MissingFileAndFolderAreNotFiles) {
  TempDir dir;
  try {
    FileSystem::Default().Open(dir.File("none"), Access::kRead, Share::kNone);
    FAIL();
  } catch (const IoError& e) {
    EXPECT_EQ(e.kind(), IoErrorKind::kNotFound);
  }
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_THROW(FileSystem::Default().Open(dir.path(), Access::kRead, Share::kNone), IoError);
  EXPECT_TRUE(ForceDirectories(dir.File("a/b/c")));
  EXPECT_TRUE(DirectoryExists(dir.File("a/b/c")));
}

IoErrorKind KindOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const IoError& e) {
    return e.kind();
  }
  ADD_FAILURE() << "nothing thrown";
  return IoErrorKind::kOther;
}

TEST(File, FailuresCarryTheirPortableKind) {
  TempDir dir;
  FileSystem& fs = FileSystem::Default();
  const std::string path = dir.File("t.dbf");
  WriteFile(path, "keep");
  auto held = fs.Open(path, Access::kRead, Share::kNone);
  EXPECT_EQ(KindOf([&] { fs.Open(path, Access::kRead, Share::kNone); }), IoErrorKind::kLocked);
  // Create empties a file only once it holds the lock: a held file keeps its bytes.
  EXPECT_EQ(KindOf([&] { fs.Create(path); }), IoErrorKind::kLocked);
  held.reset();
  EXPECT_EQ(ReadFile(path), "keep");
  SetReadOnly(path, true);
  EXPECT_EQ(KindOf([&] { fs.Create(path); }), IoErrorKind::kAccessDenied);
  EXPECT_EQ(ReadFile(path), "keep");
  EXPECT_EQ(KindOf([&] { fs.Remove(dir.File("none")); }), IoErrorKind::kNotFound);
}

#ifndef _WIN32  // Windows: Win32File.DeviceNamesAreNeverOpened
// A named pipe would block an open until a writer comes; a device must not be touched.
TEST(File, NonRegularFilesAreRefusedAtOnce) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
  for (const std::string& path : {dir.File("pipe"), std::string("/dev/null"), dir.path()}) {
    for (Access access : {Access::kRead, Access::kReadWrite}) {
      EXPECT_EQ(KindOf([&] { FileSystem::Default().Open(path, access, Share::kReadWrite); }),
                IoErrorKind::kAccessDenied)
          << path;
    }
    EXPECT_FALSE(FileExists(path)) << path;
  }
  EXPECT_EQ(KindOf([&] { FileSystem::Default().Create(dir.File("pipe")); }),
            IoErrorKind::kAccessDenied);
}
#endif

TEST(File, ExclusiveTemporaryFilesGetFreshUnpredictableNames) {
  TempDir dir;
  std::string a, b;
  auto fa = FileSystem::Default().CreateExclusiveTemp(dir.path(), "t.dbf.pack-tmp-", &a);
  auto fb = FileSystem::Default().CreateExclusiveTemp(dir.path() + "/", "t.dbf.pack-tmp-", &b);
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(dir.File("t.dbf.pack-tmp-"), 0), 0u) << a;
  EXPECT_GE(a.size(), dir.File("t.dbf.pack-tmp-").size() + 8);
  fa->WriteAt(0, "x", 1);
  EXPECT_TRUE(FileExists(a));
  EXPECT_EQ(KindOf([&] { FileSystem::Default().Open(a, Access::kRead, Share::kNone); }),
            IoErrorKind::kLocked);
  EXPECT_EQ(FileNames(dir.path()).size(), 2u);
  std::string c;
  EXPECT_EQ(KindOf([&] { FileSystem::Default().CreateExclusiveTemp(dir.File("no"), "x", &c); }),
            IoErrorKind::kNotFound);
}

TEST(File, SameFileIsIdentityNotSpelling) {
  TempDir dir;
  FileSystem& fs = FileSystem::Default();
  WriteFile(dir.File("r.dbf"), "r");
  WriteFile(dir.File("other.dbf"), "r");
#ifndef _WIN32  // symbolic links need a privilege on Windows
  std::filesystem::create_symlink(dir.File("r.dbf"), dir.File("link.xls"));
  EXPECT_TRUE(fs.SameFile(dir.File("r.dbf"), dir.File("link.xls")));
#endif
  std::filesystem::create_hard_link(dir.File("r.dbf"), dir.File("hard.xls"));
  EXPECT_TRUE(fs.SameFile(dir.File("r.dbf"), dir.path() + "/./r.dbf"));
  EXPECT_TRUE(fs.SameFile(dir.File("hard.xls"), dir.File("r.dbf")));
  EXPECT_FALSE(fs.SameFile(dir.File("r.dbf"), dir.File("other.dbf")));
  EXPECT_FALSE(fs.SameFile(dir.File("none"), dir.File("none")));
}

TEST(FaultFile, EveryFileOperationCanBeMadeToFail) {
  TempDir dir;
  WriteFile(dir.File("a"), "a");
  FaultFileSystem fs;
  std::string temp;
  // Each operation, run twice: the first call fails (throws, or answers false), the second works.
  const std::vector<std::pair<FileOp, std::function<bool()>>> ops = {
      {FileOp::kOpen,
       [&] { return fs.Open(dir.File("a"), Access::kRead, Share::kReadWrite) != nullptr; }},
      {FileOp::kCreate, [&] { return fs.Create(dir.File("c")) != nullptr; }},
      {FileOp::kCreateExclusiveTemp,
       [&] { return fs.CreateExclusiveTemp(dir.path(), "t", &temp) != nullptr; }},
      {FileOp::kRename,
       [&] {
         fs.Rename(dir.File("c"), dir.File("d"));
         return true;
       }},
      {FileOp::kRemove,
       [&] {
         fs.Remove(dir.File("d"));
         return true;
       }},
      {FileOp::kExists, [&] { return fs.Exists(dir.File("a")); }},
      {FileOp::kDirectoryExists, [&] { return fs.DirectoryExists(dir.path()); }},
      {FileOp::kSetReadOnly,
       [&] {
         fs.SetReadOnly(dir.File("a"), true);
         return true;
       }},
      {FileOp::kIsReadOnly, [&] { return fs.IsReadOnly(dir.File("a")); }},
      {FileOp::kMakeDirectories, [&] { return fs.MakeDirectories(dir.File("e/f")); }},
      {FileOp::kSameFile, [&] { return fs.SameFile(dir.File("a"), dir.File("a")); }},
  };
  for (const auto& [op, run] : ops) {
    SCOPED_TRACE(static_cast<int>(op));
    fs.FailOperation(op, 1, 1, IoErrorKind::kLocked);
    bool failed = false;
    try {
      failed = !run();
    } catch (const IoError& e) {
      failed = e.kind() == IoErrorKind::kLocked;
    }
    EXPECT_TRUE(failed);
    EXPECT_TRUE(run());
  }
  EXPECT_EQ(FileNames(dir.path()),
            (std::vector<std::string>{"a", "e", temp.substr(dir.path().size() + 1)}));
}

TEST(FaultFile, ShortReadAndHalfWrittenWrite) {
  TempDir dir;
  std::string path = dir.File("f.bin");
  WriteFile(path, "abcdefgh");
  FaultFileSystem fs;
  auto f = fs.Open(path, Access::kReadWrite, Share::kNone);
  fs.ShortReadAt(1);
  char buf[8];
  EXPECT_EQ(f->ReadAt(0, buf, 8), 4u);
  EXPECT_EQ(f->ReadAt(0, buf, 8), 8u);
  fs.FailWriteAt(2);
  f->WriteAt(0, "XY", 2);
  EXPECT_THROW(f->WriteAt(4, "1234", 4), IoError);
  fs.FailFlushAt(1);
  EXPECT_THROW(f->Flush(), IoError);
  f.reset();
  EXPECT_EQ(ReadFile(path), "XYcd12gh");
}

TEST(FaultFile, RenameFailureLeavesBothFiles) {
  TempDir dir;
  WriteFile(dir.File("new"), "n");
  WriteFile(dir.File("old"), "o");
  FaultFileSystem fs;
  fs.FailRenames(true);
  EXPECT_THROW(fs.Rename(dir.File("new"), dir.File("old")), IoError);
  EXPECT_EQ(ReadFile(dir.File("old")), "o");
  fs.Reset();
  fs.Rename(dir.File("new"), dir.File("old"));
  EXPECT_EQ(ReadFile(dir.File("old")), "n");
  EXPECT_FALSE(PathExists(dir.File("new")));
}

TEST(Paths, DisplayPathShowsTheSystemsSeparators) {
#ifdef _WIN32
  constexpr bool kWindows = true;
#else
  constexpr bool kWindows = false;
#endif
  const struct {
    const char* path;
    const char* on_windows;
  } cases[] = {
      {"C:/拍照/照片/", "C:\\拍照\\照片\\"},  // the trail bytes of UTF-8 are never '/'
      {"//server/share/roster.dbf", "\\\\server\\share\\roster.dbf"},
      {"C:\\已是\\系统的", "C:\\已是\\系统的"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DisplayPath(c.path), kWindows ? c.on_windows : c.path);
}

}  // namespace
}  // namespace mirestal
