#include "core/roster_commands.h"

#include <algorithm>

#include "capture/photo_report.h"
#include "platform/gbk.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace mirestal {

// --- Photo coverage ---

KeyCellLook KeyCellPhotoLook(RosterSession& session, std::string_view field_name_gbk,
                             std::string_view value_gbk) {
  if (!session.has_key() || field_name_gbk != Utf8ToGbkLossy(session.key_field_name())) {
    return KeyCellLook::kPlain;
  }
  const std::optional<std::string> path = session.store().PhotoFileName(value_gbk);
  if (!path) return KeyCellLook::kPlain;
  switch (session.photo_checks().Check(*path)) {
    case PhotoCheckCache::Result::kNoFile: return KeyCellLook::kPlain;
    case PhotoCheckCache::Result::kValid: return KeyCellLook::kPhoto;
    case PhotoCheckCache::Result::kInvalid: return KeyCellLook::kInvalidPhoto;
  }
  return KeyCellLook::kPlain;
}

namespace {

// Walks the whole roster with the key field's value of each student; the current record is
// current again afterwards (an empty roster has none to restore). `progress` hears of every
// student walked.
template <typename Visit>
void WalkKeys(RosterSession& session, Visit visit, const WalkProgress& progress = {}) {
  TTableDataSet& ds = session.dataset();
  TableWalkScope walk(session);
  const int remembered = ds.IsEmpty() ? 0 : ds.RecNo();
  const int total = ds.RecordCount();
  TField& key = ds.FieldByName(Utf8ToGbkLossy(session.key_field_name()));
  int done = 0;
  for (ds.First(); !ds.Eof(); ds.Next()) {
    visit(ds, key);
    if (progress) progress(++done, total);
  }
  if (remembered > 0) ds.SetRecNo(remembered);
}

}  // namespace

int CountMissingPhotos(RosterSession& session) {
  int missing = 0;
  WalkKeys(session, [&](TTableDataSet&, TField& key) {
    const std::optional<std::string> path = session.store().PhotoFileName(key.AsString());
    if (!path || !PhotoStore::PhotoExists(*path)) ++missing;
  });
  return missing;
}

PhotoCoverage CountPhotoCoverage(RosterSession& session, const WalkProgress& progress) {
  PhotoCoverage coverage;
  WalkKeys(session, [&](TTableDataSet&, TField& key) {
    const std::optional<std::string> path = session.store().PhotoFileName(key.AsString());
    const PhotoCheckCache::Result result =
        path ? session.photo_checks().Check(*path) : PhotoCheckCache::Result::kNoFile;
    if (result == PhotoCheckCache::Result::kNoFile) ++coverage.missing;
    if (result == PhotoCheckCache::Result::kInvalid) ++coverage.invalid;
  }, progress);
  return coverage;
}

std::string MissingPhotoText(int students, int missing) {
  return std::to_string(students) + "个学生中共有 " + std::to_string(missing) + " 个没有照片";
}

std::string PhotoCoverageText(int students, const PhotoCoverage& coverage) {
  std::string text = MissingPhotoText(students, coverage.missing);
  if (coverage.invalid > 0) {
    text += "\r另有 " + std::to_string(coverage.invalid) + " 个学生的照片不符合上报要求";
  }
  return text;
}

// --- Next student ---

std::optional<int> NextStudentWithoutPhoto(RosterSession& session) {
  TTableDataSet& ds = session.dataset();
  if (!session.has_key() || !ds.Active() || ds.IsEmpty()) return std::nullopt;
  const int rows = ds.RowCount();
  const int current = std::max(0, ds.RowOfRecNo(ds.RecNo()));
  const TField& key = ds.FieldByName(Utf8ToGbkLossy(session.key_field_name()));
  TRecordView view(ds);
  for (int step = 1; step <= rows; ++step) {
    const int recno = ds.RecNoOfRow((current + step) % rows);
    if (!view.Load(recno)) continue;
    // A key that names no photo file can never have one: such a student is passed over.
    const std::optional<std::string> path = session.store().PhotoFileName(key.AsString(view));
    if (path && session.photo_checks().Check(*path) != PhotoCheckCache::Result::kValid) {
      return recno;
    }
  }
  return std::nullopt;
}

// --- Find ---

bool FindMatches(std::string_view value_gbk, std::string_view text_gbk, FindMatch match) {
  switch (match) {
    case FindMatch::kExact: return value_gbk == text_gbk;
    case FindMatch::kPrefix: return !text_gbk.empty() && StartsWithGbk(value_gbk, text_gbk, false);
    case FindMatch::kContains:
      return !text_gbk.empty() && FindGbk(value_gbk, text_gbk, false) != std::string_view::npos;
  }
  return false;
}

bool FindRecord(RosterSession& session, const FindRequest& request) {
  TTableDataSet& ds = session.dataset();
  TableWalkScope walk(session);
  TField& field = ds.Fields(request.field_index);
  if (request.direction == FindDirection::kFromFirst) {
    ds.First();
  } else {
    ds.Next();
  }
  while (!ds.Eof()) {
    if (FindMatches(TrimView(field.AsString()), request.text_gbk, request.match)) return true;
    ds.Next();
  }
  return false;
}

// --- Export ---

std::string DefaultExportName(const std::string& roster_path) {
  // The cut counts the bytes of the path as the roster's own text (GBK), never leaving half a
  // character; a path GBK cannot hold is cut by whole UTF-8 characters.
  if (const std::optional<std::string> gbk = Utf8ToGbk(roster_path)) {
    const size_t keep = gbk->size() >= 4 ? GbkSafePrefixLength(*gbk, gbk->size() - 4) : 0;
    return GbkToUtf8(std::string_view(*gbk).substr(0, keep)) + ".xls";
  }
  size_t keep = roster_path.size() >= 4 ? roster_path.size() - 4 : 0;
  while (keep > 0 && (static_cast<unsigned char>(roster_path[keep]) & 0xC0) == 0x80) --keep;
  return roster_path.substr(0, keep) + ".xls";
}

