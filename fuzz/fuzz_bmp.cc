// The BMP reader on arbitrary bytes: it either refuses them with EInvalidGraphic or returns a
// bitmap that survives a round trip through the writer.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "capture/bitmap.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirestal;
  Bitmap bitmap;
  try {
    bitmap = ReadBmp(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const EInvalidGraphic&) {
    return 0;
  }
  if (bitmap.pixels.size() != static_cast<size_t>(bitmap.width) * bitmap.height * 3) std::abort();
  if (ReadBmp(WriteBmp(bitmap)).pixels != bitmap.pixels) std::abort();
  return 0;
}
