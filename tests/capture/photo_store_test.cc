#include "capture/photo_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "capture/jpeg.h"
#include "capture/testcard.h"
#include "platform/fault_file.h"
#include "platform/gbk.h"
#include "platform/paths.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

std::string Gbk(const char* utf8) { return *Utf8ToGbk(utf8); }

class PhotoStoreTest : public ::testing::Test {
 protected:
  testing::TempDir dir_;
  PhotoStore store_{dir_.path() + "/"};
};

TEST_F(PhotoStoreTest, PathIsPhotoFolderTrimmedKeyInUtf8AndJpg) {
  EXPECT_EQ(store_.PhotoFolder(), dir_.path() + "/照片/");
  EXPECT_EQ(*store_.PhotoFileName("12345678901234567"),
            dir_.path() + "/照片/12345678901234567.jpg");
  // Blanks and control characters at both ends go; inner blanks stay.
  EXPECT_EQ(*store_.PhotoFileName(" \t12 34\r\n "), dir_.path() + "/照片/12 34.jpg");
  EXPECT_EQ(*store_.PhotoFileName(Gbk("张三")), dir_.path() + "/照片/张三.jpg");
  // A program folder given without the separator gets one.
  EXPECT_EQ(*PhotoStore("/x/y").PhotoFileName("1"), "/x/y/照片/1.jpg");
}

TEST(PhotoKeyTest, EveryRefusedKeyForm) {
  EXPECT_EQ(CheckPhotoKey(""), KeyRefusal::kEmpty);
  EXPECT_EQ(CheckPhotoKey("."), KeyRefusal::kDotName);
  EXPECT_EQ(CheckPhotoKey(".."), KeyRefusal::kDotName);
  for (char c : std::string("\\/:*?\"<>|")) {
    EXPECT_EQ(CheckPhotoKey(std::string("12") + c + "34"), KeyRefusal::kBadCharacter) << c;
    EXPECT_EQ(CheckPhotoKey(std::string(1, c)), KeyRefusal::kBadCharacter) << c;
  }
  for (int c = 1; c < 32; ++c) {
    EXPECT_EQ(CheckPhotoKey("12" + std::string(1, static_cast<char>(c)) + "34"),
              KeyRefusal::kBadCharacter)
        << c;
  }
  EXPECT_EQ(CheckPhotoKey(std::string("12\0"
                                      "34",
                                      5)),
            KeyRefusal::kBadCharacter);
  EXPECT_EQ(CheckPhotoKey("..\\..\\boot"), KeyRefusal::kBadCharacter);
  EXPECT_EQ(CheckPhotoKey("../etc/passwd"), KeyRefusal::kBadCharacter);
  // Bytes that are not GBK: 0xFF, a lone lead byte at the end.
  EXPECT_EQ(CheckPhotoKey("12\xFF"), KeyRefusal::kNotGbk);
  EXPECT_EQ(CheckPhotoKey("12\x81"), KeyRefusal::kNotGbk);
  // Names Windows cannot hold are refused on every platform (photo folders travel): device
  // names in any case and with an extension, and names ending in a dot or a blank.
  for (const char* name : {"CON", "con", "Prn", "AUX", "NUL", "COM1", "com9", "LPT1", "nul.txt",
                           "lpt3.tar.gz", "CON .jpg", "2011.", "...", "12 ."}) {
    EXPECT_EQ(CheckPhotoKey(name), KeyRefusal::kReservedName) << name;
  }
  for (const char* name : {"COM0", "COM10", "CONSOLE", "LPT", "a.b", ".x", "NULL", "1 2"}) {
    EXPECT_EQ(CheckPhotoKey(name), KeyRefusal::kNone) << name;
  }
  // Blanks go with the trimming; the dot left behind them still refuses the key.
  EXPECT_FALSE(PhotoStore("/p/").PhotoFileName(" aux "));
  EXPECT_FALSE(PhotoStore("/p/").PhotoFileName("2011. "));
}

