// Byte-level text rules shared by the table engine, the workbook writer, the capture code and the
// tools: trimming, and letter-case folding and searching in GBK text, where the trail byte of a
// double-byte character may look like an ASCII letter and must never be taken for one.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mirestal {

// Removes bytes of code 32 and below (blanks and control characters) at both ends.
std::string_view TrimView(std::string_view text);
std::string Trim(std::string_view text);

// True when the byte starts a double-byte GBK character (0x81-0xFE) that has its trail byte
// within the text.
inline bool IsGbkLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

// ASCII letters upper-cased; double-byte characters (lead byte and the byte after it) copied
// untouched. A lead byte at the very end is copied as it is.
std::string FoldCaseGbk(std::string_view text);

// Position of the first occurrence of `needle` in `hay` that starts at a character start of
// `hay` (never at a trail byte), or npos. With `fold_case`, ASCII letters match in either case;
// double-byte characters always match exactly. An empty needle matches at 0.
size_t FindGbk(std::string_view hay, std::string_view needle, bool fold_case);
// Whether `text` begins with `prefix` under the same rules.
bool StartsWithGbk(std::string_view text, std::string_view prefix, bool fold_case);

}  // namespace mirestal
