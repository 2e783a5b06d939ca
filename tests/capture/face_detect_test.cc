// The detector and the photo standard's advice on real photographs from Debian's packages
// (python3-skimage, opencv-doc) and on the test card.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "capture/face/face_detector.h"
#include "capture/face/framing.h"
#include "capture/face/photo_advice.h"
#include "capture/face/still_frame.h"
#include "capture/jpeg.h"
#include "capture/testcard.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

const std::string kSkimage = "/usr/lib/python3/dist-packages/skimage/data/";
const std::string kOpencv = "/usr/share/doc/opencv-doc/examples/data/";

// The picture's bytes; empty (and the test skipped) where the packages cannot be reached, as
// under wine.
std::string Picture(const std::string& path) {
  if (!std::filesystem::exists(path)) return {};
  return testing::ReadFile(path);
}
#define PICTURE_OR_SKIP(var, path)       \
  const std::string var = Picture(path); \
  if (var.empty()) GTEST_SKIP() << path << " is not there (packages)"

TEST(FaceDetectTest, FindsTheFaceOfAPortraitAndNoneInPicturesWithoutFaces) {
  struct Case {
    std::string path;
    size_t faces;
  };
  const Case cases[] = {
      {kSkimage + "astronaut.png", 1},   {kSkimage + "coffee.png", 0},
      {kSkimage + "chelsea.png", 0},  // a cat
      {kSkimage + "text.png", 0},        {kSkimage + "brick.png", 0},
      {kSkimage + "grass.png", 0},       {kOpencv + "fruits.jpg", 0},
      {kOpencv + "baboon.jpg", 0},       {kOpencv + "building.jpg", 0},
      {kOpencv + "starry_night.jpg", 0}, {kOpencv + "home.jpg", 0},
  };
  FaceDetector detector;
  for (const Case& c : cases) {
    PICTURE_OR_SKIP(bytes, c.path);
    const std::vector<FaceBox> faces = CountedFaces(detector.Detect(ReadPicture(bytes)));
    EXPECT_EQ(faces.size(), c.faces) << c.path;
  }
  PICTURE_OR_SKIP(astronaut, kSkimage + "astronaut.png");
  const FaceBox face = detector.Detect(ReadPicture(astronaut)).at(0);
  // Brows to chin, cheek to cheek: the face spans about x 180-265, y 85-170.
  EXPECT_NEAR(face.CentreX(), 223, 6);
  EXPECT_NEAR(face.CentreY(), 127, 6);
  EXPECT_NEAR(face.h, 88, 10);
}

TEST(FaceDetectTest, TestCardPortraitIsFramedWellAtEverySizeAndBlurOrDarknessIsTold) {
  FaceDetector detector;
  for (const FrameSize& s : TestCardBackend::Sizes()) {
    const Bitmap frame = RenderTestCard(s.width, s.height, 25, TestCardPicture::kPortrait);
    const FrameAnalysis analysis = AnalyseFrame(detector, frame);
    ASSERT_EQ(analysis.faces.size(), 1u) << s.width;
    const SliderFraming framing = FrameForSliders(analysis.faces[0], s.width, s.height);
    EXPECT_EQ(framing.fit, FramingFit::kGood) << s.width;
    EXPECT_EQ(AdviseFraming(analysis, framing.crop), Advice::kGood) << s.width;
    // The same face darkened, or blurred by a box of a tenth of the face's width.
    FrameAnalysis dark = analysis, blurred = analysis;
    Bitmap dim = frame;
    for (uint8_t& v : dim.pixels) v = static_cast<uint8_t>(v * 3 / 10);
    dark.measures = MeasureFace(dim, analysis.faces[0]);
    EXPECT_EQ(AdviseFraming(dark, framing.crop), Advice::kTooDark) << s.width;
    const int r = analysis.faces[0].w / 20;
    const Bitmap soft = ResizeBitmap(
        ResizeBitmap(frame, s.width / (2 * r + 1), s.height / (2 * r + 1)), s.width, s.height);
    blurred.measures = MeasureFace(soft, analysis.faces[0]);
    EXPECT_EQ(AdviseFraming(blurred, framing.crop), Advice::kBlurred) << s.width;
  }
}

TEST(FaceDetectTest, PhotoStandardAdviceOnRealPhotos) {
  PICTURE_OR_SKIP(astronaut, kSkimage + "astronaut.png");
  PICTURE_OR_SKIP(coffee, kSkimage + "coffee.png");
  FaceDetector detector;
  const StillFrame framed = FrameStillPicture(detector, astronaut, false);
  // The astronaut stands before a grey studio wall and a flag.
  Bitmap blue = framed.photo, red = framed.photo;
  // Two people side by side on white, each a quarter of the picture.
  Bitmap two(framed.photo.width * 2, framed.photo.height * 2);
  // A blue or red backdrop where the border is judged: above the crown, beside the head.
  const FaceBox f = CountedFaces(detector.Detect(framed.photo)).at(0);
  for (int y = 0; y < blue.height; ++y) {
    for (int x = 0; x < blue.width; ++x) {
      const double dx = (x - f.CentreX()) / (0.9 * f.w),
                   dy = (y - f.CentreY() + 0.2 * f.h) / (1.0 * f.h);
      if (y > f.y + f.h || dx * dx + dy * dy <= 1) continue;
      uint8_t* b = blue.At(x, y);
      b[0] = 60, b[1] = 140, b[2] = 220;
      uint8_t* r = red.At(x, y);
      r[0] = 210, r[1] = 30, r[2] = 40;
    }
  }
  const Bitmap off_centre = CopyRect(ResizeBitmap(framed.photo, 300, 400), 60, 0, 300, 400);
  for (int y = 0; y < framed.photo.height; ++y) {
    std::copy_n(framed.photo.Row(y), framed.photo.width * 3, two.Row(y));
    std::copy_n(framed.photo.Row(y), framed.photo.width * 3, two.Row(y) + framed.photo.width * 3);
  }
  struct Case {
    const char* name;
    Bitmap photo;
    std::vector<std::string> advice;
  };
  const Case cases[] = {
      {"framed", framed.photo, {kAdviceBackground}},
      {"150x200", ResizeBitmap(framed.photo, 150, 200), {kAdviceBackground}},
      {"blue backdrop", blue, {}},
      {"red backdrop", red, {}},
      {"off centre", off_centre, {kAdviceOffCentre, kAdviceBackground}},
      {"two people",
       two,
       {kAdviceSeveralFaces, kAdviceOffCentre, kAdviceHeadSize, kAdviceBackground}},
      {"no face", ResizeBitmap(ReadPicture(coffee), 300, 400), {kAdviceNoFace}},
  };
  for (const Case& c : cases) EXPECT_EQ(PhotoStandardAdvice(detector, c.photo), c.advice) << c.name;

  // Through the photo check's hook: advice beside a valid photo, none without the hook.
  PhotoRules rules;
  const std::string jpeg = EncodeJpeg(framed.photo);
  EXPECT_TRUE(CheckPhotoBytes(jpeg, rules).advice.empty());
  AddPhotoStandardAdvice(rules);
  const PhotoFileCheck check = CheckPhotoBytes(jpeg, rules);
  EXPECT_TRUE(check.valid());
  EXPECT_EQ(check.advice, std::vector<std::string>{kAdviceBackground});
}

}  // namespace
}  // namespace mirestal
