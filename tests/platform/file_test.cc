#include <errno.h>

#include <gtest/gtest.h>

#include "platform/fault_file.h"
#include "platform/file.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

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
    EXPECT_EQ(e.code(), ENOENT);
  }
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_TRUE(DirectoryExists(dir.path()));
  EXPECT_THROW(FileSystem::Default().Open(dir.path(), Access::kRead, Share::kNone), IoError);
  EXPECT_TRUE(ForceDirectories(dir.File("a/b/c")));
  EXPECT_TRUE(DirectoryExists(dir.File("a/b/c")));
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

}  // namespace
}  // namespace mirestal
