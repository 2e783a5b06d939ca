#include "capture/face/photo_advice.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "capture/face/still_frame.h"

namespace mirestal {

bool HasRedOrBlueBackground(const Bitmap& photo, const FaceBox& face, const FramingRule& rule) {
  const HeadGeometry head = HeadOf(face, rule);
  // Hair reaches past the detector's box at the sides; leave a margin around it.
  const int head_left = static_cast<int>(head.centre_x - 0.8 * face.w);
  const int head_right = static_cast<int>(head.centre_x + 0.8 * face.w);
  const int crown = static_cast<int>(head.crown_y - 0.05 * face.h);
  const int ears = static_cast<int>(face.y + 0.6 * face.h);
  int red = 0, blue = 0, total = 0;
  auto sample = [&](int x0, int x1, int y0, int y1) {
    x0 = std::max(0, x0), x1 = std::min(photo.width, x1);
    y0 = std::max(0, y0), y1 = std::min(photo.height, y1);
    for (int y = y0; y < y1; y += 2) {
      for (int x = x0; x < x1; x += 2) {
        const uint8_t* p = photo.At(x, y);
        const int r = p[0], g = p[1], b = p[2];
        red += r >= 100 && r >= g + 50 && r >= b + 50;
        blue += b >= 80 && b >= r + 40 && b >= g + 20;
        ++total;
      }
    }
  };
  sample(0, photo.width, 0, crown);              // above the crown
  sample(0, head_left, crown, ears);             // left of the head
  sample(head_right, photo.width, crown, ears);  // right of the head
  if (total < 50) return true;
  return red >= 0.6 * total || blue >= 0.6 * total;
}

std::vector<std::string> PhotoStandardAdvice(FaceDetector& detector, const Bitmap& source,
                                             const FramingRule& rule) {
  std::vector<std::string> lines;
  if (source.empty()) return lines;
  // A well framed face is about a third of the photo's height; in the 150x200 photos of a
  // 320x240 frame that is under the detector's window, so small photos are judged enlarged.
  const Bitmap enlarged = source.height < 400
                              ? ResizeBitmap(source, source.width * 400 / source.height, 400)
                              : Bitmap();
  const Bitmap& photo = enlarged.empty() ? source : enlarged;
  // Faces of a sixth of the height and more are searched for.
  const std::vector<FaceBox> faces =
      CountedFaces(detector.Detect(photo, std::max(kDetectorWindow, photo.height / 6)), rule);
  if (faces.empty()) return {kAdviceNoFace};
  if (faces.size() > 1) lines.push_back(kAdviceSeveralFaces);
  const FaceBox& face = faces.front();
  const HeadGeometry head = HeadOf(face, rule);
  if (std::abs(head.centre_x - photo.width / 2.0) > rule.centre_tolerance * photo.width) {
    lines.push_back(kAdviceOffCentre);
  }
  const double share = head.height() / photo.height;
  if (share < rule.head_share_min || share > rule.head_share_max) lines.push_back(kAdviceHeadSize);
  if (!HasRedOrBlueBackground(photo, face, rule)) lines.push_back(kAdviceBackground);
  return lines;
}

void AddPhotoStandardAdvice(PhotoRules& rules) {
  // The check's rules are copied (the check cache keeps its own); the detector is shared by the
  // copies and used by one thread at a time, as the check runs on the caller's thread.
  auto detector = std::make_shared<FaceDetector>();
  rules.advise = [detector](const Bitmap& photo) { return PhotoStandardAdvice(*detector, photo); };
}

}  // namespace mirestal
