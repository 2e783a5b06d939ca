#include "capture/face/face_detector.h"

#include <dlib/image_processing/frontal_face_detector.h>

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <utility>

#include "capture/face/face_model.h"

namespace mirestal {

struct FaceDetector::Impl {
  dlib::frontal_face_detector detector;
  dlib::array2d<unsigned char> image;  // scratch, kept between calls
};

FaceDetector::FaceDetector() : impl_(std::make_unique<Impl>()) {
  // The filters as dlib serializes them, uncompressed: dlib's own compressed copy takes about a
  // second to unpack, this one milliseconds.
  std::istringstream in(
      std::string(reinterpret_cast<const char*>(kFrontalFaceModel), kFrontalFaceModelSize));
  dlib::deserialize(impl_->detector, in);
}

FaceDetector::~FaceDetector() = default;
FaceDetector::FaceDetector(FaceDetector&&) noexcept = default;
FaceDetector& FaceDetector::operator=(FaceDetector&&) noexcept = default;

std::vector<FaceBox> FaceDetector::Detect(const Bitmap& picture, int min_face) {
  std::vector<FaceBox> faces;
  if (picture.empty()) return faces;
  const double scale = min_face > kDetectorWindow ? double{kDetectorWindow} / min_face : 1.0;
  const GreyImage grey = ToGrey(picture, scale);
  // The scanner needs room for one window; a smaller picture holds no face it could find.
  if (grey.width < kDetectorWindow || grey.height < kDetectorWindow) return faces;
  dlib::array2d<unsigned char>& image = impl_->image;
  image.set_size(grey.height, grey.width);
  for (int y = 0; y < grey.height; ++y) {
    std::copy_n(grey.pixels.data() + static_cast<size_t>(y) * grey.width, grey.width, &image[y][0]);
  }
  std::vector<std::pair<double, dlib::rectangle>> found;
  impl_->detector(image, found, 0.0);
  const double back_x = static_cast<double>(picture.width) / grey.width;
  const double back_y = static_cast<double>(picture.height) / grey.height;
  for (const auto& [score, r] : found) {
    FaceBox f;
    f.x = static_cast<int>(std::lround(r.left() * back_x));
    f.y = static_cast<int>(std::lround(r.top() * back_y));
    f.w = static_cast<int>(std::lround((r.right() + 1) * back_x)) - f.x;
    f.h = static_cast<int>(std::lround((r.bottom() + 1) * back_y)) - f.y;
    f.score = score;
    faces.push_back(f);
  }
  std::stable_sort(faces.begin(), faces.end(),
                   [](const FaceBox& a, const FaceBox& b) { return a.score > b.score; });
  return faces;
}

}  // namespace mirestal
