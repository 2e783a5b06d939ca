#include <algorithm>
#include <vector>

#include "capture/face/face_detector.h"

namespace mirestal {

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
      for (int x = 0; x < picture.width; ++x, p += 3)
        out[x] = static_cast<unsigned char>(luma(p) >> 10);
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
    const int yb = std::max(
        ya + 1, static_cast<int>(static_cast<long long>(y + 1) * picture.height / grey.height));
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

}  // namespace mirestal
