// Bitmap: a 24-bit RGB picture held top row first, and its BMP file form.
//
// Frames come back from the capture window as BMP files; photos are cut out of them as Bitmaps
// and handed to the JPEG encoder.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace mirestal {

// A BMP file that this reader does not accept. The message is always "Bitmap image is not valid".
class EInvalidGraphic : public std::runtime_error {
 public:
  EInvalidGraphic() : std::runtime_error("Bitmap image is not valid") {}
};

struct Bitmap {
  int width = 0;
  int height = 0;
  // width * height * 3 bytes: red, green, blue for each pixel; rows from the top down, no padding.
  std::vector<uint8_t> pixels;

  Bitmap() = default;
  // A width x height bitmap with every pixel white.
  Bitmap(int w, int h);

  bool empty() const { return width == 0 || height == 0; }
  uint8_t* Row(int y) { return pixels.data() + static_cast<size_t>(y) * width * 3; }
  const uint8_t* Row(int y) const { return pixels.data() + static_cast<size_t>(y) * width * 3; }
  uint8_t* At(int x, int y) { return Row(y) + static_cast<size_t>(x) * 3; }
  const uint8_t* At(int x, int y) const { return Row(y) + static_cast<size_t>(x) * 3; }
};

// Frames larger than this in either direction are refused as absurd.
inline constexpr int kMaxBitmapDimension = 32768;

// Reads a BMP file: an uncompressed 24- or 32-bit device-independent bitmap (BI_RGB, or
// BI_BITFIELDS with the usual 8-8-8 masks), bottom-up or top-down, with an information header of
// 40 bytes or one of its longer versions. Anything else, a file shorter than its header and
// pixels promise, or dimensions that are zero or absurd, raises EInvalidGraphic.
Bitmap ReadBmp(std::string_view file);

// Writes a 24-bit bottom-up BMP file (14-byte file header, 40-byte information header, rows
// padded to 4 bytes), as a capture window saves a grabbed frame.
std::string WriteBmp(const Bitmap& bitmap);

// The block copy of a w x h rectangle of `source` whose top-left corner is (x, y) into a new
// white w x h bitmap at (0, 0), without scaling. Source pixels outside `source` are not copied;
// the destination keeps its white there.
Bitmap CopyRect(const Bitmap& source, int x, int y, int w, int h);

}  // namespace mirestal
