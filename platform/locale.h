// The locale conventions of a zh-CN desktop, fixed in one place so that dates, times and
// numbers render the same on every machine.
#pragma once

#include <string>

namespace mirestal::locale {

inline constexpr char kDecimalSeparator = '.';
inline constexpr char kThousandSeparator = ',';
inline constexpr const char* kShortDateFormat = "yyyy/M/d";
inline constexpr const char* kLongTimeFormat = "H:mm:ss";
inline constexpr const char* kShortTimeFormat = "H:mm";
// "￥" in UTF-8 and in GBK.
inline constexpr const char* kCurrencySymbolUtf8 = "\xEF\xBF\xA5";
inline constexpr const char* kCurrencySymbolGbk = "\xA3\xA4";
inline constexpr int kCurrencyDecimals = 2;
// Placement of the currency symbol for positive amounts: 0 symbol first, 1 symbol last,
// 2 symbol first with a space, 3 symbol last with a space.
inline constexpr int kCurrencyPositivePlacement = 0;

// "2023/1/5"
std::string FormatShortDate(int year, int month, int day);
// "9:05:07"
std::string FormatLongTime(int hour, int minute, int second);
// "2023/1/5 9:05:07"
std::string FormatDateTime(int year, int month, int day, int hour, int minute, int second);
// Shortest decimal text with at most 15 significant digits, as "%.15G" gives it but with
// exponents written "1E20", "1E-5" (the desktop's general number format).
std::string FormatFloat(double value);
// "￥1,234.50" (UTF-8), negative as "-￥1,234.50".
std::string FormatCurrencyUtf8(double value);

}  // namespace mirestal::locale
