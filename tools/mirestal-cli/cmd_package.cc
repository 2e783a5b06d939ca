// package ROSTER.dbf OUT.zip [--class FIELD=VALUE] [--program-dir DIR] [--max-kb N]: the upload
// package of the valid photos (of one class), then what was left out and why. Exit status 0
// when the package was written.
#include <cstdio>
#include <string>

#include "capture/photo_package.h"
#include "platform/paths.h"
#include "platform/target_rule.h"
#include "tools/mirestal-cli/command.h"
#include "tools/mirestal-cli/photo_report.h"

namespace mirestal::cli {

namespace {

int RunPackage(const std::vector<std::string>& args) {
  std::string roster, zip, program_dir, filter;
  PhotoRules rules;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--program-dir" || a == "--max-kb" || a == "--class") {
      if (++i == args.size()) throw UsageError(a + " needs a value");
      if (a == "--program-dir") program_dir = args[i];
      if (a == "--max-kb") rules.max_bytes = ParseMaxKb(args[i]);
      if (a == "--class") filter = args[i];
    } else if (!a.starts_with("--") && (roster.empty() || zip.empty())) {
      (roster.empty() ? roster : zip) = a;
    } else {
      throw UsageError("unexpected argument '" + a + "'");
    }
  }
  if (zip.empty()) throw UsageError("package takes a roster file and a zip file");
  if (program_dir.empty()) program_dir = ExecutableDirectory();
  const PhotoStore store(program_dir);
  RequireTarget(zip, {roster, store.PhotoFolder(), {}});

  const RosterForCheck students = ReadRosterForCheck(roster, filter);
  // The whole roster is checked so that photos of other classes are not taken for strays.
  const RosterPhotoCheck check =
      CheckRosterPhotos(students.students, store, rules);
  const std::vector<bool>* selected = filter.empty() ? nullptr : &students.selected;
  const PackageResult result = WritePhotoPackage(check, zip, selected);

  PrintLine("已打包 " + std::to_string(result.photos) + " 张照片（" + std::to_string(result.bytes) +
            " 字节）到 " + zip);
  const std::vector<ReportLine> left_out = ProblemLines(check, rules, selected);
  if (!left_out.empty()) PrintLine("未打包：");
  for (const ReportLine& line : left_out) PrintLine(line);
  return 0;
}

CommandRegistrar package_command(
    {"package",
     "package ROSTER.dbf OUT.zip [--class FIELD=VALUE] [--program-dir DIR] [--max-kb 50]",
     RunPackage});

}  // namespace
}  // namespace mirestal::cli
