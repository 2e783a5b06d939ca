#include "platform/gbk.h"

#include <gtest/gtest.h>

namespace mirestal {
namespace {

const std::string kKaoJiHaoGbk = "\xBF\xBC\xBC\xAE\xBA\xC5";  // 考籍号

TEST(Gbk, RoundTripsChineseText) {
  EXPECT_EQ(GbkToUtf8(kKaoJiHaoGbk), "考籍号");
  EXPECT_EQ(GbkToUtf16(kKaoJiHaoGbk), u"考籍号");
  EXPECT_EQ(Utf8ToGbk("考籍号").value(), kKaoJiHaoGbk);
  EXPECT_EQ(Utf16ToGbk(u"考籍号 A1").value(), kKaoJiHaoGbk + " A1");
  EXPECT_EQ(GbkToUtf8("plain ascii"), "plain ascii");
}

TEST(Gbk, InvalidAndCutSequencesDecodeToReplacementCharacter) {
  EXPECT_EQ(GbkToUtf8("A\xFF" "B"), "A\xEF\xBF\xBD" "B");
  // A lead byte cut at the end of the text.
  EXPECT_EQ(GbkToUtf8("\xBF\xBC\xBF"), "考\xEF\xBF\xBD");
  EXPECT_EQ(GbkToUtf16("\xBF"), u"\uFFFD");
  // Arbitrary bytes never throw and always give valid UTF-8 back through the encoder.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  EXPECT_NO_THROW(GbkToUtf8(all));
  EXPECT_NO_THROW(GbkToUtf16(all + all.substr(0x81)));
}

TEST(Gbk, EncodingRefusesCharactersOutsideGbk) {
  EXPECT_FALSE(Utf8ToGbk("\xF0\x9F\x98\x80").has_value());  // an emoji
  EXPECT_FALSE(Utf16ToGbk(std::u16string(1, char16_t(0xD800))).has_value());  // lone surrogate
  EXPECT_EQ(Utf8ToGbkLossy("A\xF0\x9F\x98\x80" "考"), "A?\xBF\xBC");
}

TEST(Gbk, SafePrefixNeverCutsADoubleByteCharacter) {
  std::string text = "A" + kKaoJiHaoGbk;  // 7 bytes: A + three double-byte characters
  EXPECT_EQ(GbkSafePrefixLength(text, 7), 7u);
  EXPECT_EQ(GbkSafePrefixLength(text, 6), 5u);
  EXPECT_EQ(GbkSafePrefixLength(text, 2), 1u);
  EXPECT_EQ(GbkSafePrefixLength(text, 100), 7u);
}

TEST(Gbk, OemAnsiTranslationIsIdentity) {
  EXPECT_EQ(OemToAnsi(kKaoJiHaoGbk), kKaoJiHaoGbk);
  EXPECT_EQ(AnsiToOem(kKaoJiHaoGbk), kKaoJiHaoGbk);
}

}  // namespace
}  // namespace mirestal
