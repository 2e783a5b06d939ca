// Conversions of the dataset's value texts into cell values. They accept exactly the forms that
// the dataset's AsString produces (platform/locale.h conventions): decimal numbers with "." and
// an optional exponent ("1E20"), dates "yyyy/M/d", date-times "yyyy/M/d H:mm:ss".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mirestal::xls {

// A finite number, or nullopt when the text is not a number.
std::optional<double> ParseNumber(std::string_view text);

// An integer that a double holds exactly; nullopt when the text is not a 64-bit integer or its
// value would be rounded as a double (beyond 2^53 with low bits set).
enum class BigintParse { kExact, kNotExact, kNotInteger };
BigintParse ParseBigint(std::string_view text, double* value);

struct DateTimeParts {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  // Days since 1899-12-30, the fraction being the time of day.
  double Serial() const;
};
// "yyyy/M/d", optionally followed by one space and "H:mm" or "H:mm:ss"; or a time alone.
std::optional<DateTimeParts> ParseDateTime(std::string_view text);

// The date-time formatted with a format string of the usual date-time letters: y yy yyyy,
// m mm mmm mmmm (minutes right after h or hh), d dd, h hh, n nn, s ss, text in quotes; any other
// character stands for itself.
std::string FormatDateTimeText(std::string_view format, const DateTimeParts& value);

// The standard rule for boolean texts: a number, or "true" / "false" in any letter case.
bool IsBooleanText(std::string_view text);

// Letter-case-insensitive equality of GBK texts: ASCII letters fold, double-byte characters
// compare exactly (their second byte may look like a letter).
bool SameTextGbk(std::string_view a, std::string_view b);

}  // namespace mirestal::xls
