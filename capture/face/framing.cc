#include "capture/face/framing.h"

#include <algorithm>
#include <cmath>

namespace mirestal {
namespace {

// The crop height for a head: a multiple of 4, so the width is exactly 3:4.
int CropHeightFor(double height) {
  return std::max(4, static_cast<int>(std::lround(height / 4)) * 4);
}

}  // namespace

HeadGeometry HeadOf(const FaceBox& face, const FramingRule& rule) {
  HeadGeometry head;
  head.centre_x = face.CentreX();
  head.crown_y = face.y - rule.crown_above_box * face.h;
  head.eye_y = face.eye_y ? *face.eye_y : face.y + rule.eyes_in_box * face.h;
  head.chin_y = face.y + rule.chin_in_box * face.h;
  return head;
}

StillFraming FrameStill(const FaceBox& face, int picture_width, int picture_height,
                        const FramingRule& rule) {
  StillFraming result;
  const HeadGeometry head = HeadOf(face, rule);
  // The largest 3:4 crop the picture holds.
  const int largest =
      std::min(picture_height, static_cast<int>(picture_width / rule.aspect)) / 4 * 4;
  int height = CropHeightFor(head.height() / rule.head_share);
  if (height > largest) {
    height = largest;
    if (head.height() > rule.head_share_max * largest) result.fit = FramingFit::kTooClose;
  }
  if (height < rule.min_crop_height) result.fit = FramingFit::kTooFar;
  const int width = height / 4 * 3;
  const int x = static_cast<int>(std::lround(head.centre_x - width / 2.0));
  const int y = static_cast<int>(std::lround(head.eye_y - rule.eye_line * height));
  result.crop = {std::clamp(x, 0, std::max(0, picture_width - width)),
                 std::clamp(y, 0, std::max(0, picture_height - height)), width, height};
  result.shifted = result.crop.x != x || result.crop.y != y;
  return result;
}

CropRect PreviewBox(int hor, int ver) { return {hor, ver, kMarkerBoxWidth, kMarkerBoxHeight}; }

SliderFraming FrameForSliders(const FaceBox& face, int frame_width, int frame_height,
                              const FramingRule& rule) {
  SliderFraming result;
  const HeadGeometry head = HeadOf(face, rule);
  const CropRect size = ComputeCropRect(frame_width, frame_height, 0, 0);
  const double x = head.centre_x - size.w / 2.0;
  const double y = head.eye_y - rule.eye_line * size.h;
  const int hor = static_cast<int>(std::lround(x * kPreviewWidth / frame_width));
  const int ver = static_cast<int>(std::lround(y * kPreviewHeight / frame_height));
  result.hor = std::clamp(hor, 0, kTrackBarHorMax);
  result.ver = std::clamp(ver, 0, kTrackBarVerMax);
  result.clamped = result.hor != hor || result.ver != ver;
  result.crop = ComputeCropRect(frame_width, frame_height, result.hor, result.ver);
  const double share = head.height() / size.h;
  result.fit = share < rule.head_share_min   ? FramingFit::kTooFar
               : share > rule.head_share_max ? FramingFit::kTooClose
                                             : FramingFit::kGood;
  return result;
}

FaceMeasures MeasureFace(const Bitmap& frame, const FaceBox& face) {
  FaceMeasures m;
  const int x0 = std::clamp(face.x, 0, frame.width),
            x1 = std::clamp(face.x + face.w, 0, frame.width);
  const int y0 = std::clamp(face.y, 0, frame.height),
            y1 = std::clamp(face.y + face.h, 0, frame.height);
  if (x1 - x0 < 8 || y1 - y0 < 8) return m;
  const GreyImage grey = ToGrey(CopyRect(frame, x0, y0, x1 - x0, y1 - y0),
                                std::min(1.0, 64.0 / std::min(x1 - x0, y1 - y0)));
  // Brightness: the inner part (cheeks, eyes, nose), without hair or background at the edges.
  double sum = 0, sum2 = 0;
  int n = 0;
  for (int y = grey.height / 5; y < grey.height * 4 / 5; ++y) {
    for (int x = grey.width / 5; x < grey.width * 4 / 5; ++x, ++n) sum += grey.At(x, y);
  }
  m.brightness = n ? sum / n : 0;
  // Sharpness: fine detail (the Laplacian) against the region's overall contrast, so that a
  // dim but sharp face is not taken for a blurred one.
  double lap = 0;
  sum = 0;
  n = 0;
  for (int y = 1; y + 1 < grey.height; ++y) {
    for (int x = 1; x + 1 < grey.width; ++x, ++n) {
      const int p = grey.At(x, y);
      lap += std::abs(4 * p - grey.At(x - 1, y) - grey.At(x + 1, y) - grey.At(x, y - 1) -
                      grey.At(x, y + 1));
      sum += p;
      sum2 += static_cast<double>(p) * p;
    }
  }
  if (n) {
    const double deviation = std::sqrt(std::max(0.0, sum2 / n - (sum / n) * (sum / n)));
    m.sharpness = 100 * (lap / n) / (deviation + 1);
  }
  return m;
}

std::vector<FaceBox> CountedFaces(std::vector<FaceBox> faces, const FramingRule& rule) {
  if (faces.empty()) return faces;
  std::stable_sort(faces.begin(), faces.end(),
                   [](const FaceBox& a, const FaceBox& b) { return a.score > b.score; });
  int widest = 0;
  for (const FaceBox& f : faces) widest = std::max(widest, f.w);
  std::vector<FaceBox> counted = {faces.front()};
  for (size_t i = 1; i < faces.size(); ++i) {
    if (faces[i].w >= rule.other_face_min * widest && faces[i].score >= rule.other_face_min_score) {
      counted.push_back(faces[i]);
    }
  }
  return counted;
}

FrameAnalysis AnalyseFrame(FaceDetector& detector, const Bitmap& frame, const FramingRule& rule) {
  FrameAnalysis a;
  a.frame_width = frame.width;
  a.frame_height = frame.height;
  a.faces = CountedFaces(
      detector.Detect(frame, static_cast<int>(rule.live_min_face * frame.height)), rule);
  if (!a.faces.empty()) a.measures = MeasureFace(frame, a.faces.front());
  return a;
}

std::string_view AdviceText(Advice advice) {
  switch (advice) {
    case Advice::kNoFace:
      return "未检测到人脸";
    case Advice::kSeveralFaces:
      return "画面中有多张人脸";
    case Advice::kComeCloser:
      return "请靠近一些";
    case Advice::kStepBack:
      return "请后退一些";
    case Advice::kCentreHead:
      return "请把头移到画面中间";
    case Advice::kTooDark:
      return "光线太暗";
    case Advice::kBlurred:
      return "画面模糊";
    case Advice::kGood:
      return "取景合适";
  }
  return "";
}

Advice AdviseFraming(const FrameAnalysis& analysis, const CropRect& box, const FramingRule& rule) {
  if (analysis.faces.empty()) return Advice::kNoFace;
  if (analysis.faces.size() > 1) return Advice::kSeveralFaces;
  if (box.w <= 0 || box.h <= 0) return Advice::kCentreHead;
  const HeadGeometry head = HeadOf(analysis.faces.front(), rule);
  const double share = head.height() / box.h;
  if (share < rule.head_share_min) return Advice::kComeCloser;
  if (share > rule.head_share_max) return Advice::kStepBack;
  const double off_centre = std::abs(head.centre_x - (box.x + box.w / 2.0)) / box.w;
  const double eye_line = (head.eye_y - box.y) / box.h;
  if (off_centre > rule.centre_tolerance || eye_line < rule.eye_line_min ||
      eye_line > rule.eye_line_max) {
    return Advice::kCentreHead;
  }
  if (analysis.measures.brightness < rule.min_brightness) return Advice::kTooDark;
  if (analysis.measures.sharpness < rule.min_sharpness) return Advice::kBlurred;
  return Advice::kGood;
}

bool FramingHold::Update(Advice advice, bool slider_held, Clock::time_point now) {
  if (advice != Advice::kGood || slider_held) {
    good_since_.reset();
    return false;
  }
  if (!good_since_) good_since_ = now;
  if (fired_ || now - *good_since_ < hold_) return false;
  fired_ = true;
  return true;
}

void FramingHold::Rearm() {
  fired_ = false;
  good_since_.reset();
}

std::pair<int, int> SliderSmoother::Next(int target_hor, int target_ver) {
  if (!state_) {
    state_.emplace(target_hor, target_ver);
  } else {
    state_->first += weight_ * (target_hor - state_->first);
    state_->second += weight_ * (target_ver - state_->second);
  }
  const int hor = static_cast<int>(std::lround(state_->first));
  const int ver = static_cast<int>(std::lround(state_->second));
  // Only moves of more than the dead band are shown, and the last small step once the
  // smoothed position has settled on the target.
  auto settled = [](double state, int target) { return std::abs(state - target) < 0.5; };
  if (std::abs(hor - shown_.first) > dead_band_ || settled(state_->first, target_hor)) {
    shown_.first = hor;
  }
  if (std::abs(ver - shown_.second) > dead_band_ || settled(state_->second, target_ver)) {
    shown_.second = ver;
  }
  return shown_;
}

}  // namespace mirestal