std::string ExportDoneText(int students) {
  return "导出完毕！\r\r共导出" + std::to_string(students) + "个学生的信息";
}

std::string DamagedPhotosText(const std::vector<std::string>& keys, int max_keys) {
  std::string text = kMsgExportDamagedPhotosHead;
  const size_t shown = std::min(keys.size(), static_cast<size_t>(std::max(max_keys, 0)));
  for (size_t i = 0; i < shown; ++i) text += "\r" + keys[i] + ".jpg";
  if (keys.size() > shown) text += "\r……另有 " + std::to_string(keys.size() - shown) + " 个";
  return text;
}

bool ClearForReplace(const std::string& path) {
  FileSystem& fs = FileSystem::Default();
  try {
    if (fs.IsReadOnly(path)) fs.SetReadOnly(path, false);
    // Opened for writing with everyone else shut out, then closed at once: fails while another
    // program holds it or access is denied. Nothing is written.
    fs.Open(path, Access::kReadWrite, Share::kNone);
    // Replacing a file means renaming another over it: the folder must take a new file.
    const size_t slash = path.find_last_of("/\\");
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string probe;
    fs.CreateExclusiveTemp(folder, ".mirestal-probe-", &probe).reset();
    fs.Remove(probe);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// --- Upload package ---

std::vector<RosterStudent> ReadRosterStudents(RosterSession& session) {
  std::vector<RosterStudent> students;
  TField* name = session.dataset().FindField(Utf8ToGbkLossy("姓名"));
  WalkKeys(session, [&](TTableDataSet& ds, TField& key) {
    students.push_back({ds.RecNo(), key.AsString(), name ? name->AsString() : std::string()});
  });
  return students;
}

namespace {

// At most `max` lines, their parts joined by two spaces, then "……另有 N 条<what>".
std::string ReportLinesText(const std::vector<ReportLine>& lines, int max, const char* what) {
  const size_t shown = std::min(lines.size(), static_cast<size_t>(std::max(max, 0)));
  std::string text;
  if (shown > 0) text += "\r";
  for (size_t i = 0; i < shown; ++i) {
    std::string line;
    for (const std::string& part : lines[i]) {
      if (part.empty()) continue;
      line += (line.empty() ? "" : "  ") + part;
    }
    text += line + "\r";
  }
  if (lines.size() > shown) {
    text += "……另有 " + std::to_string(lines.size() - shown) + " 条" + what + "\r";
  }
  return text;
}

}  // namespace

std::string PackageSummaryText(const RosterPhotoCheck& check, const PhotoRules& rules,
                               int max_problems, int max_advice) {
  std::string text;
  for (const std::string& line : CountLines(check)) text += line + "\r";
  // Photos that are there but wrong come before the missing ones: they are what the operator
  // cannot see in the grid's green.
  std::vector<ReportLine> problems = ProblemLines(check, rules);
  std::stable_partition(problems.begin(), problems.end(), [&](const ReportLine& line) {
    return line.empty() || line[0] != kMissingPhotoKind;
  });
  text += ReportLinesText(problems, max_problems, "问题");
  // Advice after the problems: it does not keep a photo out of the package.
  text += ReportLinesText(AdviceLines(check), max_advice, "提示");
  if (!text.empty()) text.pop_back();
  return text;
}

std::string DefaultPackageName(const std::string& roster_path) {
  std::string name = DefaultExportName(roster_path);
  return name.replace(name.size() - 3, 3, "zip");
}

std::string PackageDoneText(int photos, const std::string& zip_path) {
  return "打包完毕！\r\r共打包 " + std::to_string(photos) + " 张照片：\r" + DisplayPath(zip_path);
}

}  // namespace mirestal

namespace mirestal {

std::string DeleteQuestionText(RosterSession& session) {
  TTableDataSet& ds = session.dataset();
  std::string text = kMsgDeleteStudentQuestion;
  if (session.has_key()) {
    text += "\r\r考籍号：" + GbkToUtf8(ds.FieldByName(Utf8ToGbkLossy(session.key_field_name())).AsString());
  }
  if (TField* name = ds.FindField(Utf8ToGbkLossy("姓名"))) text += "\r\r姓名：" + GbkToUtf8(name->AsString());
  return text + "\r\r" + kMsgDeletePhotoWarning;
}

void DeleteCurrentStudent(RosterSession& session, const std::function<void(bool)>& packing) {
  TTableDataSet& ds = session.dataset();
  // The student's place in the grid: after the pack, records are numbered by these places, so
  // earlier deleted records do not shift the choice.
  const int row = ds.RowOfRecNo(ds.RecNo());
  const std::optional<std::string> photo = session.CurrentPhotoPath();
  ds.Delete();
  {
    struct PackingScope {
      const std::function<void(bool)>& packing;
      explicit PackingScope(const std::function<void(bool)>& p) : packing(p) { packing(true); }
      ~PackingScope() { packing(false); }
    } scope(packing);
    ds.Pack();
    const int count = ds.RecordCount();
    if (count > 0) ds.SetRecNo(ds.RecNoOfRow(std::clamp(row, 0, count - 1)));
  }
  if (photo && PhotoStore::PhotoExists(*photo)) {
    try {
      ForceDeleteFile(*photo);
    } catch (const std::exception&) {  // the file stays in the photo folder, unreported
    }
  }
}

}  // namespace mirestal
