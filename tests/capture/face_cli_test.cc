// mirestal-cli frame on real pictures, and the photo standard's advice in mirestal-cli check.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "capture/face/face_detector.h"
#include "capture/face/framing.h"
#include "capture/face/photo_advice.h"
#include "capture/face/still_frame.h"
#include "capture/jpeg.h"
#include "capture/photo_report.h"
#include "platform/gbk.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

const std::string kAstronaut = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
const std::string kCoffee = "/usr/lib/python3/dist-packages/skimage/data/coffee.png";

std::string Cli() {
  const char* dir = std::getenv("MIRESTAL_BINARY_DIR");
  return std::string(dir ? dir : ".") + "/tools/mirestal-cli/mirestal-cli";
}

class CliFrameTest : public ::testing::Test {
 protected:
  int Run(const std::string& args, std::string* out) {
    return testing::RunCommand(Cli() + " " + args + " 2>&1", out);
  }
  testing::TempDir dir_;
};

// The lines frame prints for a picture, from the library's own framing of it.
std::string Printed(const std::string& bytes, bool pick_largest) {
  FaceDetector detector;
  const StillFrame f = FrameStillPicture(detector, bytes, pick_largest);
  const auto box = [](int x, int y, int w, int h) {
    return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" +
           std::to_string(h);
  };
  return "人脸 " + box(f.face.x, f.face.y, f.face.w, f.face.h) + "（共 " +
         std::to_string(f.faces.size()) + " 张）\n取景 " +
         box(f.framing.crop.x, f.framing.crop.y, f.framing.crop.w, f.framing.crop.h);
}

TEST_F(CliFrameTest, AstronautBecomesA300x400PhotoWithTheFaceCentred) {
  std::string out;
  ASSERT_EQ(Run("frame " + kAstronaut + " " + dir_.File("a.jpg"), &out), 0) << out;
  EXPECT_NE(out.find(Printed(testing::ReadFile(kAstronaut), false)), std::string::npos) << out;
  const std::string jpeg = testing::ReadFile(dir_.File("a.jpg"));
  const PhotoFileCheck check = CheckPhotoBytes(jpeg, PhotoRules{});
  EXPECT_TRUE(check.valid()) << PhotoDefectsText(check, PhotoRules{});
  EXPECT_EQ(check.width, 300);
  EXPECT_EQ(check.height, 400);
  // The stored photo meets the rule when it is looked at again.
  FaceDetector detector;
  const std::vector<FaceBox> faces = CountedFaces(detector.Detect(DecodeJpeg(jpeg)));
  ASSERT_EQ(faces.size(), 1u);
  EXPECT_NEAR(faces[0].CentreX(), 150, 300 * kFramingRule.centre_tolerance);
  const HeadGeometry head = HeadOf(faces[0]);
  EXPECT_NEAR(head.height() / 400, kFramingRule.head_share, 0.05);
  EXPECT_NEAR(head.eye_y / 400, kFramingRule.eye_line, 0.05);
}

TEST_F(CliFrameTest, NoFaceOrSeveralFacesExitWithOneAndTheReason) {
  std::string out;
  EXPECT_EQ(Run("frame " + kCoffee + " " + dir_.File("c.jpg"), &out), 1);
  EXPECT_EQ(out, kCoffee + ": 未检测到人脸\n");
  EXPECT_FALSE(std::filesystem::exists(dir_.File("c.jpg")));

  // Two astronauts side by side, as a BMP file, the left one larger (faces of about 128 and 97
  // pixels in a 512-row picture): refused, unless the largest is picked.
  const Bitmap one = ReadPicture(testing::ReadFile(kAstronaut));
  const Bitmap large = ResizeBitmap(one, 742, 742), small = ResizeBitmap(one, 563, 563);
  Bitmap two(742 + 563, 512);
  for (int y = 0; y < 512; ++y) {
    std::copy_n(large.Row(y), 742 * 3, two.Row(y));
    std::copy_n(small.Row(y), 563 * 3, two.At(742, y));
  }
  const std::string bmp = WriteBmp(two);
  testing::WriteFile(dir_.File("two.bmp"), bmp);
  EXPECT_EQ(Run("frame " + dir_.File("two.bmp") + " " + dir_.File("t.jpg"), &out), 1);
  EXPECT_EQ(out,
            dir_.File("two.bmp") + ": 画面中有多张人脸（2 张）；用 --pick largest 取最大的一张\n");
  EXPECT_EQ(
      Run("frame " + dir_.File("two.bmp") + " " + dir_.File("t.jpg") + " --pick largest", &out), 0)
      << out;
  EXPECT_NE(out.find(Printed(bmp, true)), std::string::npos) << out;
  FaceDetector detector;
  EXPECT_LT(FrameStillPicture(detector, bmp, true).face.CentreX(), 742);  // the larger one
  EXPECT_EQ(Run("frame " + dir_.File("two.bmp") + " --pick", &out), 2);
}

TEST_F(CliFrameTest, CheckPrintsThePhotoStandardAfterTheProblemsAndKeepsTheResult) {
  std::string out;
  const std::string photos = dir_.path() + "/照片/";
  std::filesystem::create_directories(photos);
  ASSERT_EQ(Run("frame " + kAstronaut + " " + photos + "1.jpg", &out), 0) << out;
  testing::WriteFile(photos + "2.jpg",
                     EncodeJpeg(ResizeBitmap(ReadPicture(testing::ReadFile(kCoffee)), 300, 400)));
  testing::WriteFile(dir_.File("r.dbf"), testing::DbfBuilder()
                                             .Field(*Utf8ToGbk("考籍号"), 'C', 10)
                                             .Record({"1"})
                                             .Record({"2"})
                                             .Record({"3"})
                                             .Build());
  EXPECT_EQ(Run("check " + dir_.File("r.dbf") + " --program-dir " + dir_.path(), &out), 1);
  const std::string tail = std::string(kMissingPhotoKind) +
                           "\t3\t\t没有 3.jpg\n\n"
                           "照片标准提示\t1\t\t背景不是红色或蓝色\n"
                           "照片标准提示\t2\t\t未检测到人脸\n";
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail) << out;
  EXPECT_NE(out.find("学生 3 人：合格 2，不合格 0，缺少 1"), std::string::npos) << out;
}

}  // namespace
}  // namespace mirestal
