#include "capture/photo_report.h"

namespace mirestal {

std::vector<std::string> CountLines(const RosterPhotoCheck& check) {
  const auto n = [](int v) { return std::to_string(v); };
  std::vector<std::string> lines;
  lines.push_back("照片文件夹：" + check.folder + (check.folder_exists ? "" : "（不存在）"));
  std::string students = "学生 " + n(static_cast<int>(check.students.size())) + " 人：合格 " +
                         n(check.valid) + "，不合格 " + n(check.invalid) + "，缺少 " +
                         n(check.missing);
  if (check.refused) students += "，考籍号不能作文件名 " + n(check.refused);
  if (check.duplicates) students += "，考籍号重复 " + n(check.duplicates);
  lines.push_back(students);
  int unmatched = 0, temp = 0, near = 0;
  for (const StrayEntry& s : check.strays) {
    (s.kind == StrayKind::kTempFile ? temp : s.kind == StrayKind::kNearMatch ? near : unmatched)++;
  }
  lines.push_back("文件夹中另有：无对应学生 " + n(unmatched) + "，临时文件 " + n(temp) +
                  "，名称只差大小写或空格 " + n(near));
  lines.push_back(check.AllGood() ? "结果：全部合格" : "结果：有问题");
  return lines;
}

std::vector<ReportLine> ProblemLines(const RosterPhotoCheck& check, const PhotoRules& rules,
                                     const std::vector<bool>* selected) {
  std::vector<ReportLine> lines;
  for (size_t i = 0; i < check.students.size(); ++i) {
    if (selected && !(i < selected->size() && (*selected)[i])) continue;
    const StudentPhoto& s = check.students[i];
    const std::string key = KeyForMessage(TrimKey(s.student.key_gbk));
    const std::string name = KeyForMessage(TrimKey(s.student.name_gbk));
    switch (s.state) {
      case StudentPhotoState::kValid:
        break;
      case StudentPhotoState::kInvalid:
        lines.push_back({"不合格", key, name, PhotoDefectsText(s.check, rules)});
        break;
      case StudentPhotoState::kMissing:
        lines.push_back({kMissingPhotoKind, key, name, "没有 " + s.file_name});
        break;
      case StudentPhotoState::kRefusedKey:
        lines.push_back({"考籍号不能作文件名", key, name, KeyRefusalText(s.refusal)});
        break;
    }
    if (s.duplicate_of >= 0) {
      const StudentPhoto& first = check.students[static_cast<size_t>(s.duplicate_of)];
      lines.push_back({"考籍号重复", key, name,
                       "与第 " + std::to_string(first.student.recno) + " 条记录（" +
                           KeyForMessage(TrimKey(first.student.name_gbk)) + "）共用 " +
                           s.file_name});
    }
  }
  for (const StrayEntry& e : check.strays) {
    const std::string what = e.folder ? "文件夹" : "文件";
    switch (e.kind) {
      case StrayKind::kUnmatched:
        lines.push_back({"无对应学生", e.name, "", "名册中没有与此" + what + "对应的考籍号"});
        break;
      case StrayKind::kTempFile:
        lines.push_back({"临时文件", e.name, "", "保存照片中断时留下的临时文件，可删除"});
        break;
      case StrayKind::kNearMatch: {
        const StudentPhoto& s = check.students[static_cast<size_t>(e.student)];
        lines.push_back({"名称只差大小写或空格", e.name, KeyForMessage(TrimKey(s.student.name_gbk)),
                         "应为 " + s.file_name});
        break;
      }
    }
  }
  return lines;
}

std::vector<ReportLine> AdviceLines(const RosterPhotoCheck& check,
                                    const std::vector<bool>* selected) {
  std::vector<ReportLine> lines;
  for (size_t i = 0; i < check.students.size(); ++i) {
    if (selected && !(i < selected->size() && (*selected)[i])) continue;
    const StudentPhoto& s = check.students[i];
    if (s.check.advice.empty()) continue;
    std::string text;
    for (const std::string& a : s.check.advice) text += (text.empty() ? "" : "；") + a;
    lines.push_back({kAdviceKind, KeyForMessage(TrimKey(s.student.key_gbk)),
                     KeyForMessage(TrimKey(s.student.name_gbk)), text});
  }
  return lines;
}

}  // namespace mirestal
