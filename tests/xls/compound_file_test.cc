// The compound file writer, checked with python3-olefile (strict mode) and by reading the bytes
// back.
#include "xls/compound_file.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/fault_file.h"
#include "tests/testutil/testutil.h"
#include "tests/xls/readers.h"
#include "xls/cfb_format.h"

namespace mirestal::xls {
namespace {

using mirestal::testing::ReadFile;
using mirestal::testing::TempDir;
using testing::Hex;
using testing::ReadWithReaders;

std::string Pattern(size_t n, uint32_t seed) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) {
    seed = seed * 1103515245u + 12345u;
    s[i] = static_cast<char>(seed >> 16);
  }
  return s;
}

uint32_t Get32(const std::string& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// Writes `content` as the Workbook stream and checks what olefile reads back.
void ExpectRoundTrip(const std::string& content) {
  TempDir dir;
  std::string path = dir.File("book.xls");
  {
    auto storage = OpenWorkbookStorage(FileSystem::Default(), path);
    ASSERT_EQ(storage->Write(content.data(), content.size()), content.size());
    storage->Finish();
  }
  std::string file = ReadFile(path);
  ASSERT_GE(file.size(), 1024u);
  EXPECT_EQ(file.size() % 512, 0u);
  EXPECT_EQ(std::memcmp(file.data(), cfb::kSignature, 8), 0);

  auto streams = ReadWithReaders(path, "--ole");
  ASSERT_EQ(streams.status, 0) << streams.errors;
  ASSERT_EQ(streams.With("stream").size(), 1u);
  EXPECT_EQ(streams.With("stream")[0].substr(0, streams.With("stream")[0].rfind('\t')),
            "Workbook\t" + std::to_string(content.size()));
  auto hex = ReadWithReaders(path, "--hex");
  ASSERT_EQ(hex.status, 0) << hex.errors;
  ASSERT_FALSE(hex.lines.empty());
  EXPECT_TRUE(hex.lines[0] == Hex(content)) << "stream bytes differ";
}

TEST(CompoundFileTest, SmallStreamLivesInTheMiniStream) {
  std::string content = Pattern(1186, 1);
  ExpectRoundTrip(content);
  // Header: one mini FAT sector right after the three data sectors.
  TempDir dir;
  std::string path = dir.File("small.xls");
  {
    auto storage = OpenWorkbookStorage(FileSystem::Default(), path);
    storage->Write(content.data(), content.size());
  }
  std::string file = ReadFile(path);
  EXPECT_EQ(Get32(file, cfb::kHeaderFirstMiniFat), 3u);
  EXPECT_EQ(Get32(file, cfb::kHeaderMiniFatSectors), 1u);
}

TEST(CompoundFileTest, StreamsAroundTheMiniStreamCutoff) {
  ExpectRoundTrip(Pattern(1, 2));
  ExpectRoundTrip(Pattern(4095, 3));
  ExpectRoundTrip(Pattern(4096, 4));
  ExpectRoundTrip(Pattern(512 * 9, 5));
}

TEST(CompoundFileTest, EmptyStream) { ExpectRoundTrip(""); }

TEST(CompoundFileTest, LargeStreamNeedsDifatSectors) {
  // More than 109 FAT sectors (109 * 128 sectors of 512 bytes = 6.8 MiB).
  std::string content = Pattern(8 * 1024 * 1024 + 77, 6);
  ExpectRoundTrip(content);
}

TEST(CompoundFileTest, SeekBackOverwritesInPlaceAndReadsBack) {
  TempDir dir;
  std::string path = dir.File("patched.xls");
  std::string content = Pattern(200000, 7);
  {
    auto storage = OpenWorkbookStorage(FileSystem::Default(), path);
    storage->Write(content.data(), content.size());
    EXPECT_EQ(storage->Seek(100, SeekOrigin::kBegin), 100u);
    storage->Write("PATCH", 5);
    content.replace(100, 5, "PATCH");
    EXPECT_EQ(storage->Seek(-10, SeekOrigin::kEnd), content.size() - 10);
    char back[10];
    ASSERT_EQ(storage->Read(back, sizeof back), 10u);
    EXPECT_EQ(std::string(back, 10), content.substr(content.size() - 10));
    EXPECT_EQ(storage->Read(back, sizeof back), 0u);
    storage->Seek(96, SeekOrigin::kBegin);
    ASSERT_EQ(storage->Read(back, 9), 9u);
    EXPECT_EQ(std::string(back, 9), content.substr(96, 9));
    EXPECT_EQ(storage->Size(), content.size());
    storage->Finish();
  }
  auto hex = ReadWithReaders(path, "--hex");
  ASSERT_EQ(hex.status, 0) << hex.errors;
  EXPECT_TRUE(hex.lines.at(0) == Hex(content));
}

TEST(CompoundFileTest, ReplacesAnExistingFile) {
  TempDir dir;
  std::string path = dir.File("old.xls");
  mirestal::testing::WriteFile(path, std::string(100000, 'x'));
  auto storage = OpenWorkbookStorage(FileSystem::Default(), path);
  storage->Write("abc", 3);
  storage->Finish();
  // Header, one data sector, mini FAT, directory, FAT: nothing of the old bytes is left.
  EXPECT_EQ(ReadFile(path).size(), 512u * 5);
}

TEST(CompoundFileTest, ReleasedWriterCompletesTheFile) {
  TempDir dir;
  std::string path = dir.File("released.xls");
  {
    auto storage = OpenWorkbookStorage(FileSystem::Default(), path);
    storage->Write("hello", 5);
  }
  auto streams = ReadWithReaders(path, "--ole");
  ASSERT_EQ(streams.status, 0) << streams.errors;
  EXPECT_EQ(streams.With("stream").size(), 1u);
}

TEST(CompoundFileTest, AbandonDeletesTheFile) {
  TempDir dir;
  std::string path = dir.File("gone.xls");
  auto storage = OpenWorkbookStorage(FileSystem::Default(), path);
  storage->Write("hello", 5);
  storage->Abandon();
  EXPECT_FALSE(PathExists(path));
  EXPECT_THROW(storage->Write("x", 1), std::logic_error);
}

TEST(CompoundFileTest, FailingWritePropagatesAndAbandonLeavesNoFile) {
  TempDir dir;
  std::string path = dir.File("fault.xls");
  FaultFileSystem fs;
  auto storage = OpenWorkbookStorage(fs, path);
  fs.FailWriteAt(2);
  std::string block(CompoundFileWriter::kWriteBuffer, 'a');
  storage->Write(block.data(), block.size());  // write 1
  try {
    storage->Write(block.data(), block.size());  // write 2 fails half way
    FAIL() << "the injected failure was not reported";
  } catch (const IoError& e) {
    EXPECT_STREQ(e.what(), "injected write failure");
  }
  storage->Abandon();
  EXPECT_FALSE(PathExists(path));
}

TEST(CompoundFileTest, FailingFlushOnFinishPropagates) {
  TempDir dir;
  std::string path = dir.File("flush.xls");
  FaultFileSystem fs;
  auto storage = OpenWorkbookStorage(fs, path);
  storage->Write("data", 4);
  fs.FailFlushAt(1);
  EXPECT_THROW(storage->Finish(), IoError);
  storage->Abandon();
  EXPECT_FALSE(PathExists(path));
}

TEST(CompoundFileTest, CannotCreateInAMissingFolder) {
  TempDir dir;
  EXPECT_THROW(OpenWorkbookStorage(FileSystem::Default(), dir.File("no/such/book.xls")), IoError);
}

}  // namespace
}  // namespace mirestal::xls
