// Faces in a picture: dlib's HOG frontal face detector (five filters, an 80x80-pixel window)
// run on a grey, possibly reduced copy of an RGB bitmap.
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "capture/bitmap.h"

namespace mirestal {

// A face found in a picture, in that picture's pixels. The box covers brows to chin and cheek
// to cheek (the detector's training boxes); the crown lies about half a box height above it.
struct FaceBox {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  double score = 0;  // the detector's confidence; higher is surer
  // The eye line's height (y), when the detector gives eyes; dlib's HOG detector does not, so
  // the framing estimates it from the box.
  std::optional<double> eye_y;

  double CentreX() const { return x + w / 2.0; }
  double CentreY() const { return y + h / 2.0; }
  friend bool operator==(const FaceBox&, const FaceBox&) = default;
};

// The smallest face the detector sees at full scale: its window.
inline constexpr int kDetectorWindow = 80;

class FaceDetector {
 public:
  // Loads the detector's filters (compiled in; about 2 ms). No file is read.
  FaceDetector();
  ~FaceDetector();
  FaceDetector(FaceDetector&&) noexcept;
  FaceDetector& operator=(FaceDetector&&) noexcept;

  // The faces in `picture`, strongest first, in its pixels. Faces smaller than `min_face`
  // pixels may be missed: the picture is reduced by kDetectorWindow / min_face first when that
  // is below 1 (a larger min_face is faster). min_face <= kDetectorWindow searches at full
  // scale. An empty picture has no face.
  // Not thread-safe: the detector keeps scratch state; give each thread its own detector.
  std::vector<FaceBox> Detect(const Bitmap& picture, int min_face = kDetectorWindow);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The grey value (ITU-R BT.601 luma, 0-255) of every pixel of `picture`, reduced by `scale`
// (0 < scale <= 1) with area averaging. Used by the detector and by the face measurements.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;  // width * height, rows top down
  unsigned char At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};
GreyImage ToGrey(const Bitmap& picture, double scale = 1.0);

}  // namespace mirestal
