#include "capture/bitmap.h"

#include <algorithm>
#include <cstring>

namespace mirestal {
namespace {

// BMP layout (little-endian):
//   file header, 14 bytes: "BM", u32 file size, u16 u16 reserved, u32 offset of the pixels
//   information header, >= 40 bytes: u32 header size, i32 width, i32 height (negative: rows top
//     down), u16 planes (1), u16 bits per pixel, u32 compression (0 BI_RGB, 3 BI_BITFIELDS),
//     u32 image size, i32 i32 resolution, u32 colours used, u32 important colours;
//     with BI_BITFIELDS three u32 masks (red, green, blue) follow the 40 bytes.
constexpr size_t kFileHeaderSize = 14;
constexpr size_t kInfoHeaderSize = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

uint32_t U32(std::string_view s, size_t at) {
  auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(s[at + i])); };
  return b(0) | b(1) << 8 | b(2) << 16 | b(3) << 24;
}
uint16_t U16(std::string_view s, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}
void PutU32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}
void PutU16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v));
  s.push_back(static_cast<char>(v >> 8));
}

}  // namespace

Bitmap::Bitmap(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h * 3, 0xFF) {}

Bitmap ReadBmp(std::string_view file) {
  if (file.size() < kFileHeaderSize + kInfoHeaderSize || file[0] != 'B' || file[1] != 'M') {
    throw EInvalidGraphic();
  }
  const uint64_t pixel_offset = U32(file, 10);
  const uint32_t header_size = U32(file, 14);
  // 40 = BITMAPINFOHEADER; 52, 56, 108 and 124 are its longer versions with the same start.
  if (header_size != 40 && header_size != 52 && header_size != 56 && header_size != 108 &&
      header_size != 124) {
    throw EInvalidGraphic();
  }
  if (file.size() < kFileHeaderSize + header_size) throw EInvalidGraphic();
  const int32_t width = static_cast<int32_t>(U32(file, 18));
  const int32_t raw_height = static_cast<int32_t>(U32(file, 22));
  const uint16_t planes = U16(file, 26);
  const uint16_t bits = U16(file, 28);
  const uint32_t compression = U32(file, 30);
  if (planes != 1 || (bits != 24 && bits != 32)) throw EInvalidGraphic();
  if (compression == kBiBitfields) {
    // Only the plain 8-bit channels are taken; other masks would need real bit-field decoding.
    size_t masks = kFileHeaderSize + kInfoHeaderSize;
    if (bits != 32 || file.size() < masks + 12 || U32(file, masks) != 0x00FF0000u ||
        U32(file, masks + 4) != 0x0000FF00u || U32(file, masks + 8) != 0x000000FFu) {
      throw EInvalidGraphic();
    }
  } else if (compression != kBiRgb) {
    throw EInvalidGraphic();
  }
  if (raw_height == INT32_MIN) throw EInvalidGraphic();
  const bool top_down = raw_height < 0;
  const int64_t height = top_down ? -static_cast<int64_t>(raw_height) : raw_height;
  if (width <= 0 || height <= 0 || width > kMaxBitmapDimension || height > kMaxBitmapDimension) {
    throw EInvalidGraphic();
  }
  const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
  if (pixel_offset < kFileHeaderSize + header_size || pixel_offset > file.size() ||
      stride * height > file.size() - pixel_offset) {
    throw EInvalidGraphic();
  }

  Bitmap bitmap;
  bitmap.width = width;
  bitmap.height = static_cast<int>(height);
  bitmap.pixels.resize(static_cast<size_t>(width) * height * 3);
  const size_t step = bits / 8;
  for (int y = 0; y < bitmap.height; ++y) {
    const int file_row = top_down ? y : bitmap.height - 1 - y;
    const auto* src =
        reinterpret_cast<const uint8_t*>(file.data()) + pixel_offset + stride * file_row;
    uint8_t* dst = bitmap.Row(y);
    for (int x = 0; x < width; ++x, src += step, dst += 3) {
      dst[0] = src[2];
      dst[1] = src[1];
      dst[2] = src[0];
    }
  }
  return bitmap;
}

std::string WriteBmp(const Bitmap& bitmap) {
  const uint32_t stride = (static_cast<uint32_t>(bitmap.width) * 24 + 31) / 32 * 4;
  const uint32_t image_size = stride * static_cast<uint32_t>(bitmap.height);
  const uint32_t offset = kFileHeaderSize + kInfoHeaderSize;
  std::string out;
  out.reserve(offset + image_size);
  out += "BM";
  PutU32(out, offset + image_size);
  PutU32(out, 0);
  PutU32(out, offset);
  PutU32(out, kInfoHeaderSize);
  PutU32(out, static_cast<uint32_t>(bitmap.width));
  PutU32(out, static_cast<uint32_t>(bitmap.height));
  PutU16(out, 1);
  PutU16(out, 24);
  PutU32(out, kBiRgb);
  PutU32(out, image_size);
  PutU32(out, 0);
  PutU32(out, 0);
  PutU32(out, 0);
  PutU32(out, 0);
  std::string row(stride, '\0');
  for (int y = bitmap.height - 1; y >= 0; --y) {
    const uint8_t* src = bitmap.Row(y);
    for (int x = 0; x < bitmap.width; ++x, src += 3) {
      row[3 * x] = static_cast<char>(src[2]);
      row[3 * x + 1] = static_cast<char>(src[1]);
      row[3 * x + 2] = static_cast<char>(src[0]);
    }
    out += row;
  }
  return out;
}

Bitmap CopyRect(const Bitmap& source, int x, int y, int w, int h) {
  Bitmap crop(std::max(w, 0), std::max(h, 0));
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = std::min(x + crop.width, source.width);
  const int y1 = std::min(y + crop.height, source.height);
  if (x0 >= x1 || y0 >= y1) return crop;
  for (int sy = y0; sy < y1; ++sy) {
    std::memcpy(crop.At(x0 - x, sy - y), source.At(x0, sy), static_cast<size_t>(x1 - x0) * 3);
  }
  return crop;
}

}  // namespace mirestal
