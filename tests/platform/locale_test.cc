#include "platform/locale.h"

#include <gtest/gtest.h>

namespace mirestal::locale {
namespace {

TEST(Locale, ZhCnDateTimeAndCurrencyForms) {
  EXPECT_EQ(FormatShortDate(2023, 1, 5), "2023/1/5");
  EXPECT_EQ(FormatShortDate(987, 12, 31), "0987/12/31");
  EXPECT_EQ(FormatLongTime(9, 5, 7), "9:05:07");
  EXPECT_EQ(FormatDateTime(2023, 1, 5, 0, 0, 0), "2023/1/5 0:00:00");
  EXPECT_EQ(FormatCurrencyUtf8(1234.5), "￥1,234.50");
  EXPECT_EQ(FormatCurrencyUtf8(-2.5), "-￥2.50");
  EXPECT_EQ(FormatCurrencyUtf8(1234567), "￥1,234,567.00");
}

}  // namespace
}  // namespace mirestal::locale
