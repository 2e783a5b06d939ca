// Text in the GBK code page (936) and its conversions to UTF-8 and UTF-16.
//
// Rosters, field names and messages are GBK bytes held in std::string. Decoding never fails:
// an invalid or cut sequence becomes U+FFFD. Encoding is strict: a character that GBK cannot
// hold makes the encoder report failure, so callers can refuse it with a message of their own.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mirestal {

// GBK bytes to UTF-8 / UTF-16. Invalid bytes and a cut trailing lead byte decode to U+FFFD.
// Decoding is table-driven: the tables are built from iconv once, at the first text that is not
// plain ASCII, and give what iconv gives.
std::string GbkToUtf8(std::string_view gbk);
std::u16string GbkToUtf16(std::string_view gbk);
// GbkToUtf8 appended to `out`, for loops that reuse one buffer.
void AppendGbkAsUtf8(std::string_view gbk, std::string* out);
// GbkToUtf8 written at `out`; returns the end of what was written. REQUIRES: `out` has room for
// kGbkToUtf8Room * gbk.size() + 1 bytes (the byte past the end may be overwritten).
inline constexpr size_t kGbkToUtf8Room = 3;
char* GbkToUtf8Into(std::string_view gbk, char* out);

// UTF-8 / UTF-16 to GBK. nullopt when a character has no GBK form or the input is not valid
// UTF-8 / UTF-16.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);
std::optional<std::string> Utf16ToGbk(std::u16string_view utf16);

// UTF-8 to GBK for texts that the program itself wrote (messages, captions): characters without
// a GBK form become '?'.
std::string Utf8ToGbkLossy(std::string_view utf8);

// The platform's OEM <-> ANSI translation of character values. Both code pages are 936 on the
// systems this program serves, so the translation is the identity for GBK text.
std::string OemToAnsi(std::string_view oem);
std::string AnsiToOem(std::string_view ansi);

// Length in bytes of a GBK prefix of `text` no longer than `max_bytes` that does not cut a
// double-byte character in half.
size_t GbkSafePrefixLength(std::string_view text, size_t max_bytes);

}  // namespace mirestal
