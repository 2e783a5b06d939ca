#include <errno.h>
#include <iconv.h>

#include <cstring>
#include <stdexcept>

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

Converter& GbkToUtf8Converter() {
  thread_local Converter c("UTF-8", "GBK");
  return c;
}
Converter& Utf8ToGbkConverter() {
  thread_local Converter c("GBK", "UTF-8");
  return c;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

constexpr char kReplacementUtf8[] = "\xEF\xBF\xBD";

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  std::string out;
  out.reserve(gbk.size() * 3 / 2);
  const char* in = gbk.data();
  size_t left = gbk.size();
  while (left > 0) {
    int err = 0;
    if (GbkToUtf8Converter().Convert(&in, &left, &out, &err)) break;
    out += kReplacementUtf8;
    // An invalid sequence loses its first byte; a cut one at the end loses the rest.
    size_t skip = err == EINVAL ? left : 1;
    in += skip;
    left -= skip;
  }
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