TEST(PhotoKeyTest, DoubleByteCharactersWhoseTrailByteIsASeparatorAreAccepted) {
  // GBK 0x815C and 0x817C: trail bytes that read as '\' and '|' byte by byte.
  const std::string backslash_trail = "\x81\x5C";
  const std::string bar_trail = "\x81\x7C";
  ASSERT_TRUE(Utf8ToGbk(GbkToUtf8(backslash_trail)));
  EXPECT_EQ(CheckPhotoKey("12" + backslash_trail), KeyRefusal::kNone);
  EXPECT_EQ(CheckPhotoKey(bar_trail + "34"), KeyRefusal::kNone);
  PhotoStore store("/p/");
  EXPECT_EQ(*store.PhotoFileName("12" + backslash_trail),
            "/p/照片/12" + GbkToUtf8(backslash_trail) + ".jpg");
}

TEST_F(PhotoStoreTest, RefusedKeysNameNoPhotoEvenWhenSuchAFileExists) {
  ASSERT_TRUE(ForceDirectories(store_.PhotoFolder()));
  testing::WriteFile(store_.PhotoFolder() + ".jpg", "x");  // the old shared blank-key photo
  EXPECT_FALSE(store_.PhotoFileName(""));
  EXPECT_FALSE(store_.PhotoFileName("   "));
  EXPECT_FALSE(store_.PhotoFileName(" .. "));
  EXPECT_FALSE(store_.PhotoFileName("a/b"));
  EXPECT_EQ(KeyForMessage("a\tb"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(KeyForMessage(Gbk("考籍号")), "考籍号");
}

TEST_F(PhotoStoreTest, ExistenceMeansARegularFile) {
  const std::string path = *store_.PhotoFileName("42");
  EXPECT_FALSE(PhotoStore::PhotoExists(path));
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  EXPECT_TRUE(DirectoryExists(store_.PhotoFolder()));
  ASSERT_TRUE(ForceDirectories(path));  // a folder with the photo's name
  EXPECT_FALSE(PhotoStore::PhotoExists(path));
  std::filesystem::remove(FsPath(path));
  testing::WriteFile(path, "");
  EXPECT_TRUE(PhotoStore::PhotoExists(path));
}

TEST_F(PhotoStoreTest, EnsurePhotoFolderCreatesParentsAndReportsFailure) {
  PhotoStore deep(dir_.path() + "/a/b/c/");
  const std::string path = *deep.PhotoFileName("1");
  EXPECT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  EXPECT_TRUE(DirectoryExists(dir_.path() + "/a/b/c/照片"));
  testing::WriteFile(dir_.File("file"), "x");
  PhotoStore blocked(dir_.File("file") + "/");
  EXPECT_FALSE(PhotoStore::EnsurePhotoFolder(*blocked.PhotoFileName("1")));
}

TEST_F(PhotoStoreTest, WrittenPhotoReadsBackAndLeavesNoTemporaryFile) {
  const std::string path = *store_.PhotoFileName("7");
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  const Bitmap picture = CopyRect(RenderTestCard(320, 240, 3), 84, 19, 150, 200);
  store_.WritePhoto(path, picture);
  EXPECT_EQ(testing::ReadFile(path), EncodeJpeg(picture));
  Bitmap back = store_.ReadPhoto(path);
  EXPECT_EQ(back.width, 150);
  EXPECT_EQ(back.height, 200);
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(FsPath(store_.PhotoFolder()))) {
    names.push_back(Utf8Path(e.path().filename()));
  }
  EXPECT_EQ(names, std::vector<std::string>{"7.jpg"});
}

TEST_F(PhotoStoreTest, ReadOnlyPhotoIsReplaced) {
  const std::string path = *store_.PhotoFileName("7");
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  testing::WriteFile(path, "old photo");
  SetReadOnly(path, true);
  ASSERT_TRUE(IsReadOnly(path));
  const Bitmap picture = CopyRect(RenderTestCard(320, 240, 3), 0, 0, 150, 200);
  store_.WritePhoto(path, picture);
  EXPECT_EQ(testing::ReadFile(path), EncodeJpeg(picture));
}

TEST_F(PhotoStoreTest, FailedWriteFlushOrRenameKeepsTheOldPhoto) {
  const Bitmap picture = CopyRect(RenderTestCard(320, 240, 3), 0, 0, 150, 200);
  FaultFileSystem fs;
  PhotoStore store(dir_.path(), fs);
  const std::string path = *store.PhotoFileName("9");
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  for (int fault = 0; fault < 4; ++fault) {
    testing::WriteFile(path, "old photo");
    fs.Reset();
    if (fault == 0) fs.FailWriteAt(1);
    if (fault == 1) fs.FailFlushAt(1);
    if (fault == 2) fs.FailRenames(true);
    if (fault == 3) fs.FailOperation(FileOp::kCreateExclusiveTemp);
    EXPECT_THROW(store.WritePhoto(path, picture), IoError) << fault;
    EXPECT_EQ(testing::ReadFile(path), "old photo") << fault;
    size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(FsPath(store.PhotoFolder()))) {
      (void)e;
      ++files;
    }
    EXPECT_EQ(files, 1u) << "temporary file left behind, fault " << fault;
  }
  // A failed rename over a read-only photo leaves it read-only.
  SetReadOnly(path, true);
  fs.Reset();
  fs.FailRenames(true);
  EXPECT_THROW(store.WritePhoto(path, picture), IoError);
  EXPECT_TRUE(IsReadOnly(path));
}

