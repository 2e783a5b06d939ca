#include "capture/face/face_detector.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <string>
#include <utility>

#include <dlib/image_processing/frontal_face_detector.h>

#include "capture/face/face_model.h"

namespace mirestal {

struct FaceDetector::Impl {
  dlib::frontal_face_detector detector;
  dlib::array2d<unsigned char> image;  // scratch, kept between calls
};

FaceDetector::FaceDetector() : impl_(std::make_unique<Impl>()) {
  // The filters as dlib serializes them, uncompressed: dlib's own compressed copy takes about a
  // second to unpack, this one milliseconds.
  std::istringstream in(std::string(reinterpret_cast<const char*>(kFrontalFaceModel),
                                    kFrontalFaceModelSize));
  dlib::deserialize(impl_->detector, in);
}

FaceDetector::~FaceDetector() = default;
FaceDetector::FaceDetector(FaceDetector&&) noexcept = default;
FaceDetector& FaceDetector::operator=(FaceDetector&&) noexcept = default;

GreyImage ToGrey(const Bitmap& picture, double scale) {
  GreyImage grey;
  if (picture.empty() || !(scale > 0)) return grey;
  scale = std::min(scale, 1.0);
  grey.width = std::max(1, static_cast<int>(picture.width * scale));
  grey.height = std::max(1, static_cast<int>(picture.height * scale));
  grey.pixels.resize(static_cast<size_t>(grey.width) * grey.height);
  // Luma in fixed point: 0.299 R + 0.587 G + 0.114 B, times 1024.
  auto luma = [](const uint8_t* p) { return 306 * p[0] + 601 * p[1] + 117 * p[2]; };
  if (grey.width == picture.width && grey.height == picture.height) {
    for (int y = 0; y < picture.height; ++y) {
      const uint8_t* p = picture.Row(y);
      unsigned char* out = grey.pixels.data() + static_cast<size_t>(y) * grey.width;
      for (int x = 0; x < picture.width; ++x, p += 3) out[x] = static_cast<unsigned char>(luma(p) >> 10);
    }
    return grey;
  }
  // Area averaging: each output pixel is the mean of the source pixels its span covers.
  std::vector<int> x0(grey.width + 1);
  for (int x = 0; x <= grey.width; ++x) {
    x0[x] = static_cast<int>(static_cast<long long>(x) * picture.width / grey.width);
  }
  std::vector<long long> sums(grey.width);
  for (int y = 0; y < grey.height; ++y) {
    const int ya = static_cast<int>(static_cast<long long>(y) * picture.height / grey.height);
    const int yb = std::max(ya + 1, static_cast<int>(static_cast<long long>(y + 1) * picture.height / grey.height));
    std::fill(sums.begin(), sums.end(), 0);
    for (int sy = ya; sy < yb; ++sy) {
      const uint8_t* row = picture.Row(sy);
      for (int x = 0; x < grey.width; ++x) {
        long long s = 0;
        for (int sx = x0[x]; sx < std::max(x0[x] + 1, x0[x + 1]); ++sx) s += luma(row + sx * 3);
        sums[x] += s;
      }
    }
    unsigned char* out = grey.pixels.data() + static_cast<size_t>(y) * grey.width;
    for (int x = 0; x < grey.width; ++x) {
      const long long n = static_cast<long long>(yb - ya) * std::max(1, x0[x + 1] - x0[x]);
      out[x] = static_cast<unsigned char>((sums[x] / n) >> 10);
    }
  }
  return grey;
}

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
