// mirestal-cli check and package on a photo folder with good and bad photos; the package is read
// back by Python's zipfile.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "capture/jpeg.h"
#include "capture/testcard.h"
#include "platform/file.h"
#include "platform/gbk.h"
#include "platform/target_rule.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

std::string Cli() {
  const char* dir = std::getenv("MIRESTAL_BINARY_DIR");
  return std::string(dir ? dir : ".") + "/tools/mirestal-cli/mirestal-cli";
}

std::string Gbk(const char* utf8) { return *Utf8ToGbk(utf8); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CliCheckTest : public ::testing::Test {
 protected:
  CliCheckTest() {
    std::filesystem::create_directories(photos_);
    const Bitmap face = CopyRect(RenderTestCard(640, 480, 0), 168, 38, 300, 400);
    good_ = EncodeJpeg(face);
    other_ = EncodeJpeg(CopyRect(face, 0, 0, 150, 200));
    testing::WriteFile(photos_ + "20110001.jpg", good_);
    testing::WriteFile(photos_ + "考01.jpg", other_);
    testing::WriteFile(photos_ + "20110003.jpg", good_.substr(0, 5000));
    testing::WriteFile(dir_.File("outside.jpg"), good_);
    std::filesystem::create_symlink(dir_.File("outside.jpg"), photos_ + "20110005.jpg");
    testing::WriteFile(photos_ + "stray.jpg", good_);
    testing::WriteFile(dir_.File("roster.dbf"), testing::DbfBuilder()
                                                    .Field(Gbk("考籍号"), 'C', 17)
                                                    .Field(Gbk("姓名"), 'C', 10)
                                                    .Field(Gbk("班级"), 'C', 10)
                                                    .Record({"20110001", Gbk("甲"), "A"})
                                                    .Record({Gbk("考01"), Gbk("乙"), "B"})
                                                    .Record({"20110003", Gbk("丙"), "A"})
                                                    .Record({"20110004", Gbk("丁"), "A"})
                                                    .Record({"20110005", Gbk("戊"), "A"})
                                                    .Build());
  }

  int Run(const std::string& args, std::string* out) {
    return testing::RunCommand(Cli() + " " + args + " --program-dir " + dir_.path() + " 2>&1", out);
  }

  testing::TempDir dir_;
  std::string photos_ = dir_.path() + "/照片/";
  std::string good_, other_;
};

TEST_F(CliCheckTest, ReportGivesCountsThenEveryProblemAndTheSameWorkbook) {
  std::string out;
  EXPECT_EQ(Run("check " + dir_.File("roster.dbf") + " --xls " + dir_.File("r.xls"), &out), 1);
  const std::vector<std::string> problems = {
      "不合格\t20110003\t丙\t照片数据损坏或不完整，无法完整解码 (Premature end of JPEG file)",
      "缺少照片\t20110004\t丁\t没有 20110004.jpg",
      "不合格\t20110005\t戊\t是指向 " + dir_.File("outside.jpg") +
          " 的链接，不是照片文件（不跟随）",
      "无对应学生\tstray.jpg\t\t名册中没有与此文件对应的考籍号"};
  std::vector<std::string> expected = {
      "照片检查：" + dir_.File("roster.dbf"),
      "照片文件夹：" + photos_,
      "学生 5 人：合格 2，不合格 2，缺少 1",
      "文件夹中另有：无对应学生 1，临时文件 0，名称只差大小写或空格 0",
      "结果：有问题",
      ""};
  expected.insert(expected.end(), problems.begin(), problems.end());
  // Then the photo standard's advice, which changes neither the counts nor the result: 考01's
  // photo is the top-left quarter of the card, without the whole face.
  const std::string advice = "照片标准提示\t考01\t乙\t未检测到人脸";
  expected.insert(expected.end(), {"", advice});
  EXPECT_EQ(Lines(out), expected) << out;

  // The workbook, read by xlrd: caption row, the roster, the counts, then the problem lines.
  std::string book;
  ASSERT_EQ(testing::RunCommand(
                "/usr/bin/python3 -c \"import sys, xlrd; s = xlrd.open_workbook(sys.argv[1])"
                ".sheet_by_index(0); [print('\\t'.join(c.value for c in s.row(r))) "
                "for r in range(s.nrows)]\" " +
                    dir_.File("r.xls"),
                &book),
            0);
  const std::vector<std::string> rows = Lines(book);
  ASSERT_EQ(rows.size(), 6 + problems.size() + 1) << book;
  EXPECT_EQ(rows[0], "类别\t考籍号或文件名\t姓名\t说明");
  EXPECT_EQ(rows[3], "汇总\t\t\t学生 5 人：合格 2，不合格 2，缺少 1");
  EXPECT_EQ(std::vector(rows.begin() + 6, rows.end() - 1), problems);
  EXPECT_EQ(rows.back(), advice);

  // Nothing wrong: exit status 0.
  for (const char* name : {"20110003.jpg", "20110005.jpg", "stray.jpg"}) {
    std::filesystem::remove(photos_ + name);
  }
  for (const char* name : {"20110003.jpg", "20110004.jpg", "20110005.jpg"}) {
    testing::WriteFile(photos_ + name, good_);
  }
  EXPECT_EQ(Run("check " + dir_.File("roster.dbf"), &out), 0) << out;
  EXPECT_EQ(Run("check " + dir_.File("roster.dbf") + " --max-kb 1", &out), 1) << out;
  EXPECT_EQ(Run("check " + dir_.File("roster.dbf") + " --max-kb 0", &out), 2) << out;
}

TEST_F(CliCheckTest, PackageHoldsExactlyTheValidPhotosAtTheTopLevel) {
  struct {
    std::string extra_args;
    std::vector<std::string> members;  // index, name, UTF-8 flag, method (0: stored)
    std::vector<const std::string*> bytes;
  } cases[] = {
      {"", {"0\t20110001.jpg\t0\t0", "1\t考01.jpg\t1\t0"}, {&good_, &other_}},
      {" --class 班级=B", {"0\t考01.jpg\t1\t0"}, {&other_}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra_args);
    testing::TempDir out_dir;
    const std::string zip = out_dir.File("上报.zip");
    std::string out;
    ASSERT_EQ(Run("package " + dir_.File("roster.dbf") + " " + zip + c.extra_args, &out), 0) << out;
    EXPECT_EQ(out.find("20110005\t戊\t是指向") == std::string::npos, !c.extra_args.empty()) << out;
    ASSERT_TRUE(std::filesystem::create_directory(out_dir.File("x")));
    std::string members;
    ASSERT_EQ(testing::RunCommand("/usr/bin/python3 " + testing::SourceDir() +
                                      "/tests/capture/zip_dump.py " + zip + " " + out_dir.File("x"),
                                  &members),
              0);
    EXPECT_EQ(Lines(members), c.members);
    for (size_t i = 0; i < c.bytes.size(); ++i) {
      EXPECT_EQ(testing::ReadFile(out_dir.File("x/" + std::to_string(i))), *c.bytes[i]);
    }
  }
}

TEST_F(CliCheckTest, RefusedPackageLeavesNothingBehind) {
  testing::TempDir out_dir;
  ASSERT_TRUE(std::filesystem::create_directory(out_dir.File("ro")));
  testing::WriteFile(out_dir.File("ro/old.zip"), "old");
  SetReadOnly(out_dir.File("ro"), true);
  ASSERT_TRUE(std::filesystem::create_directory(out_dir.File("dir.zip")));
  struct {
    std::string target, extra_args, message;
  } cases[] = {
      {photos_ + "p.zip", "", kMsgTargetInPhotoFolder},
      {photos_ + "../照片/./p.zip", "", kMsgTargetInPhotoFolder},
      {out_dir.File("ro/old.zip"), "", "is read-only"},
      {out_dir.File("none/p.zip"), "", "does not exist"},
      {out_dir.File("dir.zip"), "", kMsgTargetNotAFile},
      {out_dir.File("p.zip"), " --class 班级=C", "no valid photo to package"},
      {out_dir.File("p.zip"), " --class 年级=C", "the roster has no field 年级"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(Run("package " + dir_.File("roster.dbf") + " " + c.target + c.extra_args, &out), 1)
        << c.target;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
  }
  SetReadOnly(out_dir.File("ro"), false);
  EXPECT_EQ(testing::ReadFile(out_dir.File("ro/old.zip")), "old");
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::recursive_directory_iterator(out_dir.path())) {
    left.push_back(e.path().lexically_relative(out_dir.path()).string());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"dir.zip", "ro", "ro/old.zip"}));
  EXPECT_FALSE(PathExists(photos_ + "p.zip"));
}

}  // namespace
}  // namespace mirestal
