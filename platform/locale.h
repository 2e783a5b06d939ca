// The locale conventions of a zh-CN desktop, fixed in one place so that dates, times and
// numbers render the same on every machine.
#pragma once

#include <string>

namespace mirestal::locale {

inline constexpr char kDecimalSeparator = '.';
inline constexpr char kThousandSeparator = ',';
inline constexpr const char* kShortDateFormat = "yyyy/M/d";
inline constexpr const char* kLongTimeFormat = "H:mm:ss";
// "￥" in UTF-8 and in GBK.
inline constexpr const char* kCurrencySymbolUtf8 = "\xEF\xBF\xA5";
inline constexpr const char* kCurrencySymbolGbk = "\xA3\xA4";
inline constexpr int kCurrencyDecimals = 2;

// "2023/1/5"
std::string FormatShortDate(int year, int month, int day);
// "9:05:07"
std::string FormatLongTime(int hour, int minute, int second);
// "2023/1/5 9:05:07"
std::string FormatDateTime(int year, int month, int day, int hour, int minute, int second);
// "￥1,234.50" (UTF-8), negative as "-￥1,234.50".
std::string FormatCurrencyUtf8(double value);

}  // namespace mirestal::locale
