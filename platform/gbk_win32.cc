// GBK through the system's code page 936. Conversions go through tables built once from
// MultiByteToWideChar, so that decoding can be lenient character by character (U+FFFD for an
// invalid or cut sequence, as on Linux) and encoding strict (no best-fit substitutes, no
// default character): the system's own converters offer either all-or-nothing failure or
// silent replacement.
#include <array>
#include <memory>
#include <mutex>

#include "platform/gbk.h"
#include "platform/win32_util.h"

// <windows.h> defines these names as macros for its own OemToCharA/CharToOemA.
#undef OemToAnsi
#undef AnsiToOem

namespace mirestal {
namespace {

constexpr UINT kCodePage = 936;
constexpr char16_t kReplacement = 0xFFFD;

class Cp936Tables {
 public:
  Cp936Tables() {
    to_unicode_.fill(0);
    from_unicode_.fill(0);
    for (unsigned b = 0; b < 0x100; ++b) Learn(b, 1);
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
      for (unsigned trail = 0x40; trail <= 0xFE; ++trail) Learn(lead << 8 | trail, 2);
    }
  }

  // The character of a one-byte (code < 0x100) or two-byte code; 0 when the code is not one.
  char16_t Decode(unsigned code) const { return to_unicode_[code]; }
  // The code of a character; 0 when code page 936 has none.
  uint16_t Encode(char16_t c) const { return from_unicode_[c]; }

 private:
  void Learn(unsigned code, int length) {
    char bytes[2];
    if (length == 1) {
      bytes[0] = static_cast<char>(code);
    } else {
      bytes[0] = static_cast<char>(code >> 8);
      bytes[1] = static_cast<char>(code);
    }
    // A lead byte on its own is a cut character, whatever the converter makes of it.
    if (length == 1 && ::IsDBCSLeadByteEx(kCodePage, static_cast<BYTE>(code))) return;
    wchar_t out[2];
    int n = ::MultiByteToWideChar(kCodePage, MB_ERR_INVALID_CHARS, bytes, length, out, 2);
    // The user-defined areas and the unassigned codes map into the Private Use Area here; GBK
    // has no characters there, and Linux treats them as invalid, so this side does too.
    if (n != 1 || out[0] == 0 || (out[0] >= 0xD800 && out[0] < 0xF900)) return;
    Keep(code, out[0]);
  }
  void Keep(unsigned code, wchar_t c) {
    to_unicode_[code] = static_cast<char16_t>(c);
    if (from_unicode_[c] == 0) from_unicode_[c] = static_cast<uint16_t>(code);
  }

  std::array<char16_t, 0x10000> to_unicode_;
  std::array<uint16_t, 0x10000> from_unicode_;
};

const Cp936Tables& Tables() {
  static const auto* tables = new Cp936Tables();  // never destroyed: used during exit as well
  return *tables;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

bool IsAscii(std::u16string_view s) {
  for (char16_t c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::wstring w = win32::Widen(utf8);
  return std::u16string(w.begin(), w.end());
}

// Valid UTF-8 in, or nullopt (the converter's strict mode refuses bad bytes and surrogates).
std::optional<std::u16string> StrictUtf8ToUtf16(std::string_view utf8) {
  if (utf8.empty()) return std::u16string();
  int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                static_cast<int>(utf8.size()), nullptr, 0);
  if (n == 0) return std::nullopt;
  std::u16string out(static_cast<size_t>(n), u'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                        reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

// Encodes one UTF-16 unit sequence; a character without a GBK form (a surrogate included)
// makes the result nullopt, or '?' when `lossy`.
std::optional<std::string> Encode(std::u16string_view utf16, bool lossy) {
  const Cp936Tables& t = Tables();
  std::string out;
  out.reserve(utf16.size() * 2);
  for (size_t i = 0; i < utf16.size(); ++i) {
    char16_t c = utf16[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    uint16_t code = (c >= 0xD800 && c < 0xE000) ? 0 : t.Encode(c);
    if (code == 0) {
      if (!lossy) return std::nullopt;
      out += '?';
      // A pair of surrogates is one character.
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
          utf16[i + 1] < 0xE000) {
        ++i;
      }
      continue;
    }
    if (code > 0xFF) out += static_cast<char>(code >> 8);
    out += static_cast<char>(code);
  }
  return out;
}

}  // namespace

namespace {

// Calls emit(c) for every character of `gbk`: a double-byte character, or U+FFFD for the first
// byte of an invalid pair (only the lead byte is lost: the next byte may start a character) or
// of a cut one at the end.
template <typename Emit>
void DecodeGbk(std::string_view gbk, Emit emit) {
  const Cp936Tables& t = Tables();
  for (size_t i = 0; i < gbk.size();) {
    unsigned char c = gbk[i];
    if (c < 0x80) {
      emit(static_cast<char16_t>(c));
      ++i;
      continue;
    }
    if (char16_t single = t.Decode(c)) {
      emit(single);
      ++i;
      continue;
    }
    char16_t pair = i + 1 < gbk.size() ? t.Decode(c << 8 | static_cast<unsigned char>(gbk[i + 1]))
                                       : 0;
    emit(pair ? pair : kReplacement);
    i += pair ? 2 : 1;
  }
}

// UTF-8 of a character of the Basic Multilingual Plane (all GBK holds) at `out`.
char* PutUtf8(char16_t c, char* out) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

}  // namespace

std::u16string GbkToUtf16(std::string_view gbk) {
  std::u16string out;
  out.reserve(gbk.size());
  DecodeGbk(gbk, [&](char16_t c) { out.push_back(c); });
  return out;
}

char* GbkToUtf8Into(std::string_view gbk, char* out) {
  DecodeGbk(gbk, [&](char16_t c) { out = PutUtf8(c, out); });
  return out;
}

void AppendGbkAsUtf8(std::string_view gbk, std::string* out) {
  size_t at = out->size();
  out->resize(at + kGbkToUtf8Room * gbk.size() + 1);
  char* end = GbkToUtf8Into(gbk, out->data() + at);
  out->resize(static_cast<size_t>(end - out->data()));
}

std::string GbkToUtf8(std::string_view gbk) {
  if (IsAscii(gbk)) return std::string(gbk);
  std::string out;
  AppendGbkAsUtf8(gbk, &out);
  return out;
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  auto utf16 = StrictUtf8ToUtf16(utf8);
  if (!utf16) return std::nullopt;
  return Encode(*utf16, false);
}

std::optional<std::string> Utf16ToGbk(std::u16string_view utf16) {
  if (IsAscii(utf16)) return std::string(utf16.begin(), utf16.end());
  return Encode(utf16, false);
}

std::string Utf8ToGbkLossy(std::string_view utf8) {
  if (IsAscii(utf8)) return std::string(utf8);
  return *Encode(Utf8ToUtf16(utf8), true);
}

}  // namespace mirestal
