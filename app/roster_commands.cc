#include "app/roster_commands.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/gbk.h"
#include "platform/text.h"

namespace mirestal {

// --- Photo coverage ---

bool KeyCellHasPhoto(const RosterSession& session, std::string_view field_name_gbk,
                     std::string_view value_gbk) {
  if (!session.has_key() || field_name_gbk != Utf8ToGbkLossy(session.key_field_name())) return false;
  const std::optional<std::string> path = session.store().PhotoFileName(value_gbk);
  return path && PhotoStore::PhotoExists(*path);
}

int CountMissingPhotos(RosterSession& session) {
  TTableDataSet& ds = session.dataset();
  TableWalkScope walk(session);
  const int remembered = ds.RecNo();
  TField& key = ds.FieldByName(Utf8ToGbkLossy(session.key_field_name()));
  int missing = 0;
  ds.First();
  while (!ds.Eof()) {
    const std::optional<std::string> path = session.store().PhotoFileName(key.AsString());
    if (!path || !PhotoStore::PhotoExists(*path)) ++missing;
    ds.Next();
  }
  ds.SetRecNo(remembered);
  return missing;
}

std::string MissingPhotoText(int students, int missing) {
  return std::to_string(students) + "个学生中共有 " + std::to_string(missing) + " 个没有照片";
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
  TField& field = ds.FieldByName(request.field_gbk);
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
  const size_t keep = roster_path.size() >= 4 ? roster_path.size() - 4 : 0;
  return roster_path.substr(0, keep) + ".xls";
}

namespace {

std::string LowerAscii(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Paths are in the file system's own encoding (UTF-8 here), used as they stand.
bool SameExistingFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  const bool same = std::filesystem::equivalent(std::filesystem::path(a), std::filesystem::path(b), ec);
  return !ec && same;
}

// The path without its extension (after the last '.' of the last component).
std::string WithoutExtension(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

}  // namespace

bool ExportTargetAllowed(const std::string& roster_path, const std::string& target) {
  if (LowerAscii(target.substr(WithoutExtension(target).size())) == ".dbf") return false;
  if (target == roster_path || SameExistingFile(target, roster_path)) return false;
  const std::string stem = WithoutExtension(roster_path);
  for (const char* memo : {".dbt", ".fpt", ".DBT", ".FPT"}) {
    const std::string candidate = stem + memo;
    if (target == candidate || SameExistingFile(target, candidate)) return false;
  }
  return true;
}

std::string ExportDoneText(int students) {
  return "导出完毕！\r\r共导出" + std::to_string(students) + "个学生的信息";
}

bool ClearForReplace(const std::string& path) {
  try {
    if (IsReadOnly(path)) SetReadOnly(path, false);
    // Opened for writing with everyone else shut out, then closed at once: fails while another
    // program holds it or access is denied. Nothing is written.
    FileSystem::Default().Open(path, Access::kReadWrite, Share::kNone);
#ifndef _WIN32
    // Replacing a file here means renaming another over it, which its folder must allow.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    if (access(folder.c_str(), W_OK | X_OK) != 0) return false;
#endif
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace mirestal

namespace mirestal {

std::string DeleteQuestionText(RosterSession& session) {
  TTableDataSet& ds = session.dataset();
  std::string text = "确认要删除该学生吗？";
  if (session.has_key()) {
    text += "\r\r考籍号：" + GbkToUtf8(ds.FieldByName(Utf8ToGbkLossy(session.key_field_name())).AsString());
  }
  if (TField* name = ds.FindField(Utf8ToGbkLossy("姓名"))) text += "\r\r姓名：" + GbkToUtf8(name->AsString());
  return text + "\r\r若有与之对应的照片，也将被删除";
}

void DeleteCurrentStudent(RosterSession& session, const std::function<void(bool)>& packing) {
  TTableDataSet& ds = session.dataset();
  const int n = ds.RecNo();
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
    if (count > 0) ds.SetRecNo(std::min(n, count));
  }
  if (photo && PhotoStore::PhotoExists(*photo)) {
    try {
      ForceDeleteFile(*photo);
    } catch (const std::exception&) {  // the file stays in the photo folder, unreported
    }
  }
}

}  // namespace mirestal
