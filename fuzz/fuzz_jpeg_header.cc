// The JPEG header reader (and, for pictures of a modest size, the decoder) on arbitrary bytes:
// every failure must come back as EJpegError, never end the process or touch memory it should
// not.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "capture/jpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirestal;
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  JpegHeader header;
  try {
    header = ReadJpegHeader(file);
  } catch (const EJpegError&) {
    return 0;
  }
  if (header.width <= 0 || header.height <= 0 || header.width > kMaxJpegDimension ||
      header.height > kMaxJpegDimension ||
      static_cast<long long>(header.width) * header.height > kMaxJpegPixels) {
    std::abort();
  }
  if (static_cast<long long>(header.width) * header.height > 1'000'000) return 0;
  try {
    Bitmap b = DecodeJpeg(file);
    if (b.width != header.width || b.height != header.height) std::abort();
  } catch (const EJpegError&) {
  }
  return 0;
}
