// The proleptic Gregorian calendar as day numbers: days since 1970-01-01 (negative before it).
// Date serials of the table engine and the workbook are these day numbers plus 25,569 (serial 0
// is 1899-12-30).
#pragma once

#include <cstdint>

namespace mirestal {

// REQUIRES: 1 <= m <= 12; d may run past the month's end (the count simply goes on).
int64_t DaysFromCivil(int y, int m, int d);
void CivilFromDays(int64_t days, int* y, int* m, int* d);

}  // namespace mirestal
