// How the program opens a student roster, in one place so that no caller forgets a setting.
#pragma once

#include <string>

#include "table/dataset.h"

namespace mirestal {

// Sets `ds` up for the roster at `path` (UTF-8): held exclusively (no other program writes it
// while it is open, so the kept row index stays exact), flushed after every write, exact
// record count. Does not open it. Read-only callers set ReadOnly afterwards.
void ConfigureRoster(TTableDataSet& ds, const std::string& path);

}  // namespace mirestal
