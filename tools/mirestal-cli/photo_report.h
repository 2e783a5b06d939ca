// What `check` and `package` share: the roster's students read for the photo check, and the
// check's report as lines (counts first, then one line per problem).
#pragma once

#include <string>
#include <vector>

#include "capture/photo_check.h"

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

// One report line: kind, key (or file name), name, explanation (UTF-8).
using ReportLine = std::vector<std::string>;

// The value of "--max-kb N" in bytes: a whole number of kilobytes, 1 to 1,048,576.
uint64_t ParseMaxKb(const std::string& text);

// The count lines (what the check found in numbers).
std::vector<std::string> CountLines(const RosterPhotoCheck& check);
// One line per problem: students in roster order (only `selected` ones when given), then the
// stray folder entries.
std::vector<ReportLine> ProblemLines(const RosterPhotoCheck& check, const PhotoRules& rules,
                                     const std::vector<bool>* selected = nullptr);

// Prints lines to standard output, the parts of a problem line separated by tabs.
void PrintLine(const std::string& line);
void PrintLine(const ReportLine& line);

}  // namespace mirestal::cli
