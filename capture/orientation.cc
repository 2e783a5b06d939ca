#include "capture/orientation.h"

#include <cstdint>

namespace mirestal {
namespace {

// The TIFF structure inside the Exif segment, in its own byte order.
class Tiff {
 public:
  explicit Tiff(std::string_view data) : d_(data) {}
  bool Init() {
    if (d_.size() < 8) return false;
    if (d_.substr(0, 4) == std::string_view("II*\0", 4)) {
      little_ = true;
    } else if (d_.substr(0, 4) == std::string_view("MM\0*", 4)) {
      little_ = false;
    } else {
      return false;
    }
    return true;
  }
  bool U16(size_t at, unsigned* out) const {
    if (at > d_.size() || d_.size() - at < 2) return false;
    const auto b = [&](size_t i) { return static_cast<unsigned>(static_cast<uint8_t>(d_[at + i])); };
    *out = little_ ? b(0) | b(1) << 8 : b(0) << 8 | b(1);
    return true;
  }
  bool U32(size_t at, uint32_t* out) const {
    unsigned a = 0, b = 0;
    if (!U16(at, &a) || !U16(at + 2, &b)) return false;
    *out = little_ ? (b << 16 | a) : (a << 16 | b);
    return true;
  }

 private:
  std::string_view d_;
  bool little_ = true;
};

int OrientationInTiff(std::string_view tiff_bytes) {
  Tiff tiff(tiff_bytes);
  uint32_t ifd = 0;
  unsigned count = 0;
  if (!tiff.Init() || !tiff.U32(4, &ifd) || !tiff.U16(ifd, &count)) return kOrientationUpright;
  for (unsigned i = 0; i < count; ++i) {
    const size_t entry = static_cast<size_t>(ifd) + 2 + 12 * static_cast<size_t>(i);
    unsigned tag = 0, type = 0, value = 0;
    if (!tiff.U16(entry, &tag) || !tiff.U16(entry + 2, &type)) break;
    if (tag != 0x0112) continue;
    // A SHORT: the value sits in the first two bytes of the value field.
    if (type != 3 || !tiff.U16(entry + 8, &value)) break;
    return value >= 1 && value <= 8 ? static_cast<int>(value) : kOrientationUpright;
  }
  return kOrientationUpright;
}

}  // namespace

int JpegExifOrientation(std::string_view jpeg) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(jpeg[i]); };
  if (jpeg.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8) return kOrientationUpright;
  size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    if (byte(at) != 0xFF) return kOrientationUpright;
    const uint8_t marker = byte(at + 1);
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    // Start of scan or end of picture: no Exif block before the picture data.
    if (marker == 0xDA || marker == 0xD9) return kOrientationUpright;
    const size_t length = static_cast<size_t>(byte(at + 2)) << 8 | byte(at + 3);
    if (length < 2 || jpeg.size() - (at + 2) < length) return kOrientationUpright;
    const std::string_view body = jpeg.substr(at + 4, length - 2);
    if (marker == 0xE1 && body.substr(0, 6) == std::string_view("Exif\0\0", 6)) {
      return OrientationInTiff(body.substr(6));
    }
    at += 2 + length;
  }
  return kOrientationUpright;
}

Bitmap OrientUpright(Bitmap stored, int orientation) {
  if (orientation < 2 || orientation > 8) return stored;
  const int w = stored.width, h = stored.height;
  const bool swap = OrientationSwapsSides(orientation);
  Bitmap out;
  out.width = swap ? h : w;
  out.height = swap ? w : h;
  out.pixels.resize(stored.pixels.size());
  for (int y = 0; y < out.height; ++y) {
    uint8_t* o = out.Row(y);
    for (int x = 0; x < out.width; ++x, o += 3) {
      int sx = x, sy = y;
      switch (orientation) {
        case 2: sx = w - 1 - x; break;
        case 3: sx = w - 1 - x; sy = h - 1 - y; break;
        case 4: sy = h - 1 - y; break;
        case 5: sx = y; sy = x; break;
        case 6: sx = y; sy = h - 1 - x; break;
        case 7: sx = w - 1 - y; sy = h - 1 - x; break;
        case 8: sx = w - 1 - y; sy = x; break;
      }
      const uint8_t* p = stored.At(sx, sy);
      o[0] = p[0];
      o[1] = p[1];
      o[2] = p[2];
    }
  }
  return out;
}

}  // namespace mirestal
