// What `check` and `package` share: the roster's students read for the photo check, and the
// printing of the check's report lines (capture/photo_report.h).
#pragma once

#include <string>
#include <vector>

#include "capture/photo_report.h"

namespace mirestal::cli {

struct RosterForCheck {
  std::vector<RosterStudent> students;  // every visible record, in roster order
  std::vector<bool> selected;           // per student: matches the FIELD=VALUE filter
};

// Opens `roster` read-only and reads key ("考籍号", required) and name ("姓名", when present) of
// every visible record. `filter` is empty or "FIELD=VALUE" (UTF-8; the field's trimmed text
// must equal VALUE); throws UsageError for a malformed filter and std::runtime_error for a
// missing field.
RosterForCheck ReadRosterForCheck(const std::string& roster, const std::string& filter = "");

// The value of "--max-kb N" in bytes: a whole number of kilobytes, 1 to 1,048,576.
uint64_t ParseMaxKb(const std::string& text);

// Prints lines to standard output, the parts of a problem line separated by tabs.
void PrintLine(const std::string& line);
void PrintLine(const ReportLine& line);

}  // namespace mirestal::cli
