#include "platform/text.h"

namespace mirestal {
namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether `needle` matches `hay` at `pos`. A double-byte character of the needle lines up with
// one of the hay because the match starts at a character start and the bytes before it agree.
bool MatchesAt(std::string_view hay, size_t pos, std::string_view needle, bool fold_case) {
  if (needle.size() > hay.size() - pos) return false;
  for (size_t i = 0; i < needle.size(); ++i) {
    const char h = hay[pos + i], n = needle[i];
    if (IsGbkLeadByte(static_cast<unsigned char>(n)) && i + 1 < needle.size()) {
      if (h != n || hay[pos + i + 1] != needle[i + 1]) return false;
      ++i;
      continue;
    }
    // A single byte (or a cut lead byte at the needle's end) never matches half of a
    // double-byte character of the hay.
    if (IsGbkLeadByte(static_cast<unsigned char>(h)) && pos + i + 1 < hay.size()) return false;
    if (fold_case ? UpperAscii(h) != UpperAscii(n) : h != n) return false;
  }
  return true;
}

// Length of the character that starts at `pos`.
size_t CharLength(std::string_view text, size_t pos) {
  return IsGbkLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

}  // namespace

std::string_view TrimView(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

std::string Trim(std::string_view text) { return std::string(TrimView(text)); }

std::string FoldCaseGbk(std::string_view text) {
  std::string out(text);
  for (size_t i = 0; i < out.size(); i += CharLength(out, i)) out[i] = UpperAscii(out[i]);
  return out;
}

size_t FindGbk(std::string_view hay, std::string_view needle, bool fold_case) {
  for (size_t pos = 0; pos <= hay.size(); pos += pos < hay.size() ? CharLength(hay, pos) : 1) {
    if (MatchesAt(hay, pos, needle, fold_case)) return pos;
  }
  return std::string_view::npos;
}

bool StartsWithGbk(std::string_view text, std::string_view prefix, bool fold_case) {
  return MatchesAt(text, 0, prefix, fold_case);
}

}  // namespace mirestal
