#include "platform/gbk.h"

#include <errno.h>
#include <gtest/gtest.h>
#ifndef _WIN32  // iconv is the reference decoder on Linux
#include <iconv.h>
#endif

#include <random>

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

#ifndef _WIN32
// What one iconv call per text gives: an invalid sequence loses its first byte to U+FFFD, a cut
// one at the end loses the rest.
std::string DecodeWithIconv(std::string_view gbk) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  std::string out;
  char* in = const_cast<char*>(gbk.data());
  size_t left = gbk.size();
  while (left > 0) {
    char buffer[256];
    char* dst = buffer;
    size_t room = sizeof buffer;
    size_t r = iconv(cd, &in, &left, &dst, &room);
    out.append(buffer, dst - buffer);
    if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
    out += "\xEF\xBF\xBD";
    size_t skip = errno == EINVAL ? left : 1;
    in += skip;
    left -= skip;
  }
  iconv_close(cd);
  return out;
}

TEST(Gbk, TableDecoderGivesWhatIconvGives) {
  // Every byte pair, between ASCII neighbours and cut at the end.
  for (int lead = 0x80; lead < 0x100; ++lead) {
    for (int trail = 0; trail < 0x100; ++trail) {
      const std::string text = {'A', static_cast<char>(lead), static_cast<char>(trail), 'B'};
      ASSERT_EQ(GbkToUtf8(text), DecodeWithIconv(text)) << lead << " " << trail;
    }
    const std::string cut = {'A', static_cast<char>(lead)};
    ASSERT_EQ(GbkToUtf8(cut), DecodeWithIconv(cut)) << lead;
  }
  // Random runs mixing lead bytes, trail bytes and ASCII, appended to a reused buffer.
  std::mt19937 random(8);
  std::string buffer = "kept";
  std::string want = "kept";
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const int length = static_cast<int>(random() % 40);
    for (int i = 0; i < length; ++i) {
      text += static_cast<char>(random() % 3 ? 0x80 + random() % 128 : random() % 128);
    }
    AppendGbkAsUtf8(text, &buffer);
    want += DecodeWithIconv(text);
  }
  EXPECT_EQ(buffer, want);
}
#endif

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

// Where code page 936 and GBK part ways, both sides give GBK's answer: 0x80 is the euro sign,
// the user-defined areas (0xAAA1, 0xFE50) and unassigned codes (0xA2E3) are not characters.
TEST(Gbk, CodePageEdgesDecodeAndEncodeAlike) {
  EXPECT_EQ(GbkToUtf16("\x80"), u"\u20AC");
  EXPECT_EQ(Utf16ToGbk(u"\u20AC").value(), "\x80");
  // An invalid pair loses its first byte; what follows is read again.
  EXPECT_EQ(GbkToUtf16("\xAA\xA1"), u"\uFFFD\uFFFD");
  EXPECT_EQ(GbkToUtf16("\xFE\x50"), u"\uFFFDP");
  EXPECT_EQ(GbkToUtf16("\xA2\xE3"), u"\uFFFD\uFFFD");
  EXPECT_FALSE(Utf16ToGbk(u"\uE000").has_value());  // private use
  EXPECT_EQ(GbkToUtf16("\xA1\xA4"), u"\u00B7");
  EXPECT_EQ(GbkToUtf16("\x81\x7F"), u"\uFFFD\u007F");  // a trail byte out of range
}

TEST(Gbk, OemAnsiTranslationIsIdentity) {
  EXPECT_EQ(OemToAnsi(kKaoJiHaoGbk), kKaoJiHaoGbk);
  EXPECT_EQ(AnsiToOem(kKaoJiHaoGbk), kKaoJiHaoGbk);
}

}  // namespace
}  // namespace mirestal
