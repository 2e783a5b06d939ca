#include "capture/crop.h"

#include <cmath>
#include <cstdint>

namespace mirestal {

double RoundHalfEven(double value) {
  const double floor = std::floor(value);
  const double fraction = value - floor;
  if (fraction > 0.5) return floor + 1;
  if (fraction < 0.5) return floor;
  return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

bool IsAcceptedFrameWidth(int frame_width) {
  return frame_width == 320 || frame_width == 640 || frame_width == 800;
}

CropRect ComputeCropRect(int frame_width, int frame_height, int hor, int ver) {
  auto scaled = [](int64_t a, int64_t b, double divisor) {
    return static_cast<int>(RoundHalfEven(static_cast<double>(a * b) / divisor));
  };
  CropRect r;
  r.w = scaled(frame_width, kMarkerBoxWidth, kPreviewWidth);
  r.h = scaled(frame_height, kMarkerBoxHeight, kPreviewHeight);
  r.x = scaled(frame_width, hor, kPreviewWidth);
  r.y = scaled(frame_height, ver, kPreviewHeight);
  return r;
}

}  // namespace mirestal
