#include <gtest/gtest.h>

#include <cstdlib>

#include "capture/bitmap.h"
#include "capture/jpeg.h"
#include "capture/testcard.h"
#include "platform/file.h"
#include "platform/gbk.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

std::string Cli() {
  const char* dir = std::getenv("MIRESTAL_BINARY_DIR");
  return std::string(dir ? dir : ".") + "/tools/mirestal-cli/mirestal-cli";
}

std::string Gbk(const char* utf8) { return *Utf8ToGbk(utf8); }

TEST(CliPhotosTest, ReportsEveryVisibleStudent) {
  testing::TempDir dir;
  const std::string photos = dir.path() + "/照片/";
  ASSERT_TRUE(ForceDirectories(photos));
  const std::string jpeg = EncodeJpeg(CopyRect(RenderTestCard(640, 480, 0), 168, 38, 300, 400));
  testing::WriteFile(photos + "20110001.jpg", jpeg);
  testing::WriteFile(photos + "20110003.jpg", "not a jpeg");
  testing::WriteFile(photos + "20110004.jpg", "");
  testing::WriteFile(photos + "20110007.jpg", jpeg.substr(0, jpeg.size() / 2));  // cut short
  testing::WriteFile(photos + "张三.jpg", jpeg);
  testing::WriteFile(photos + ".jpg", jpeg);               // no blank key may claim this one
  ASSERT_TRUE(ForceDirectories(photos + "20110005.jpg"));  // a folder is no photo

  const std::string roster = testing::DbfBuilder()
                                 .Field(Gbk("考籍号"), 'C', 17)
                                 .Field(Gbk("姓名"), 'C', 10)
                                 .Record({" 20110001 ", Gbk("甲")})
                                 .Record({"20110002", Gbk("乙")})
                                 .Record({"20110003", Gbk("丙")})
                                 .Record({"20110004", Gbk("丁")})
                                 .Record({"20110005", Gbk("戊")})
                                 .Record({"20110006", Gbk("己")}, /*deleted=*/true)
                                 .Record({"20110007", Gbk("壬")})
                                 .Record({Gbk("张三"), Gbk("张三")})
                                 .Record({"", Gbk("庚")})
                                 .Record({"../x", Gbk("辛")})
                                 .Build();
  testing::WriteFile(dir.File("roster.dbf"), roster);

  std::string out;
  ASSERT_EQ(testing::RunCommand(
                Cli() + " photos " + dir.File("roster.dbf") + " --program-dir " + dir.path(), &out),
            0)
      << out;
  const std::string size = std::to_string(jpeg.size());
  EXPECT_EQ(out, "20110001\tpresent 300x400 " + size +
                     "\n"
                     "20110002\tmissing\n"
                     "20110003\tunreadable\n"
                     "20110004\tunreadable\n"
                     "20110005\tmissing\n"
                     "20110007\tdamaged 300x400 " +
                     std::to_string(jpeg.size() / 2) + "\n"
                     "张三\tpresent 300x400 " +
                     size +
                     "\n"
                     "\trefused-key\n"
                     "../x\trefused-key\n"
                     "present 2, damaged 1, missing 2, unreadable 2, refused-key 2\n");
}

TEST(CliPhotosTest, RosterWithoutKeyFieldOrMissingFileFails) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("r.dbf"),
                     testing::DbfBuilder().Field("NAME", 'C', 10).Record({"a"}).Build());
  std::string out;
  EXPECT_EQ(testing::RunCommand(Cli() + " photos " + dir.File("r.dbf") + " 2>&1", &out), 1);
  EXPECT_NE(out.find("考籍号"), std::string::npos) << out;
  EXPECT_EQ(testing::RunCommand(Cli() + " photos " + dir.File("none.dbf") + " 2>/dev/null"), 1);
  EXPECT_EQ(testing::RunCommand(Cli() + " photos 2>/dev/null"), 2);
  EXPECT_EQ(testing::RunCommand(Cli() + " photos a --program-dir 2>/dev/null"), 2);
}

}  // namespace
}  // namespace mirestal
