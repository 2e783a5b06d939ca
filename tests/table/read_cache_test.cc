#include "table/read_cache.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fault_file.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

TEST(ReadCacheTest, JumpsReadASmallFileOnceAndWritesAreSeenAtOnce) {
  testing::TempDir dir;
  std::string bytes(300000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>('a' + i % 26);
  testing::WriteFile(dir.File("t.dbf"), bytes);
  FaultFileSystem fs;
  ReadCacheFile file(fs.Open(dir.File("t.dbf"), Access::kReadWrite, Share::kNone));
  const auto read = [&](uint64_t at, size_t n) {
    std::string out(n, '?');
    EXPECT_EQ(file.ReadAt(at, out.data(), n), n);
    return out;
  };
  read(0, 32);          // the header: a walk starts
  read(250000, 50);     // a jump: the whole file comes in
  const int reads = fs.reads();
  for (uint64_t at : {7u, 299950u, 123456u, 65536u, 200000u}) {
    EXPECT_EQ(read(at, 50), bytes.substr(at, 50)) << at;
  }
  EXPECT_EQ(fs.reads(), reads);
  // Written bytes are read back, never the cached old ones; nor are cut-off ones.
  file.WriteAt(123460, "XYZ", 3);
  EXPECT_EQ(read(123456, 10), bytes.substr(123456, 4) + "XYZ" + bytes.substr(123463, 3));
  file.Truncate(1000);
  std::string out(50, '?');
  EXPECT_EQ(file.ReadAt(200000, out.data(), 50), 0u);
  EXPECT_EQ(read(990, 10), bytes.substr(990, 10));
  // A read past the end comes back short and is not kept.
  EXPECT_EQ(file.ReadAt(995, out.data(), 50), 5u);
}

}  // namespace
}  // namespace mirestal
