// The framing rule, the advice line and the auto-capture and following helpers, on scripted
// faces. Expected values follow from the rule's numbers: head = 1.5 box heights (crown half a
// box above it, chin at its bottom), eyes a quarter into the box, crop height = head / 0.55
// rounded to a multiple of 4, eye line at 0.4 of the crop from its top.
#include <gtest/gtest.h>

#include "capture/face/framing.h"

namespace mirestal {
namespace {

FaceBox Face(int x, int y, int w, int h, double score = 1) {
  FaceBox f;
  f.x = x, f.y = y, f.w = w, f.h = h, f.score = score;
  return f;
}

struct StillCase {
  const char* name;
  FaceBox face;
  int width, height;
  CropRect crop;
  FramingFit fit;
  bool shifted;
};

TEST(FramingRuleTest, StillCropsFollowTheRuleAndStayInsideThePicture) {
  // An 88-pixel box: head 132, crop 240x180, centre x = x + 44, top = eye - 96.
  // clang-format off
  const StillCase cases[] = {
      {"centred", Face(179, 83, 88, 88), 512, 512, {133, 9, 180, 240}, FramingFit::kGood, false},
      {"top edge", Face(179, 40, 88, 88), 512, 512, {133, 0, 180, 240}, FramingFit::kGood, true},
      {"left edge", Face(10, 83, 88, 88), 512, 512, {0, 9, 180, 240}, FramingFit::kGood, true},
      {"right edge", Face(450, 83, 88, 88), 512, 512, {332, 9, 180, 240}, FramingFit::kGood, true},
      {"bottom edge", Face(179, 400, 88, 88), 512, 512, {133, 272, 180, 240}, FramingFit::kGood, true},
      // Head 300 wants 544 rows; the picture's 512 still keep the share under 0.65.
      {"shrunk to fit", Face(156, 200, 200, 200), 512, 512, {64, 0, 384, 512}, FramingFit::kGood, true},
      // Head 450: more than 0.65 of the largest crop.
      {"too close", Face(106, 100, 300, 300), 512, 512, {64, 0, 384, 512}, FramingFit::kTooClose, true},
      // Head 60: a crop of 108 rows, under the 200 of the smallest photo.
      {"too far", Face(236, 236, 40, 40), 512, 512, {216, 203, 81, 108}, FramingFit::kTooFar, false},
      // A wide picture: head 255 wants 464 rows, the picture has 400 (share 0.64).
      {"wide picture", Face(900, 200, 170, 170), 2000, 400, {835, 0, 300, 400}, FramingFit::kGood, true},
  };
  // clang-format on
  for (const StillCase& c : cases) {
    const StillFraming f = FrameStill(c.face, c.width, c.height);
    EXPECT_EQ(f.crop, c.crop) << c.name << ": " << f.crop.x << "," << f.crop.y << " " << f.crop.w
                              << "x" << f.crop.h;
    EXPECT_EQ(f.fit, c.fit) << c.name;
    EXPECT_EQ(f.shifted, c.shifted) << c.name;
    EXPECT_EQ(f.crop.w * 4, f.crop.h * 3) << c.name;
  }
}

struct SliderCase {
  const char* name;
  FaceBox face;
  int hor, ver;
  FramingFit fit;
  bool clamped;
};

TEST(FramingRuleTest, SlidersPlaceTheFixedBoxOnTheFace) {
  // 640x480: the box is 300x400; slider units are half a pixel. A 146-pixel box centred at
  // x 320 with its eyes at 176.5 wants the box at (170, 16.5): hor 85, ver 8 (8.25).
  // clang-format off
  const SliderCase cases[] = {
      {"centred", Face(247, 140, 146, 146), 85, 8, FramingFit::kGood, false},
      {"far left", Face(20, 140, 146, 146), 0, 8, FramingFit::kGood, true},
      {"far right", Face(560, 140, 146, 146), kTrackBarHorMax, 8, FramingFit::kGood, true},
      {"low", Face(247, 300, 146, 146), 85, kTrackBarVerMax, FramingFit::kGood, true},
      {"too close", Face(220, 100, 200, 200), 85, 0, FramingFit::kTooClose, true},
      {"too far", Face(270, 180, 100, 100), 85, 23, FramingFit::kTooFar, false},
  };
  // clang-format on
  for (const SliderCase& c : cases) {
    const SliderFraming f = FrameForSliders(c.face, 640, 480);
    EXPECT_EQ(f.hor, c.hor) << c.name;
    EXPECT_EQ(f.ver, c.ver) << c.name;
    EXPECT_EQ(f.fit, c.fit) << c.name;
    EXPECT_EQ(f.clamped, c.clamped) << c.name;
    EXPECT_EQ(f.crop, ComputeCropRect(640, 480, f.hor, f.ver)) << c.name;
  }
  EXPECT_EQ(PreviewBox(85, 8), (CropRect{85, 8, kMarkerBoxWidth, kMarkerBoxHeight}));
}

TEST(FramingRuleTest, BackgroundAndUnsureFacesDoNotCount) {
  const std::vector<FaceBox> faces = {Face(0, 0, 100, 100, 0.2), Face(300, 0, 100, 100, 1.5),
                                      Face(500, 0, 40, 40, 1.0), Face(200, 200, 90, 90, 0.8)};
  const std::vector<FaceBox> counted = CountedFaces(faces);
  ASSERT_EQ(counted.size(), 2u);  // the strongest, then the other real one
  EXPECT_EQ(counted[0], faces[1]);
  EXPECT_EQ(counted[1], faces[3]);
}

struct AdviceCase {
  const char* name;
  std::vector<FaceBox> faces;
  FaceMeasures measures;
  Advice advice;
};

TEST(FramingRuleTest, AdviceNamesTheFirstThingWrong) {
  const CropRect box = ComputeCropRect(640, 480, 85, 8);  // {170, 16, 300, 400}
  const FaceMeasures fine{150, 30};
  // clang-format off
  const AdviceCase cases[] = {
      {"none", {}, fine, Advice::kNoFace},
      {"two", {Face(247, 140, 146, 146), Face(20, 140, 140, 140)}, fine, Advice::kSeveralFaces},
      {"small head", {Face(270, 180, 100, 100)}, fine, Advice::kComeCloser},
      {"large head", {Face(220, 100, 200, 200)}, fine, Advice::kStepBack},
      {"to the side", {Face(287, 140, 146, 146)}, fine, Advice::kCentreHead},
      {"too high", {Face(247, 80, 146, 146)}, fine, Advice::kCentreHead},
      {"dark", {Face(247, 140, 146, 146)}, {60, 30}, Advice::kTooDark},
      {"blurred", {Face(247, 140, 146, 146)}, {150, 10}, Advice::kBlurred},
      {"good", {Face(247, 140, 146, 146)}, fine, Advice::kGood},
  };
  // clang-format on
  for (const AdviceCase& c : cases) {
    FrameAnalysis a{640, 480, c.faces, c.measures};
    EXPECT_EQ(AdviseFraming(a, box), c.advice) << c.name;
  }
  EXPECT_EQ(AdviceText(Advice::kNoFace), "未检测到人脸");
  EXPECT_EQ(AdviceText(Advice::kSeveralFaces), "画面中有多张人脸");
  EXPECT_EQ(AdviceText(Advice::kComeCloser), "请靠近一些");
  EXPECT_EQ(AdviceText(Advice::kStepBack), "请后退一些");
  EXPECT_EQ(AdviceText(Advice::kCentreHead), "请把头移到画面中间");
  EXPECT_EQ(AdviceText(Advice::kTooDark), "光线太暗");
  EXPECT_EQ(AdviceText(Advice::kBlurred), "画面模糊");
  EXPECT_EQ(AdviceText(Advice::kGood), "取景合适");
}

TEST(FramingHoldTest, FiresOnceAfterASecondOfGoodFramingAndNotWhileASliderIsHeld) {
  using std::chrono::milliseconds;
  const FramingHold::Clock::time_point t0{};
  FramingHold hold;
  struct Step {
    int ms;
    Advice advice;
    bool slider_held;
    bool fires;
  };
  // clang-format off
  const Step steps[] = {
      {0, Advice::kGood, false, false},       {600, Advice::kCentreHead, false, false},
      {700, Advice::kGood, false, false},     {1600, Advice::kGood, false, false},
      {1700, Advice::kGood, false, true},     {2000, Advice::kGood, false, false},  // once only
  };
  // clang-format on
  for (const Step& s : steps) {
    EXPECT_EQ(hold.Update(s.advice, s.slider_held, t0 + milliseconds(s.ms)), s.fires) << s.ms;
  }
  hold.Rearm();  // the next student
  const Step next[] = {
      {3000, Advice::kGood, false, false}, {3500, Advice::kGood, true, false},
      {4400, Advice::kGood, false, false}, {4500, Advice::kGood, true, false},
      {4600, Advice::kGood, false, false}, {5599, Advice::kGood, false, false},
      {5600, Advice::kGood, false, true},
  };
  for (const Step& s : next) {
    EXPECT_EQ(hold.Update(s.advice, s.slider_held, t0 + milliseconds(s.ms)), s.fires) << s.ms;
  }
}

TEST(SliderSmootherTest, JumpsFirstThenFollowsWithoutJitter) {
  SliderSmoother smoother(0.5, 2);
  EXPECT_EQ(smoother.Next(80, 20), std::make_pair(80, 20));
  EXPECT_EQ(smoother.Next(82, 21), std::make_pair(80, 20));  // within the dead band
  EXPECT_EQ(smoother.Next(80, 20), std::make_pair(80, 20));
  std::pair<int, int> shown;
  for (int i = 0; i < 12; ++i) shown = smoother.Next(120, 30);
  EXPECT_EQ(shown, std::make_pair(120, 30));  // reaches a real move's target
}

}  // namespace
}  // namespace mirestal
