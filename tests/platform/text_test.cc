#include "platform/text.h"

#include <gtest/gtest.h>

#include "platform/calendar.h"

namespace mirestal {
namespace {

constexpr size_t npos = std::string_view::npos;

TEST(Text, TrimRemovesBlanksAndControlCharactersAtBothEnds) {
  EXPECT_EQ(TrimView(" \t 张 三\r\n"), "张 三");
  EXPECT_EQ(TrimView(std::string_view("\0A\x1F", 3)), "A");
  EXPECT_EQ(Trim("   "), "");
  // 0x80 and above are text, whatever they decode to.
  EXPECT_EQ(Trim(" \xA1\xA1 "), "\xA1\xA1");
}

TEST(Text, FoldCaseLeavesDoubleByteCharactersAlone) {
  EXPECT_EQ(FoldCaseGbk("kaoJiHao"), "KAOJIHAO");
  // 0x81 0x61 is one character whose trail byte looks like 'a'.
  EXPECT_EQ(FoldCaseGbk("a\x81\x61" "b"), "A\x81\x61" "B");
  EXPECT_EQ(FoldCaseGbk("a\x81"), "A\x81");  // a cut lead byte at the end
}

// 考 = BF BC, 号 = BA C5, 丁 = B6 A1; 0x81 0x41 / 0x81 0x61 have letter-like trail bytes.
TEST(Text, FindMatchesOnlyAtCharacterStarts) {
  struct Case {
    const char* hay;
    const char* needle;
    bool fold;
    size_t want;
  } cases[] = {
      {"\x81\x41", "A", false, npos},  // never the trail byte
      {"\x81\x61", "A", true, npos},
      {"\x81\x41" "A", "A", false, 2},
      {"x\x81\x61" "a", "a", true, 3},
      {"\xBF\xBC\xBA\xC5", "\xBC\xBA", false, npos},  // across two characters
      {"\xBF\xBC\xBA\xC5", "\xBA\xC5", false, 2},
      {"G3-\xB6\xA1", "g3-", true, 0},
      {"G3-\xB6\xA1", "g3-", false, npos},
      {"\x81\x41", "\x81\x61", true, npos},  // double-byte characters match exactly
      {"\xBF\xBC", "\xBF", false, npos},      // a cut lead byte is not half a character
      {"abc", "", true, 0},
      {"ab", "abc", true, npos},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindGbk(c.hay, c.needle, c.fold), c.want) << c.hay << " / " << c.needle;
  }
  EXPECT_TRUE(StartsWithGbk("True", "tr", true));
  EXPECT_FALSE(StartsWithGbk("True", "tr", false));
  EXPECT_FALSE(StartsWithGbk("\x81\x41", "\x81", false));
}

TEST(Calendar, DayNumbersRoundTripAcrossEras) {
  struct Case {
    int y, m, d;
    int64_t days;
  } cases[] = {
      {1970, 1, 1, 0},      {1899, 12, 30, -25569}, {2000, 2, 29, 11016},
      {2000, 3, 1, 11017},  {1, 1, 1, -719162},     {9999, 12, 31, 2932896},
      {1900, 3, 1, -25508}, {2026, 12, 9, 20796},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DaysFromCivil(c.y, c.m, c.d), c.days) << c.y << "-" << c.m << "-" << c.d;
  }
  int y, m, d;
  for (int64_t days = -719162; days <= 2932896; days += 997) {
    CivilFromDays(days, &y, &m, &d);
    ASSERT_EQ(DaysFromCivil(y, m, d), days);
    ASSERT_TRUE(m >= 1 && m <= 12 && d >= 1 && d <= 31);
  }
}

}  // namespace
}  // namespace mirestal
