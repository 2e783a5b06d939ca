#include "capture/photo_match.h"

#include <map>

#include "platform/gbk.h"

namespace mirestal {
namespace {

// Blanks removed, ASCII letters upper-cased. UTF-8 in and out: folding byte by byte is safe
// there (no byte of a multi-byte character is ASCII), where GBK's trail bytes could be letters.
std::string Normalise(std::string_view utf8) {
  static constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80";
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    if (c <= 32 || c == 0x7F) continue;
    if (utf8.substr(i, 3) == kIdeographicSpace) {
      i += 2;
      continue;
    }
    out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
  }
  return out;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
  return s;
}

bool EndsWithNoCase(std::string_view s, std::string_view suffix) {
  if (s.size() < suffix.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    char a = s[s.size() - suffix.size() + i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != suffix[i]) return false;
  }
  return true;
}

// "(digits)" or "（digits）" at the end, with the blanks before it.
std::string_view WithoutNumberSuffix(std::string_view s) {
  s = TrimRight(s);
  for (const auto& [open, close] : {std::pair<std::string_view, std::string_view>{"(", ")"},
                                    {"\xEF\xBC\x88", "\xEF\xBC\x89"}}) {
    if (!s.ends_with(close)) continue;
    std::string_view inner = s.substr(0, s.size() - close.size());
    size_t digits = 0;
    while (digits < inner.size() && inner[inner.size() - 1 - digits] >= '0' &&
           inner[inner.size() - 1 - digits] <= '9') {
      ++digits;
    }
    inner.remove_suffix(digits);
    if (digits > 0 && inner.ends_with(open)) return TrimRight(inner.substr(0, inner.size() - open.size()));
  }
  return s;
}

}  // namespace

std::string_view FileStem(std::string_view file_name) {
  const size_t dot = file_name.rfind('.');
  return dot == std::string_view::npos || dot == 0 ? file_name : file_name.substr(0, dot);
}

std::string_view WithoutCopySuffix(std::string_view stem) {
  std::string_view s = WithoutNumberSuffix(stem);
  // Windows: "X - 副本", "X - Copy" (each possibly followed by " (2)", removed above); macOS:
  // "X copy".
  for (std::string_view word : {std::string_view("\xE5\x89\xAF\xE6\x9C\xAC"), std::string_view("copy")}) {
    if (!EndsWithNoCase(s, word)) continue;
    std::string_view before = TrimRight(s.substr(0, s.size() - word.size()));
    if (before.ends_with('-')) return TrimRight(before.substr(0, before.size() - 1));
    // Only "copy" stands after a blank alone; the Chinese word always follows " - ".
    if (word == "copy" && before.size() < s.size() - word.size()) return before;
  }
  return s;
}

StudentMatcher::StudentMatcher(const std::vector<RosterStudent>& students) {
  for (int i = 0; i < static_cast<int>(students.size()); ++i) {
    const std::string key = Normalise(GbkToUtf8(TrimKey(students[i].key_gbk)));
    if (!key.empty()) keys_.emplace(key, i);
    const std::string name = Normalise(GbkToUtf8(students[i].name_gbk));
    if (name.empty()) continue;
    const auto [it, added] = names_.emplace(name, i);
    if (!added) it->second = -2;
  }
}

PictureMatch StudentMatcher::MatchNormalised(std::string_view text) const {
  if (text.empty()) return {};
  const std::string key(text);
  if (auto it = keys_.find(key); it != keys_.end()) return {MatchKind::kKey, it->second};
  if (auto it = names_.find(key); it != names_.end()) {
    return it->second >= 0 ? PictureMatch{MatchKind::kName, it->second}
                           : PictureMatch{MatchKind::kAmbiguousName, -1};
  }
  return {};
}

PictureMatch StudentMatcher::MatchText(std::string_view text) const {
  // A name the roster cannot hold names no one, even if its look-alike is in the roster.
  if (!Utf8ToGbk(text)) return {MatchKind::kNotGbk, -1};
  return MatchNormalised(Normalise(text));
}

PictureMatch StudentMatcher::MatchFileName(std::string_view file_name) const {
  const std::string_view stem = FileStem(file_name);
  PictureMatch match = MatchText(stem);
  if (match.kind != MatchKind::kNone) return match;
  const std::string_view plain = WithoutCopySuffix(stem);
  return plain.size() == stem.size() ? match : MatchText(plain);
}

std::vector<int> DuplicateClaims(const std::vector<PictureMatch>& matches) {
  std::vector<int> out(matches.size(), -1);
  std::map<int, int> first;  // student -> first picture
  for (int i = 0; i < static_cast<int>(matches.size()); ++i) {
    if (matches[i].student < 0) continue;
    first.emplace(matches[i].student, i);
  }
  for (int i = 0; i < static_cast<int>(matches.size()); ++i) {
    if (matches[i].student < 0) continue;
    const int f = first[matches[i].student];
    if (f != i) {
      out[i] = f;
      if (out[f] < 0) out[f] = i;
    }
  }
  return out;
}

}  // namespace mirestal
