// The picture of a preview frame as a capture driver hands it over: raw bytes in the format that
// the driver's bitmap header describes. The system's capture window gives its frames so, to the
// frame callback; the live face analysis wants them as a Bitmap.
#pragma once

#include <cstdint>
#include <string_view>

#include "capture/bitmap.h"

namespace mirestal {

// The fields of the driver's bitmap information header that the conversion needs.
struct PreviewFrameFormat {
  int width = 0;
  int height = 0;           // positive: RGB rows bottom-up; negative: top-down
  int bit_count = 0;
  uint32_t compression = 0;  // 0 (uncompressed RGB) or a four-character code
};

inline constexpr uint32_t FourCc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24;
}

// Uncompressed 24- and 32-bit RGB (blue first, rows padded to 4 bytes) and packed YUY2 / YUYV
// (BT.601 video range, rows top-down) become a Bitmap. Other formats (compressed ones such as
// MJPG), dimensions that are zero or absurd, and data shorter than the format promises give an
// empty Bitmap: the frame is then simply not analysed.
Bitmap PreviewFrameToBitmap(const PreviewFrameFormat& format, std::string_view data);

}  // namespace mirestal
