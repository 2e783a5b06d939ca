#include <errno.h>
#include <iconv.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/gbk.h"

namespace mirestal {
namespace {

// One iconv descriptor per direction and thread, opened on first use.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts as much as possible. Returns false on an invalid or incomplete sequence, with
  // *in advanced to it; `out` receives everything converted before it.
  bool Convert(const char** in, size_t* in_left, std::string* out, int* err) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[4096];
    while (*in_left > 0) {
      char* dst = buffer;
      size_t dst_left = sizeof buffer;
      size_t r = iconv(cd_, const_cast<char**>(in), in_left, &dst, &dst_left);
      out->append(buffer, dst - buffer);
      if (r == static_cast<size_t>(-1)) {
        if (errno == E2BIG) continue;
        *err = errno;
        return false;
      }
    }
    return true;
  }

 private:
  iconv_t cd_;
};

Converter& Utf8ToGbkConverter() {
  thread_local Converter c("GBK", "UTF-8");
  return c;
}

// The decoding tables, built once from iconv at first use. A byte is ASCII-like (decodes alone),
// a lead byte, or invalid; a lead byte and a trail byte decode together when iconv takes the
// pair, else the lead byte alone becomes U+FFFD and decoding goes on at the trail byte, which is
// what a call of iconv per text gives.
class GbkTables {
 public:
  static const GbkTables& Get() {
    static const GbkTables tables;
    return tables;
  }

  // UTF-8 of one character packed little end first, its length in the top byte; 0 = none.
  uint32_t Single(unsigned char c) const { return single_[c]; }
  bool IsLead(unsigned char c) const { return lead_[c]; }
  uint32_t Pair(unsigned char lead, unsigned char trail) const {
    return pairs_[static_cast<size_t>(lead & 0x7F) << 8 | trail];
  }

 private:
  GbkTables() : pairs_(128 * 256, 0) {
    iconv_t cd = iconv_open("UTF-8", "GBK");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
      throw std::runtime_error("iconv cannot convert from GBK to UTF-8");
    }
    for (int c = 0; c < 256; ++c) {
      char in[1] = {static_cast<char>(c)};
      int err = 0;
      single_[c] = DecodeOne(cd, in, 1, &err);
      lead_[c] = c >= 0x80 && single_[c] == 0 && err == EINVAL;
    }
    for (int lead = 0; lead < 256; ++lead) {
      if (!lead_[lead]) continue;
      for (int trail = 0; trail < 256; ++trail) {
        char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        int err = 0;
        pairs_[static_cast<size_t>(lead & 0x7F) << 8 | trail] = DecodeOne(cd, in, 2, &err);
      }
    }
    iconv_close(cd);
  }

  // The packed UTF-8 of `in` when iconv decodes all of it to one character, else 0 with the
  // errno of the failure in *err.
  static uint32_t DecodeOne(iconv_t cd, char* in, size_t size, int* err) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char out[8];
    char* src = in;
    char* dst = out;
    size_t in_left = size, out_left = sizeof out;
    if (iconv(cd, &src, &in_left, &dst, &out_left) == static_cast<size_t>(-1)) {
      *err = errno;
      return 0;
    }
    const size_t n = static_cast<size_t>(dst - out);
    if (in_left != 0 || n == 0 || n > 3) return 0;
    uint32_t packed = static_cast<uint32_t>(n) << 24;
    for (size_t i = 0; i < n; ++i) {
      packed |= static_cast<uint32_t>(static_cast<uint8_t>(out[i])) << (8 * i);
    }
    return packed;
  }

  uint32_t single_[256];
  bool lead_[256];
  std::vector<uint32_t> pairs_;  // lead bytes 0x80-0xFF by trail byte
};

static_assert(std::endian::native == std::endian::little, "packed UTF-8 is stored low byte first");
constexpr uint32_t kReplacementPacked = 0x03BDBFEF;  // EF BF BD

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace

char* GbkToUtf8Into(std::string_view gbk, char* dst) {
  const auto* p = reinterpret_cast<const unsigned char*>(gbk.data());
  const auto* end = p + gbk.size();
  const GbkTables* tables = nullptr;
  while (p < end) {
    if (*p < 0x80) {
      *dst++ = static_cast<char>(*p++);
      continue;
    }
    if (!tables) tables = &GbkTables::Get();
    uint32_t packed = tables->Single(*p);
    if (packed != 0) {
      ++p;
    } else if (tables->IsLead(*p) && p + 1 < end && (packed = tables->Pair(p[0], p[1])) != 0) {
      p += 2;
    } else {
      // Invalid, or a lead byte whose pair iconv refuses (it loses only its first byte), or a
      // lead byte cut at the end.
      packed = kReplacementPacked;
      ++p;
    }
    std::memcpy(dst, &packed, 4);  // little-endian: the UTF-8 bytes first
    dst += packed >> 24;
  }
  return dst;
}

void AppendGbkAsUtf8(std::string_view gbk, std::string* out) {
  const size_t start = out->size();
  out->resize(start + kGbkToUtf8Room * gbk.size() + 1);
  char* end = GbkToUtf8Into(gbk, out->data() + start);
  out->resize(static_cast<size_t>(end - out->data()));
}

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  std::string out;
  AppendGbkAsUtf8(gbk, &out);
  return out;
}

namespace {

// Appends the UTF-16 form of valid UTF-8 text.
void Utf8ToUtf16(std::string_view s, std::u16string* out) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = s[i];
    char32_t cp;
    int extra;
    if (c < 0x80) {
      cp = c;
      extra = 0;
    } else if ((c & 0xE0) == 0xC0) {
      cp = c & 0x1F;
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      cp = c & 0x0F;
      extra = 2;
    } else {
      cp = c & 0x07;
      extra = 3;
    }
    ++i;
    for (int k = 0; k < extra && i < s.size(); ++k, ++i) cp = (cp << 6) | (s[i] & 0x3F);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
  }
}

// UTF-16 to UTF-8; nullopt on an unpaired surrogate.
std::optional<std::string> Utf16ToUtf8(std::u16string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00) {
      if (i + 1 >= s.size() || s[i + 1] < 0xDC00 || s[i + 1] >= 0xE000) return std::nullopt;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[++i] - 0xDC00);
    } else if (cp >= 0xDC00 && cp < 0xE000) {
      return std::nullopt;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) {
  std::u16string out;
  out.reserve(gbk.size());
  if (IsAscii(gbk)) {
    for (unsigned char c : gbk) out.push_back(c);
    return out;
  }
  Utf8ToUtf16(GbkToUtf8(gbk), &out);
  return out;
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  std::string out;
  const char* in = utf8.data();
  size_t left = utf8.size();
  int err = 0;
  if (!Utf8ToGbkConverter().Convert(&in, &left, &out, &err)) return std::nullopt;
  return out;
}

std::optional<std::string> Utf16ToGbk(std::u16string_view utf16) {
  auto utf8 = Utf16ToUtf8(utf16);
  if (!utf8) return std::nullopt;
  return Utf8ToGbk(*utf8);
}

std::string Utf8ToGbkLossy(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  std::string out;
  const char* in = utf8.data();
  size_t left = utf8.size();
  while (left > 0) {
    int err = 0;
    if (Utf8ToGbkConverter().Convert(&in, &left, &out, &err)) break;
    out += '?';
    // Skip the whole UTF-8 sequence that did not convert.
    size_t skip = 1;
    while (skip < left && (static_cast<unsigned char>(in[skip]) & 0xC0) == 0x80) ++skip;
    in += skip;
    left -= skip;
  }
  return out;
}

}  // namespace mirestal
