// The Windows side of the platform layer where it differs from Linux: share modes and the
// mandatory byte-range locks, the read-only attribute, device names, long and Chinese paths,
// the program and temporary folders.
#include <windows.h>

#include <gtest/gtest.h>

#include "capture/photo_store.h"
#include "capture/testcard.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "table/dbf_table.h"
#include "table/errors.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::wstring Wide(const std::string& utf8) {
  std::wstring w(utf8.size(), L'\0');
  w.resize(::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(),
                                 static_cast<int>(w.size())));
  return w;
}

// Another program's handle on the file (-1: the open was refused).
HANDLE ForeignOpen(const std::string& path, DWORD access) {
  return ::CreateFileW(Wide(path).c_str(), access,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, 0, nullptr);
}

TEST(Win32File, ExclusiveHolderLetsReadersReadButNoOtherWriterOrOpenerIn) {
  TempDir dir;
  const std::string path = dir.File("t.dbf");
  WriteFile(path, "roster");
  auto held = FileSystem::Default().Open(path, Access::kReadWrite, Share::kNone);
  HANDLE writer = ForeignOpen(path, GENERIC_WRITE);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_EQ(ReadFile(path), "roster");
  // An opener in the program's modes is refused even when it only reads: the whole-file lock.
  EXPECT_THROW(FileSystem::Default().Open(path, Access::kRead, Share::kReadWrite), IoError);
}

TEST(Win32File, ReadOnlyExclusiveOpenersExcludeEachOther) {
  TempDir dir;
  const std::string path = dir.File("t.dbf");
  WriteFile(path, "x");
  auto first = FileSystem::Default().Open(path, Access::kRead, Share::kNone);
  try {
    FileSystem::Default().Open(path, Access::kRead, Share::kNone);
    ADD_FAILURE() << "second exclusive opener admitted";
  } catch (const IoError& e) {
    EXPECT_EQ(e.kind(), IoErrorKind::kLocked);
  }
  EXPECT_THROW(FileSystem::Default().Open(path, Access::kRead, Share::kReadWrite), IoError);
}

TEST(Win32File, SecondTableOpenerGetsAccessDenied) {
  TempDir dir;
  const std::string path = dir.File("t.dbf");
  WriteFile(path, testing::DbfBuilder().Field("K", 'C', 3).Record({"a"}).Build());
  DbfTable first(FileSystem::Default());
  first.OpenTable(path, true, false);
  DbfTable second(FileSystem::Default());
  try {
    second.OpenTable(path, false, false);
    ADD_FAILURE() << "second opener admitted";
  } catch (const ETableError& e) {
    EXPECT_EQ(std::string(e.what()), "Access denied to file " + first.FileName());
  }
}

TEST(Win32File, RangeLocksBelongToTheHandleAndKeepOthersOut) {
  TempDir dir;
  const std::string path = dir.File("t.dbf");
  WriteFile(path, std::string(64, 'x'));
  auto a = FileSystem::Default().Open(path, Access::kReadWrite, Share::kReadWrite);
  auto b = FileSystem::Default().Open(path, Access::kReadWrite, Share::kReadWrite);
  ASSERT_TRUE(a->LockRange(10, 4));
  EXPECT_FALSE(b->LockRange(12, 1));
  EXPECT_TRUE(b->LockRange(14, 1));
  a->UnlockRange(10, 4);
  EXPECT_TRUE(b->LockRange(12, 1));
}