TEST_F(PhotoStoreTest, ReadPhotoReportsDamageAndAcceptsAnEmptyFile) {
  const std::string path = *store_.PhotoFileName("5");
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  testing::WriteFile(path, "");
  EXPECT_TRUE(store_.ReadPhoto(path).empty());
  testing::WriteFile(path, "GIF89a not a jpeg");
  EXPECT_THROW(store_.ReadPhoto(path), EJpegError);
  EXPECT_THROW(store_.ReadPhoto(path + ".missing"), IoError);
}

// A file named like a photo may be huge: the check reads the markers before the picture data.
TEST_F(PhotoStoreTest, PhotoHeaderIsReadWithoutTheRestOfTheFile) {
  FaultFileSystem fs;
  PhotoStore store(dir_.path(), fs);
  const std::string path = *store.PhotoFileName("6");
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  const std::string jpeg = EncodeJpeg(CopyRect(RenderTestCard(320, 240, 3), 0, 0, 150, 200));
  testing::WriteFile(path, jpeg + std::string(8 << 20, '\xFF'));
  uint64_t size = 0;
  const JpegHeader header = store.ReadPhotoHeader(path, &size);
  EXPECT_EQ(header.width, 150);
  EXPECT_EQ(header.height, 200);
  EXPECT_EQ(size, jpeg.size() + (8 << 20));
  EXPECT_LT(fs.bytes_read(), jpeg.size());
  // Cut before the picture data, or not a JPEG at all: refused by the header reader.
  testing::WriteFile(path, jpeg.substr(0, 300));
  EXPECT_THROW(store.ReadPhotoHeader(path, &size), EJpegError);
  testing::WriteFile(path, "GIF89a");
  EXPECT_THROW(store.ReadPhotoHeader(path, &size), EJpegError);
}

TEST_F(PhotoStoreTest, ForceDeleteFileRemovesAReadOnlyPhoto) {
  const std::string path = *store_.PhotoFileName("8");
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  testing::WriteFile(path, "x");
  SetReadOnly(path, true);
  ForceDeleteFile(path);
  EXPECT_FALSE(PhotoStore::PhotoExists(path));
}

}  // namespace
}  // namespace mirestal
