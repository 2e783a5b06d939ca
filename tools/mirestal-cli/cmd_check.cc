// check ROSTER.dbf [--program-dir DIR] [--max-kb N] [--xls REPORT.xls]: the photo check of a
// roster against its photo folder. Prints the counts, then one tab-separated line per problem
// (kind, key or file name, name, explanation), then the photo standard's advice lines (the
// face module), which never change the result. Exit status 0 only when every student has a
// valid photo of their own and the folder holds nothing else; 1 otherwise (or on an error).
#include <string>

#include "capture/photo_check.h"
#ifdef MIRESTAL_HAVE_FACE
#include "capture/face/photo_advice.h"
#endif
#include "platform/paths.h"
#include "platform/target_rule.h"
#include "tools/mirestal-cli/command.h"
#include "tools/mirestal-cli/photo_report.h"
#include "xls/text_workbook.h"

namespace mirestal::cli {

namespace {

int RunCheck(const std::vector<std::string>& args) {
  std::string roster, program_dir, xls;
  PhotoRules rules;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--program-dir" || a == "--max-kb" || a == "--xls") {
      if (++i == args.size()) throw UsageError(a + " needs a value");
      if (a == "--program-dir") program_dir = args[i];
      if (a == "--max-kb") rules.max_bytes = ParseMaxKb(args[i]);
      if (a == "--xls") xls = args[i];
    } else if (roster.empty() && !a.starts_with("--")) {
      roster = a;
    } else {
      throw UsageError("unexpected argument '" + a + "'");
    }
  }
  if (roster.empty()) throw UsageError("check takes a roster file");
  if (program_dir.empty()) program_dir = ExecutableDirectory();
  const PhotoStore store(program_dir);
  // Refused before the check runs, so that nothing is read for a report that cannot be written.
  if (!xls.empty()) RequireTarget(xls, {roster, store.PhotoFolder(), {}});
#ifdef MIRESTAL_HAVE_FACE
  AddPhotoStandardAdvice(rules);  // advice lines only: the result stays the same
#endif

  const RosterForCheck students = ReadRosterForCheck(roster);
  const RosterPhotoCheck check =
      CheckRosterPhotos(students.students, store, rules);
  const std::vector<std::string> counts = CountLines(check);
  const std::vector<ReportLine> problems = ProblemLines(check, rules);

  PrintLine("照片检查：" + roster);
  for (const std::string& line : counts) PrintLine(line);
  if (!problems.empty()) PrintLine("");
  for (const ReportLine& line : problems) PrintLine(line);
  const std::vector<ReportLine> advice = AdviceLines(check);
  if (!advice.empty()) PrintLine("");
  for (const ReportLine& line : advice) PrintLine(line);

  if (!xls.empty()) {
    TextWorkbook book;
    book.sheet_title = "照片检查";
    book.captions = {"类别", "考籍号或文件名", "姓名", "说明"};
    book.column_widths = {20, 24, 12, 60};
    book.rows.push_back({"名册", "", "", roster});
    for (const std::string& line : counts) book.rows.push_back({"汇总", "", "", line});
    for (const ReportLine& line : problems) book.rows.push_back(line);
    for (const ReportLine& line : advice) book.rows.push_back(line);
    WriteTextWorkbook(book, xls);
  }
  return check.AllGood() ? 0 : 1;
}

CommandRegistrar check_command(
    {"check", "check ROSTER.dbf [--program-dir DIR] [--max-kb 50] [--xls REPORT.xls]", RunCheck});

}  // namespace
}  // namespace mirestal::cli
