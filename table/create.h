// Creating a new, empty table file.
#pragma once

#include <string>
#include <vector>

#include "platform/file.h"

namespace mirestal {

struct TFieldDef {
  std::string name;  // GBK bytes
  char type = 'C';   // C, N, D, L or M
  int length = 0;    // C: 1-254; N: 1-20; D, L and M take their fixed lengths (8, 1, 10)
  int decimals = 0;  // N only: 0, or at most length - 2
  bool operator==(const TFieldDef&) const = default;
};

// Creates the dBASE IV table `path` with `fields` and no records: version 0x03, or 0x8B with an
// empty memo file (.dbt, 512-byte blocks) beside it when a field is M. Names lose blanks at both
// ends, are cut to 10 bytes without splitting a GBK character and made unique ignoring ASCII
// case (a clash gets "_2", "_3", ... in place of its last bytes); the code page mark is GBK's.
// Returns the fields as written. Refuses (ETableError, nothing written) an existing table or
// memo file, an empty list, more than 255 fields, an empty name, a name holding a control
// character, an unknown type and a length or decimals outside the ranges above. A failure while
// writing removes what was created.
std::vector<TFieldDef> CreateTable(const std::string& path, std::vector<TFieldDef> fields,
                                   FileSystem& fs = FileSystem::Default());

}  // namespace mirestal
