// The photo check's report as the operator reads it (UTF-8): the counts as lines, then one line
// per problem. The command line prints them; the main window shows them before packaging.
#pragma once

#include <string>
#include <vector>

#include "capture/photo_check.h"

namespace mirestal {

// One report line: kind, key (or file name), name, explanation.
using ReportLine = std::vector<std::string>;
// The kind of the line of a student without a photo file.
inline constexpr char kMissingPhotoKind[] = "缺少照片";

// The count lines (what the check found in numbers).
std::vector<std::string> CountLines(const RosterPhotoCheck& check);
// One line per problem: students in roster order (only `selected` ones when given), then the
// stray folder entries.
std::vector<ReportLine> ProblemLines(const RosterPhotoCheck& check, const PhotoRules& rules,
                                     const std::vector<bool>* selected = nullptr);

// The kind of an advice line.
inline constexpr char kAdviceKind[] = "照片标准提示";
// One line per student whose photo carries advice (PhotoRules::advise), in roster order (only
// `selected` ones when given): kind, key, name, the advice joined by "；". Advice never makes a
// photo invalid, so these lines come after the problems and do not change the check's result.
std::vector<ReportLine> AdviceLines(const RosterPhotoCheck& check,
                                    const std::vector<bool>* selected = nullptr);

}  // namespace mirestal
