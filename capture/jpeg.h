// Photo encoding and decoding over libjpeg (API 62). libjpeg's errors never end the process:
// they come back as EJpegError carrying libjpeg's own message.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "capture/bitmap.h"

namespace mirestal {

class EJpegError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The header promises a picture beyond the limits below; nothing was decoded.
class EJpegTooLarge : public EJpegError {
 public:
  using EJpegError::EJpegError;
};

// Photos are stored at this quality, baseline.
inline constexpr int kPhotoJpegQuality = 80;

// Headers that promise more than this are refused: either side above libjpeg's own limit of
// 65,500, or more pixels than any photo or camera frame this program handles could have
// (a 20-megapixel picture already needs 60 MB decoded).
inline constexpr int kMaxJpegDimension = 65500;
inline constexpr long long kMaxJpegPixels = 20'000'000;

// Encodes with jpeg_set_defaults and jpeg_set_quality(quality, force baseline) into memory, all
// tables written, rows top to bottom: a baseline JFIF file, YCbCr with 2x2 subsampled chroma.
// Throws EJpegError (for example for an empty bitmap).
std::string EncodeJpeg(const Bitmap& bitmap, int quality = kPhotoJpegQuality);

struct JpegHeader {
  int width = 0;
  int height = 0;
  int components = 0;
  bool grayscale = false;
  bool progressive = false;  // several scans
};

// Parses the header (jpeg_read_header) from memory. Throws EJpegError when libjpeg rejects it or
// when it promises an absurd picture (see the limits above).
JpegHeader ReadJpegHeader(std::string_view file);

// A picture decoded as far as its data allows.
struct DecodedJpeg {
  Bitmap bitmap;         // full size; rows that could not be decoded are grey
  bool damaged = false;  // the data is cut short or corrupt (libjpeg warned or stopped)
  std::string problem;   // libjpeg's first message about the damage
};

// Decodes at full size with libjpeg's default decompression settings into RGB: greyscale is
// widened, CMYK and YCCK are converted (inverted CMYK when the file carries the Adobe marker, as
// the programs that write such files do). Only a header that cannot be read (or that promises an
// absurd picture) throws EJpegError; damaged or cut data gives what decodes, marked damaged.
DecodedJpeg DecodeJpegDetailed(std::string_view file);
// DecodeJpegDetailed at 1/scale_denom of the size (1, 2, 4 or 8; libjpeg scales while it
// decodes, so a reduced picture of a large file costs a fraction of the full decode). The size
// is the header's divided by scale_denom, rounded up.
DecodedJpeg DecodeJpegScaled(std::string_view file, int scale_denom);
// DecodeJpegDetailed's picture: what the photo panel draws.
Bitmap DecodeJpeg(std::string_view file);

}  // namespace mirestal
