// mirestal-cli import-photos on a folder of every kind of file: what is stored, what is listed
// with its reason, a dry run that changes nothing, and the source folder left byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "capture/face/still_frame.h"
#include "capture/jpeg.h"
#include "capture/photo_check.h"
#include "capture/testcard.h"
#include "platform/gbk.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

namespace stdfs = std::filesystem;

std::string Gbk(const char* utf8) { return *Utf8ToGbk(utf8); }

// Every entry under `dir` with its bytes (a link: its target's text).
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  if (!stdfs::exists(dir)) return out;
  for (const auto& e : stdfs::recursive_directory_iterator(dir)) {
    const std::string name = e.path().string();
    if (e.is_symlink()) out[name] = "link " + stdfs::read_symlink(e.path()).string();
    else if (e.is_regular_file()) out[name] = testing::ReadFile(name);
    else out[name] = "folder";
  }
  return out;
}

TEST(CliImportPhotosTest, StoresTheMatchedPicturesAndListsTheRestWithTheirReason) {
  testing::TempDir dir;
  const std::string source = dir.File("camera"), photos = dir.File("照片/");
  stdfs::create_directories(source);
  stdfs::create_directories(photos);
  testing::WriteFile(dir.File("roster.dbf"), testing::DbfBuilder()
                                                 .Field(Gbk("考籍号"), 'C', 17)
                                                 .Field(Gbk("姓名"), 'C', 10)
                                                 .Record({"20110001", Gbk("甲")})
                                                 .Record({"20110002", Gbk("乙")})
                                                 .Record({"20110003", Gbk("丙")})
                                                 .Record({"20110004", Gbk("丁")})
                                                 .Record({"20110005", Gbk("丙")})
                                                 .Record({"20110006", Gbk("己")})
                                                 .Record({"20110007", Gbk("庚")})
                                                 .Build());
  const Bitmap portrait = RenderTestCard(640, 480, 0, TestCardPicture::kPortrait);
  const std::string face = EncodeJpeg(portrait);
  // A picture larger than any camera's: only its header is cheap, and it is all that is read.
  std::string huge = EncodeJpeg(Bitmap(16, 16));
  const size_t sof = huge.find("\xFF\xC0");
  huge[sof + 5] = huge[sof + 7] = '\x75';  // 30,000 x 30,000
  huge[sof + 6] = huge[sof + 8] = '\x30';
  const std::map<std::string, std::string> files = {
      {"20110001.jpg", face},
      {"乙.jpg", EncodeJpeg(CopyRect(portrait, 80, 0, 480, 480))},
      {"丙.jpg", face},                              // two students are called 丙
      {"20110004.jpg", face},
      {"20110004 - 副本.jpg", face},                 // both claim 20110004
      {"20110006 (1).jpg", face.substr(0, face.size() / 3)},  // cut short
      {"20110007.jpg", EncodeJpeg(Bitmap(320, 240))},         // no face
      {"20110003.jpg", huge},
      {"notes.txt", "class photos\n"},
  };
  for (const auto& [name, bytes] : files) testing::WriteFile(source + "/" + name, bytes);
  testing::WriteFile(dir.File("outside.jpg"), face);
  stdfs::create_symlink(dir.File("outside.jpg"), source + "/20110002.jpg");
  stdfs::create_directories(source + "/sub");
  testing::WriteFile(source + "/sub/20110005.jpg", face);  // sub-folders are not entered

  const char* bin = std::getenv("MIRESTAL_BINARY_DIR");
  const std::string cli = std::string(bin ? bin : ".") + "/tools/mirestal-cli/mirestal-cli import-photos " +
                          dir.File("roster.dbf") + " " + source + " --program-dir " + dir.path();
  const auto before = Snapshot(dir.path());
  std::string out;
  EXPECT_EQ(testing::RunCommand(cli + " --dry-run 2>&1", &out), 1) << out;
  EXPECT_EQ(Snapshot(dir.path()), before);
  EXPECT_NE(out.find("20110001.jpg\twould-store\t20110001\t"), std::string::npos) << out;

  ASSERT_EQ(testing::RunCommand(cli + " 2>&1", &out), 1) << out;
  std::istringstream lines(out);
  std::map<std::string, std::string> outcome;
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) outcome[line.substr(0, tab)] = line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
  }
  const std::map<std::string, std::string> expected = {
      {"20110001.jpg", "stored"},          {"乙.jpg", "stored"},
      {"丙.jpg", "unmatched"},             {"20110004.jpg", "duplicate"},
      {"20110004 - 副本.jpg", "duplicate"}, {"20110006 (1).jpg", "not-a-picture"},
      {"20110007.jpg", "no-face"},          {"20110003.jpg", "not-a-picture"},
      {"notes.txt", "not-a-picture"},       {"20110002.jpg", "outside-link"},
  };
  EXPECT_EQ(outcome, expected) << out;
  EXPECT_NE(out.find("stored 2, has-photo 0, unmatched 1"), std::string::npos) << out;
  for (const char* key : {"20110001", "20110002"}) {
    const PhotoFileCheck check = CheckPhotoFile(photos + key + ".jpg", PhotoRules{});
    EXPECT_TRUE(check.valid()) << key;
    EXPECT_EQ(check.height, 400);
  }
  EXPECT_EQ(testing::FileNames(photos), (std::vector<std::string>{"20110001.jpg", "20110002.jpg"}));
  // Only the photo folder changed: the pictures, the link's target and the roster are as before.
  auto after = Snapshot(dir.path());
  for (const char* key : {"20110001", "20110002"}) after.erase(photos + key + ".jpg");
  EXPECT_EQ(after, before);

  // Again: the two have valid photos now, which stay.
  EXPECT_EQ(testing::RunCommand(cli + " 2>&1", &out), 1);
  EXPECT_NE(out.find("20110001.jpg\thas-photo\t20110001\t"), std::string::npos) << out;
}

}  // namespace
}  // namespace mirestal
