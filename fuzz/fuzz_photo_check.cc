// The photo check on arbitrary bytes, as the folder check and the capture button's read-back run
// it: header, colour, ratio, size limit and the decode to the last pixel. Every failure must come
// back as a defect, never end the process or touch memory it should not; a photo passed as valid
// must decode completely at the size its header states.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "capture/jpeg.h"
#include "capture/photo_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace mirestal;
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  PhotoRules rules;
  rules.decode = false;
  const PhotoFileCheck shallow = CheckPhotoBytes(file, rules);
  if (shallow.bytes != size) std::abort();
  if (size == 0 && !shallow.Has(PhotoDefect::kEmpty)) std::abort();
  if (shallow.Has(PhotoDefect::kDamaged)) std::abort();  // nothing decoded
  PhotoDefectsText(shallow, rules);
  // Pictures the header makes huge are decoded by the real check as well, but too slowly for
  // a fuzzer; the header's limits are what the other target checks.
  if (static_cast<long long>(shallow.width) * shallow.height > 1'000'000) return 0;

  rules.decode = true;
  const PhotoFileCheck full = CheckPhotoBytes(file, rules);
  if (full.width != shallow.width || full.height != shallow.height) std::abort();
  if (full.Has(PhotoDefect::kOverLimit) != (size > rules.max_bytes)) std::abort();
  for (PhotoDefect d : shallow.defects) {
    if (d != PhotoDefect::kOverLimit && !full.Has(d)) std::abort();
  }
  PhotoDefectsText(full, rules);
  if (full.valid()) {
    // Baseline colour 3:4 that decoded without damage: the panel's decode draws all of it.
    if (full.colour != PhotoColour::kColour || full.progressive) std::abort();
    const DecodedJpeg decoded = DecodeJpegDetailed(file);
    if (decoded.damaged || decoded.bitmap.width != full.width ||
        decoded.bitmap.height != full.height) {
      std::abort();
    }
  }
  return 0;
}