TEST(Win32File, ReadOnlyIsTheAttributeAndBlocksDeleteButNotForceDelete) {
  TempDir dir;
  const std::string path = dir.File("r.jpg");
  WriteFile(path, "x");
  SetReadOnly(path, true);
  EXPECT_NE(::GetFileAttributesW(Wide(path).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  EXPECT_THROW(FileSystem::Default().Create(path), IoError);
  EXPECT_THROW(FileSystem::Default().Remove(path), IoError);
  ForceDeleteFile(path);
  EXPECT_FALSE(PathExists(path));
}

TEST(Win32File, RenameReplacesAnExistingFile) {
  TempDir dir;
  WriteFile(dir.File("new"), "new");
  WriteFile(dir.File("old"), "old");
  FileSystem::Default().Rename(dir.File("new"), dir.File("old"));
  EXPECT_EQ(ReadFile(dir.File("old")), "new");
  EXPECT_FALSE(PathExists(dir.File("new")));
}

TEST(Win32File, DeviceNamesAreNeverOpened) {
  TempDir dir;
  for (const std::string& name :
       std::vector<std::string>{"NUL", "CON", "COM1", dir.File("NUL"), dir.File("con.jpg")}) {
    EXPECT_THROW(FileSystem::Default().Open(name, Access::kRead, Share::kReadWrite), IoError)
        << name;
    EXPECT_THROW(FileSystem::Default().Create(name), IoError) << name;
  }
  PhotoStore store(dir.path() + "/");
  for (const char* key : {"CON", "nul", "Com1", "LPT9.x", "AUX ", "12.", "12 ."}) {
    EXPECT_FALSE(store.PhotoFileName(key).has_value()) << key;
  }
}

TEST(Win32File, LongAndChinesePathsWork) {
  TempDir dir;
  std::string folder = dir.path() + "/学校";
  while (folder.size() < 300) folder += "/考生照片文件夹名字很长";
  ASSERT_TRUE(ForceDirectories(folder));
  const std::string path = folder + "/考生.dbf";
  {
    auto f = FileSystem::Default().Create(path);
    f->WriteAt(0, "abc", 3);
  }
  EXPECT_TRUE(FileExists(path));
  FileSystem::Default().Rename(path, folder + "/名单.dbf");
  auto f = FileSystem::Default().Open(folder + "/名单.dbf", Access::kRead, Share::kNone);
  char buffer[3];
  EXPECT_EQ(f->ReadAt(0, buffer, 3), 3u);
  // The name on disk is the UTF-16 of the text.
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileW(Wide(dir.path() + "/学*").c_str(), &found);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  ::FindClose(h);
  EXPECT_EQ(std::wstring(found.cFileName), L"学校");
}

TEST(Win32File, PhotoInAChineseProgramFolder) {
  TempDir dir;
  PhotoStore store(dir.path() + "/程序/");
  const std::string path = *store.PhotoFileName("\xBF\xBC" "2011");  // 考2011
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  store.WritePhoto(path, RenderTestCard(150, 200, 0));
  EXPECT_TRUE(PhotoStore::PhotoExists(path)) << path;
  EXPECT_EQ(store.ReadPhoto(path).width, 150) << path;
  EXPECT_TRUE(FileExists(dir.path() + "/程序/照片/考2011.jpg"));
}

TEST(Win32Paths, ProgramFolderComesFromTheModuleAndTempFromTheSystem) {
  const std::string exe_dir = ExecutableDirectory();
  ASSERT_FALSE(exe_dir.empty());
  EXPECT_EQ(exe_dir.back(), '/');
  EXPECT_EQ(exe_dir.find('\\'), std::string::npos);
  EXPECT_TRUE(FileExists(exe_dir + "platform_win32_tests.exe"));

  TempDir dir;
  const std::string tmp = dir.path() + "/临时";
  ASSERT_TRUE(ForceDirectories(tmp));
  wchar_t saved[MAX_PATH + 1];
  DWORD n = ::GetEnvironmentVariableW(L"TMP", saved, MAX_PATH + 1);
  ::SetEnvironmentVariableW(L"TMP", Wide(tmp).c_str());
  EXPECT_EQ(UserTempDirectory(), tmp + "/");
  const std::string own = ProcessTempDirectory();
  EXPECT_TRUE(DirectoryExists(own));
  ::RemoveDirectoryW(Wide(own).c_str());
  ::SetEnvironmentVariableW(L"TMP", n ? saved : nullptr);
}

}  // namespace
}  // namespace mirestal
