#include "platform/locale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>

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

namespace mirestal::locale {
namespace {

// The reference: "%.15G" with the exponent rewritten as "1E20" / "1E-5".
std::string Reference(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.15G", v);
  std::string s(buf);
  size_t e = s.find('E');
  if (e == std::string::npos) return s;
  std::string exp = s.substr(e + 1);
  bool negative = exp[0] == '-';
  size_t digits = exp.find_first_not_of("+-0");
  return s.substr(0, e) + "E" + (negative ? "-" : "") +
         (digits == std::string::npos ? "0" : exp.substr(digits));
}

TEST(Locale, FormatFloatMatchesFifteenSignificantDigits) {
  EXPECT_EQ(FormatFloat(3.14), "3.14");
  EXPECT_EQ(FormatFloat(1e20), "1E20");
  EXPECT_EQ(FormatFloat(1e-5), "1E-5");
  EXPECT_EQ(FormatFloat(1000000), "1000000");
  EXPECT_EQ(FormatFloat(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatFloat(-0.0), "0");
  std::mt19937_64 rng(42);
  for (int i = 0; i < 200000; ++i) {
    double v;
    switch (i % 4) {
      case 0: v = std::ldexp(static_cast<double>(rng() >> 11), -static_cast<int>(rng() % 80)); break;
      case 1: v = static_cast<double>(static_cast<int64_t>(rng() % 2000000001) - 1000000000) / 100; break;
      case 2: v = std::pow(10.0, static_cast<double>(rng() % 40) - 20) * (rng() % 1000); break;
      default: {
        uint64_t bits = rng();
        std::memcpy(&v, &bits, 8);
        if (!std::isfinite(v)) continue;
      }
    }
    if (v == 0) continue;
    ASSERT_EQ(FormatFloat(v), Reference(v)) << v;
  }
}

}  // namespace
}  // namespace mirestal::locale
