#include "capture/preview_frame.h"

#include <algorithm>
#include <cstdlib>

namespace mirestal {
namespace {

uint8_t Clamp(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

Bitmap FromRgb(const PreviewFrameFormat& f, std::string_view data) {
  const int w = f.width;
  const int h = std::abs(f.height);
  const size_t bytes = static_cast<size_t>(f.bit_count / 8);
  const size_t stride = (static_cast<size_t>(w) * bytes + 3) & ~size_t{3};
  if (data.size() < stride * static_cast<size_t>(h)) return Bitmap();
  Bitmap out(w, h);
  for (int y = 0; y < h; ++y) {
    const int source_row = f.height > 0 ? h - 1 - y : y;
    const auto* in = reinterpret_cast<const uint8_t*>(data.data()) + stride * source_row;
    uint8_t* o = out.Row(y);
    for (int x = 0; x < w; ++x, in += bytes, o += 3) {
      o[0] = in[2];
      o[1] = in[1];
      o[2] = in[0];
    }
  }
  return out;
}

// BT.601 with Y in 16..235 and U, V in 16..240, in integers (8 bits of fraction).
Bitmap FromYuy2(const PreviewFrameFormat& f, std::string_view data) {
  const int w = f.width;
  const int h = std::abs(f.height);
  if (w % 2 != 0) return Bitmap();
  const size_t stride = static_cast<size_t>(w) * 2;
  if (data.size() < stride * static_cast<size_t>(h)) return Bitmap();
  Bitmap out(w, h);
  for (int y = 0; y < h; ++y) {
    const auto* in = reinterpret_cast<const uint8_t*>(data.data()) + stride * y;
    uint8_t* o = out.Row(y);
    for (int x = 0; x < w; x += 2, in += 4) {
      const int d = in[1] - 128;
      const int e = in[3] - 128;
      for (int k = 0; k < 2; ++k, o += 3) {
        const int c = 298 * (in[k * 2] - 16);
        o[0] = Clamp((c + 409 * e + 128) >> 8);
        o[1] = Clamp((c - 100 * d - 208 * e + 128) >> 8);
        o[2] = Clamp((c + 516 * d + 128) >> 8);
      }
    }
  }
  return out;
}

}  // namespace

Bitmap PreviewFrameToBitmap(const PreviewFrameFormat& format, std::string_view data) {
  const int h = std::abs(format.height);
  if (format.width <= 0 || h == 0 || format.width > kMaxBitmapDimension || h > kMaxBitmapDimension) {
    return Bitmap();
  }
  if (format.compression == 0 && (format.bit_count == 24 || format.bit_count == 32)) {
    return FromRgb(format, data);
  }
  if ((format.compression == FourCc('Y', 'U', 'Y', '2') ||
       format.compression == FourCc('Y', 'U', 'Y', 'V')) &&
      format.bit_count == 16) {
    return FromYuy2(format, data);
  }
  return Bitmap();
}

}  // namespace mirestal
