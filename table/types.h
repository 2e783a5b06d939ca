// Small value types shared by the dataset and the table engine.
#pragma once

namespace mirestal {

// Record locking scheme of a table opened in shared mode (the byte ranges are in
// write_internal.h).
enum class TLockProtocol { Default, DB4Lock, ClipLock, FoxLock };

struct TDate {
  int year = 0, month = 0, day = 0;
  bool operator==(const TDate&) const = default;
};

// Days since 1899-12-30 (the spreadsheet serial) of a valid date.
double DateToSerial(const TDate& date);
// The civil date of a serial day (its fraction ignored).
TDate SerialToDate(double serial);
bool IsValidDate(int year, int month, int day);

}  // namespace mirestal
