// The GBK helpers that need no conversion tables.
#include <algorithm>

#include "platform/gbk.h"

namespace mirestal {

// Both the OEM and the ANSI code page are 936 on the systems this program serves; the system's
// OemToCharBuffA would give the same bytes there, and other bytes elsewhere.
std::string OemToAnsi(std::string_view oem) { return std::string(oem); }
std::string AnsiToOem(std::string_view ansi) { return std::string(ansi); }

size_t GbkSafePrefixLength(std::string_view text, size_t max_bytes) {
  size_t i = 0;
  size_t limit = std::min(max_bytes, text.size());
  while (i < limit) {
    unsigned char c = text[i];
    size_t len = (c >= 0x81 && c <= 0xFE && i + 1 < text.size()) ? 2 : 1;
    if (i + len > limit) break;
    i += len;
  }
  return i;
}

}  // namespace mirestal
