// The guided framing without widgets: the analysis worker, the assistant's following and
// auto-capture with a stepped clock, and the next student without a photo.
#include <gtest/gtest.h>

#include <thread>

#include "capture/testcard.h"
#include "core/framing_assistant.h"
#include "core/roster_commands.h"
#include "tests/app/roster_files.h"

namespace mirestal {
namespace {

using Clock = FramingAssistant::Clock;
using testing::KeyOf;
using testing::TempDir;
using testing::WriteRoster;

// One face in a 640x480 frame, well lit and sharp, `dx` pixels right of where the sliders'
// start position frames it as the rule wants.
FrameAnalysis OneFace(int dx = 0) {
  FrameAnalysis a;
  a.frame_width = 640;
  a.frame_height = 480;
  a.faces.push_back(FaceBox{244 + dx, 161, 148, 148, 1.0, std::nullopt});
  a.measures = {150, 30};
  return a;
}

FrameAnalysis NoFace() {
  FrameAnalysis a = OneFace();
  a.faces.clear();
  return a;
}

TEST(FramingAssistantTest, AutoCaptureFiresOnceAfterASecondOfGoodFraming) {
  struct Step {
    int ms;
    bool face = true;
    bool held = false;
    bool ready = true;
    bool capture = false;
    bool next_student = false;  // NextStudent before this step
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  };
  const Case cases[] = {
      {"fires once", {{0}, {500}, {999}, {1000, true, false, true, true}, {1500}, {3000}}},
      {"a slider held starts the wait again",
       {{0}, {600, true, true}, {1200}, {2100}, {2200, true, false, true, true}}},
      {"a capture that cannot start now waits",
       {{0}, {900, true, false, false}, {1500}, {2400}, {2500, true, false, true, true}}},
      {"the face gone starts the wait again", {{0}, {700, false}, {800}, {1700}, {1800, true, false, true, true}}},
      {"the next student, once the face has left",
       {{0}, {1000, true, false, true, true}, {1100, true, false, true, false, true}, {2500},
        {2600, false}, {2700}, {3600}, {3700, true, false, true, true}}},
      {"the face left, then the next student",
       {{0}, {1000, true, false, true, true}, {1100, false}, {1200}, {2300},
        {2400, true, false, true, false, true}, {3300}, {3400, true, false, true, true}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FramingAssistant assistant;
    assistant.set_auto_capture(true);
    for (const Step& s : c.steps) {
      SCOPED_TRACE(s.ms);
      if (s.next_student) assistant.NextStudent();
      const FramingStep step =
          assistant.OnAnalysis(s.face ? OneFace() : NoFace(), kTrackBarHorInitial,
                               kTrackBarVerInitial, s.held, s.ready,
                               Clock::time_point(std::chrono::milliseconds(s.ms)));
      EXPECT_EQ(step.advice, s.face ? Advice::kGood : Advice::kNoFace);
      EXPECT_EQ(step.capture, s.capture);
    }
  }
}

TEST(FramingAssistantTest, OptionsOffOnlyAdvise) {
  FramingAssistant assistant;
  for (int ms = 0; ms <= 3000; ms += 100) {
    const FramingStep step = assistant.OnAnalysis(OneFace(60), 84, 19, false, true,
                                                  Clock::time_point(std::chrono::milliseconds(ms)));
    EXPECT_EQ(step.advice, Advice::kCentreHead);
    EXPECT_FALSE(step.sliders);
    EXPECT_FALSE(step.capture);
  }
}

TEST(FramingAssistantTest, FollowingMovesSmoothlyAndNeverUnderAHeldSlider) {
  FramingAssistant assistant;
  assistant.set_follow(true);
  const Clock::time_point t{};
  // Held: nothing moves.
  EXPECT_FALSE(assistant.OnAnalysis(OneFace(60), 84, 19, true, true, t).sliders);
  // Two faces: nothing moves either.
  FrameAnalysis two = OneFace(60);
  two.faces.push_back(two.faces.front());
  two.faces.back().x += 200;
  EXPECT_FALSE(assistant.OnAnalysis(two, 84, 19, false, true, t).sliders);
  // The face 60 frame pixels (30 slider steps) to the right: steps towards it, each smaller.
  int hor = 84, ver = 19, last_step = 1000, steps = 0;
  for (; steps < 30 && hor != 114; ++steps) {
    const FramingStep step = assistant.OnAnalysis(OneFace(60), hor, ver, false, true, t);
    if (!step.sliders) continue;  // a step within the dead band is not shown
    const int moved = step.sliders->first - hor;
    EXPECT_GT(moved, 0);
    EXPECT_LE(moved, last_step);
    last_step = moved;
    hor = step.sliders->first;
    ver = step.sliders->second;
  }
  EXPECT_EQ(hor, 114);
  EXPECT_EQ(ver, 19);
  EXPECT_GT(steps, 2);  // smoothed, not one jump
  EXPECT_EQ(assistant.OnAnalysis(OneFace(60), hor, ver, false, true, t).advice, Advice::kGood);
  // The operator put the box elsewhere: following starts again from there.
  const FramingStep step = assistant.OnAnalysis(OneFace(60), 160, 19, false, true, t);
  ASSERT_TRUE(step.sliders);
  EXPECT_LT(step.sliders->first, 160);
  EXPECT_GT(step.sliders->first, 114);
}

TEST(FramingAssistantTest, FrameNowAndFreshness) {
  FramingAssistant assistant;
  EXPECT_FALSE(FramingAssistant::FrameNow(NoFace()));
  const std::optional<SliderFraming> framing = FramingAssistant::FrameNow(OneFace(60));
  ASSERT_TRUE(framing);
  EXPECT_EQ(framing->hor, 114);
  EXPECT_EQ(framing->ver, 19);
  const Clock::time_point t{std::chrono::seconds(5)};
  EXPECT_EQ(assistant.FreshAnalysis(t), nullptr);
  assistant.OnAnalysis(OneFace(), 84, 19, false, true, t);
  EXPECT_NE(assistant.FreshAnalysis(t + FramingAssistant::kFreshFor), nullptr);
  EXPECT_EQ(assistant.FreshAnalysis(t + FramingAssistant::kFreshFor + std::chrono::milliseconds(1)), nullptr);
}

TEST(FrameAnalyserTest, AnalysesTheNewestFrameAndDropsTheOthers) {
  FrameAnalyser analyser;
  const Bitmap card = RenderTestCard(640, 480, 0, TestCardPicture::kPortrait);
  analyser.Offer(card);
  while (analyser.Busy()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::optional<FrameAnalysis> result = analyser.TakeResult();
  ASSERT_TRUE(result);
  EXPECT_EQ(result->faces.size(), 1u);
  EXPECT_FALSE(analyser.TakeResult());  // taken once
  // Frames offered faster than they are analysed are dropped, never queued.
  for (int i = 0; i < 20; ++i) analyser.Offer(i % 2 ? card : Bitmap(320, 240));
  while (analyser.Busy()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_EQ(analyser.analysed() + analyser.dropped(), 21u);
  EXPECT_GT(analyser.dropped(), 0u);
  result = analyser.TakeResult();
  ASSERT_TRUE(result);
  EXPECT_EQ(result->frame_width, 640);  // the last frame offered
  // Ends cleanly with a frame in hand.
  analyser.Offer(card);
}

TEST(NextStudentTest, FirstWithoutAValidPhotoAfterTheCurrentOneThenFromTheTop) {
  struct Case {
    const char* name;
    std::set<int> deleted;
    std::set<int> photos;      // valid photos
    std::set<int> bad_photos;  // files that fail the check
    int current;               // record number
    std::optional<int> next;
  };
  const Case cases[] = {
      {"the next one", {}, {1}, {}, 1, 2},
      {"over photographed and deleted students", {3}, {2}, {}, 1, 4},
      {"a failing photo does not count", {}, {1}, {2}, 1, 2},
      {"from the last student to the top", {}, {5}, {}, 5, 1},
      {"the current student last", {}, {1, 2, 4, 5}, {}, 3, 3},
      {"wraps over deleted records", {1}, {3, 4, 5}, {}, 4, 2},
      {"none left", {2}, {1, 3, 4, 5}, {}, 3, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    RosterSession session(dir.path() + "/");
    const std::string roster = WriteRoster(dir, "r.dbf", {.students = 5, .deleted = c.deleted});
    for (int i : c.photos) {
      const std::string path = dir.path() + "/照片/" + KeyOf(i) + ".jpg";
      ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
      session.store().WritePhoto(path, Bitmap(300, 400));
    }
    for (int i : c.bad_photos) testing::WriteFile(dir.path() + "/照片/" + KeyOf(i) + ".jpg", "x");
    ASSERT_TRUE(session.Open(roster).opened);
    session.MoveToRecord(c.current);
    EXPECT_EQ(NextStudentWithoutPhoto(session), c.next);
    EXPECT_EQ(session.dataset().RecNo(), c.current);
  }
}

}  // namespace
}  // namespace mirestal
