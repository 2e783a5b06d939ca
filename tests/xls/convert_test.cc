// Value texts of the dataset into cell values.
#include "xls/convert.h"

#include <gtest/gtest.h>

namespace mirestal::xls {
namespace {

TEST(ConvertTest, NumbersInTheDatasetsForms) {
  EXPECT_EQ(ParseNumber("12"), 12.0);
  EXPECT_EQ(ParseNumber("-3.25"), -3.25);
  EXPECT_EQ(ParseNumber("1E20"), 1e20);
  EXPECT_EQ(ParseNumber("1.5E-5"), 1.5e-5);
  EXPECT_EQ(ParseNumber("+7"), 7.0);
  EXPECT_EQ(ParseNumber(".5"), 0.5);
  for (const char* bad :
       {"", "-", "abc", "1,000", "1.2.3", "*****", "inf", "nan", "0x10", "1E", "12 ", "1e999"}) {
    EXPECT_FALSE(ParseNumber(bad).has_value()) << bad;
  }
}

TEST(ConvertTest, BigintsBeyond2To53AreExactOnlyWhenADoubleHoldsThem) {
  double v = 0;
  EXPECT_EQ(ParseBigint("9007199254740992", &v), BigintParse::kExact);  // 2^53
  EXPECT_EQ(v, 9007199254740992.0);
  EXPECT_EQ(ParseBigint("9007199254740993", &v), BigintParse::kNotExact);
  EXPECT_EQ(ParseBigint("-9007199254740993", &v), BigintParse::kNotExact);
  EXPECT_EQ(ParseBigint("1152921504606846976", &v), BigintParse::kExact);  // 2^60
  EXPECT_EQ(ParseBigint("9223372036854775807", &v), BigintParse::kNotExact);
  EXPECT_EQ(ParseBigint("99999999999999999999", &v), BigintParse::kNotExact);
  EXPECT_EQ(ParseBigint("12.5", &v), BigintParse::kNotInteger);
  EXPECT_EQ(ParseBigint("", &v), BigintParse::kNotInteger);
}

TEST(ConvertTest, DatesAndTimes) {
  auto d = ParseDateTime("1900/3/1");
  ASSERT_TRUE(d);
  EXPECT_EQ(d->Serial(), 61.0);
  EXPECT_EQ(ParseDateTime("1900/2/28")->Serial(), 60.0);
  EXPECT_EQ(ParseDateTime("1899/12/30")->Serial(), 0.0);
  EXPECT_EQ(ParseDateTime("2026/12/9")->Serial(), 46365.0);
  EXPECT_EQ(ParseDateTime("2026/12/9 12:00:00")->Serial(), 46365.5);
  EXPECT_EQ(ParseDateTime("1899/12/29 6:00:00")->Serial(), -1.25);
  EXPECT_EQ(ParseDateTime("18:00")->Serial(), 0.75);
  for (const char* bad : {"2023/2/29", "2023/13/1", "2023/1/0", "2023-01-05", "2023/1/5 25:00",
                          "2023/1/5  9:00", "abc", "2023/1/5x"}) {
    EXPECT_FALSE(ParseDateTime(bad).has_value()) << bad;
  }
}

TEST(ConvertTest, DateTimeTextFollowsTheFormatString) {
  DateTimeParts p{1899, 12, 30, 9, 5, 7};
  EXPECT_EQ(FormatDateTimeText("yyyy/M/d", p), "1899/12/30");
  EXPECT_EQ(FormatDateTimeText("yyyy/M/d H:mm", p), "1899/12/30 9:05");
  EXPECT_EQ(FormatDateTimeText("yy-mm-dd hh:nn:ss", p), "99-12-30 09:05:07");
  EXPECT_EQ(FormatDateTimeText("d mmm yyyy \"at\" h", p), "30 Dec 1899 at 9");
}

TEST(ConvertTest, BooleanTexts) {
  EXPECT_TRUE(IsBooleanText("true"));
  EXPECT_TRUE(IsBooleanText("FALSE"));
  EXPECT_TRUE(IsBooleanText("0"));
  EXPECT_FALSE(IsBooleanText("yes"));
  EXPECT_FALSE(IsBooleanText("T"));
}

TEST(ConvertTest, GbkTextsCompareWithoutRegardToAsciiCase) {
  EXPECT_TRUE(SameTextGbk("Name", "NAME"));
  EXPECT_TRUE(SameTextGbk("\xBF\xBC\xBC\xAE\xBA\xC5", "\xBF\xBC\xBC\xAE\xBA\xC5"));  // 考籍号
  // Second bytes that look like letters are not folded: 0x81 0x41 and 0x81 0x61 differ.
  EXPECT_FALSE(SameTextGbk("\x81\x41", "\x81\x61"));
  EXPECT_FALSE(SameTextGbk("a", "ab"));
}

}  // namespace
}  // namespace mirestal::xls
