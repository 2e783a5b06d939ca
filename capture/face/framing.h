// The framing rule: where the 3:4 photo goes around a face, what a frame lacks (the advice line
// under the preview), and the helpers the window's automatic framing and capture build on.
// No Qt; everything is in frame pixels unless said otherwise.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "capture/bitmap.h"
#include "capture/crop.h"
#include "capture/face/face_detector.h"

namespace mirestal {

// Every number of the rule, in one place. Fractions of the photo's height unless said otherwise.
struct FramingRule {
  // Width : height of the photo. The usage document's photo standard: 3:4.
  double aspect = 3.0 / 4.0;
  // The head from the detector's box (in box heights, from the box's top). Measured on
  // python3-skimage's astronaut.png (box 88 px high from y 83: eye line at y 105, chin at the
  // box's bottom) and on faces without volume in the hair, where the crown lies as far above
  // the eye line as the chin lies below it: crown 0.5 above the box, eyes 0.25 into it.
  double crown_above_box = 0.5;
  double eyes_in_box = 0.25;
  double chin_in_box = 1.0;
  // The head (crown to chin) fills this share of the photo's height. The usage document asks
  // for the whole head and both shoulders in a 3:4 photo; 0.55 leaves a tenth above the crown
  // and a third below the chin for neck and shoulders, and is the share the program's own box
  // (150x200 of the 320x240 preview) gives a seated student at the usual distance.
  double head_share = 0.55;
  // Shares still accepted: a head below the minimum is too small (come closer), above the
  // maximum too large (step back). +-0.10 around the target is about +-15 cm at 1.5 m.
  double head_share_min = 0.45;
  double head_share_max = 0.65;
  // The eye line, from the photo's top. ISO/IEC 19794-5 (full frontal) puts it between 30% and
  // 50% of the height from the top; the rule aims at the middle and accepts that range.
  double eye_line = 0.40;
  double eye_line_min = 0.30;
  double eye_line_max = 0.50;
  // The usage document: the face in the centre of the photo. Accepted: the face's centre within
  // this fraction of the photo's width of the middle (ISO/IEC 19794-5: 45%-55% of the width).
  double centre_tolerance = 0.05;
  // Stills: the smallest crop worth storing, in source pixels: the program's own smallest photo
  // (the box of a 320x240 frame is 150x200). A smaller crop is "too far".
  int min_crop_height = 200;
  // Faces narrower than this fraction of the largest face are people in the background and
  // do not count as another face; nor do faces the detector is unsure of (below this score:
  // on astronaut.png the helmet ring scores 0.0-0.2 beside the face's 1.5).
  double other_face_min = 0.5;
  double other_face_min_score = 0.3;
  // The face region's mean grey below this is too dark (0-255).
  double min_brightness = 70;
  // The face region's sharpness (see MeasureFace) below this is blurred. Measured on the test
  // card's portrait at 640x480: 33 sharp, 27/21/16/11 after 3/5/7/11-pixel box blurs; the drawn
  // cartoon, flat as it is, 22. Brightness: 178 lit, 88 at half light, 52 at 0.3.
  double min_sharpness = 15;
  // Live frames are searched for faces at least this share of the frame's height: a head at
  // head_share_min of a 640x480 frame's box has a 120-pixel box, so faces somewhat too far are
  // still found (and told to come closer) while a 640x480 frame is searched at 0.76 scale.
  double live_min_face = 0.22;
};
inline constexpr FramingRule kFramingRule{};

// The head as the rule sees it, from a detector box.
struct HeadGeometry {
  double centre_x = 0;
  double crown_y = 0;
  double eye_y = 0;  // the detector's eye line when it gives one
  double chin_y = 0;
  double height() const { return chin_y - crown_y; }
};
HeadGeometry HeadOf(const FaceBox& face, const FramingRule& rule = kFramingRule);

enum class FramingFit {
  kGood,
  kTooClose,  // the head is too large for any 3:4 crop of the picture (or for the box)
  kTooFar,    // the head is too small: the crop would be below min_crop_height (or the box)
};

// The rule applied to a still picture: the crop of any size that frames the face.
struct StillFraming {
  CropRect crop;  // 3:4 exactly (height a multiple of 4), inside the picture
  FramingFit fit = FramingFit::kGood;
  bool shifted = false;  // moved to stay inside the picture: the face is off centre
};
StillFraming FrameStill(const FaceBox& face, int picture_width, int picture_height,
                        const FramingRule& rule = kFramingRule);

// The rule applied to the window's marker box, whose size is fixed by the frame (crop.h): the
// slider positions that put the box where the rule wants it, clamped to the sliders' ranges.
struct SliderFraming {
  int hor = kTrackBarHorInitial;
  int ver = kTrackBarVerInitial;
  CropRect crop;  // ComputeCropRect(frame, hor, ver): the red frame in frame pixels
  FramingFit fit = FramingFit::kGood;  // the head's share of the fixed box
  bool clamped = false;                // a slider hit its end: the person must move to be centred
};
SliderFraming FrameForSliders(const FaceBox& face, int frame_width, int frame_height,
                              const FramingRule& rule = kFramingRule);
// The same box in preview coordinates (the 320x240 panel) for a frame of any size.
CropRect PreviewBox(int hor, int ver);

// Brightness and sharpness of the face region.
struct FaceMeasures {
  double brightness = 0;  // mean grey of the box's inner part, 0-255
  double sharpness = 0;   // mean absolute Laplacian of the box resampled to 64x64, per unit
                          // of the region's grey deviation, times 100: contrast-independent
};
FaceMeasures MeasureFace(const Bitmap& frame, const FaceBox& face);

// What a worker thread gives the window for one frame.
struct FrameAnalysis {
  int frame_width = 0;
  int frame_height = 0;
  std::vector<FaceBox> faces;  // strongest first, background faces (other_face_min) dropped
  FaceMeasures measures;       // of faces[0], when there is a face
};
// Detects (faces of at least live_min_face of the frame's height) and measures.
FrameAnalysis AnalyseFrame(FaceDetector& detector, const Bitmap& frame,
                           const FramingRule& rule = kFramingRule);
// The faces that count, strongest first: the strongest, and others at least other_face_min as
// wide as the widest and scoring at least other_face_min_score.
std::vector<FaceBox> CountedFaces(std::vector<FaceBox> faces,
                                  const FramingRule& rule = kFramingRule);

// The advice line under the preview.
enum class Advice {
  kNoFace,        // "未检测到人脸"
  kSeveralFaces,  // "画面中有多张人脸"
  kComeCloser,    // "请靠近一些"
  kStepBack,      // "请后退一些"
  kCentreHead,    // "请把头移到画面中间"
  kTooDark,       // "光线太暗"
  kBlurred,       // "画面模糊"
  kGood,          // "取景合适"
};
std::string_view AdviceText(Advice advice);  // UTF-8

// The advice for the marker box `box` (frame pixels) over the analysed frame: the first of the
// list above that applies.
Advice AdviseFraming(const FrameAnalysis& analysis, const CropRect& box,
                     const FramingRule& rule = kFramingRule);

// Auto-capture: fires once when the advice has read kGood without a break for `hold`, and not
// while the operator holds a slider (holding one starts the wait again). After firing it stays
// quiet until Rearm (the next student). The caller passes the time, so tests need no clock.
class FramingHold {
 public:
  using Clock = std::chrono::steady_clock;
  explicit FramingHold(std::chrono::milliseconds hold = std::chrono::seconds(1)) : hold_(hold) {}
  // True exactly once per arming, at the first call where kGood has held for `hold`.
  bool Update(Advice advice, bool slider_held, Clock::time_point now);
  void Rearm();
  bool fired() const { return fired_; }

 private:
  std::chrono::milliseconds hold_;
  std::optional<Clock::time_point> good_since_;
  bool fired_ = false;
};

// Following the face: the slider positions move towards the rule's positions smoothly and
// ignore changes of a slider step or two, so the red frame does not jitter.
class SliderSmoother {
 public:
  // `weight` of each new position (0-1); `dead_band` in slider steps.
  explicit SliderSmoother(double weight = 0.35, int dead_band = 2)
      : weight_(weight), dead_band_(dead_band) {}
  // The positions to show after `target`; the first call jumps to it.
  std::pair<int, int> Next(int target_hor, int target_ver);
  void Reset() { state_.reset(); }
  // Continues from positions the operator set: the next steps start there.
  void Start(int hor, int ver) {
    state_.emplace(hor, ver);
    shown_ = {hor, ver};
  }

 private:
  double weight_;
  int dead_band_;
  std::optional<std::pair<double, double>> state_;
  std::pair<int, int> shown_{};
};

}  // namespace mirestal
