#include "platform/target_rule.h"

#include <filesystem>

#include "platform/paths.h"

namespace mirestal {
namespace {

namespace stdfs = std::filesystem;

std::string LowerAscii(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The extension of the last name of `path` ("" when none), in lower case.
std::string Extension(const std::string& path) {
  const size_t name = path.find_last_of("/\\");
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (name != std::string::npos && dot < name)) return "";
  return LowerAscii(path.substr(dot));
}

bool IsTableName(const std::string& path) {
  const std::string ext = Extension(path);
  return ext == ".dbf" || ext == ".dbt" || ext == ".fpt";
}

std::string WithoutExtension(const std::string& path) {
  const size_t name = path.find_last_of("/\\");
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (name != std::string::npos && dot < name)) return path;
  return path.substr(0, dot);
}

// The absolute path with every link and ".." resolved as far as it exists.
std::string Resolved(const std::string& path) {
  std::error_code ec;
  stdfs::path p = stdfs::absolute(FsPath(path), ec);
  if (ec) return path;
  stdfs::path r = stdfs::weakly_canonical(p, ec);
  return Utf8Path(ec ? p.lexically_normal() : r);
}

// `path` or one of its folders is `folder` (by identity). Both the name as written and the
// name it resolves to are walked, so neither a link to a photo nor a link to the folder hides it.
bool InsideFolder(const std::string& path, const std::string& folder, FileSystem& fs) {
  std::error_code ec;
  for (const std::string& start : {path, Resolved(path)}) {
    stdfs::path p = stdfs::absolute(FsPath(start), ec).lexically_normal();
    if (ec) continue;
    while (true) {
      if (fs.SameFile(Utf8Path(p), folder)) return true;
      stdfs::path parent = p.parent_path();
      if (parent == p || parent.empty()) break;
      p = parent;
    }
  }
  return false;
}

TargetRefusal Refusal(TargetProblem problem, const char* text, const std::string& target) {
  return {problem, std::string(text) + "\r" + target};
}

}  // namespace

std::optional<TargetRefusal> CheckTarget(const std::string& target, const TargetGuard& guard,
                                         TargetKind kind, FileSystem& fs) {
  if (kind == TargetKind::kOutput && (IsTableName(target) || IsTableName(Resolved(target)))) {
    return Refusal(TargetProblem::kTableFile, kMsgTargetIsTable, target);
  }
  if (!guard.roster.empty()) {
    if (fs.SameFile(target, guard.roster)) {
      return Refusal(TargetProblem::kTableFile, kMsgTargetIsTable, target);
    }
    const std::string stem = WithoutExtension(guard.roster);
    for (const char* memo : {".dbt", ".fpt", ".DBT", ".FPT"}) {
      if (fs.SameFile(target, stem + memo)) {
        return Refusal(TargetProblem::kTableFile, kMsgTargetIsTable, target);
      }
    }
  }
  for (const std::string& source : guard.sources) {
    if (fs.SameFile(target, source)) return Refusal(TargetProblem::kSource, kMsgTargetIsSource, target);
  }
  if (!guard.photo_folder.empty() && InsideFolder(target, guard.photo_folder, fs)) {
    return Refusal(TargetProblem::kPhotoFolder, kMsgTargetInPhotoFolder, target);
  }
  // The new file is renamed over the target: a folder, pipe or device there would be replaced.
  if (PathExists(target) && !fs.Exists(target)) {
    return Refusal(TargetProblem::kNotAFile, kMsgTargetNotAFile, target);
  }
  if (fs.Exists(target) && fs.IsReadOnly(target)) {
    return Refusal(TargetProblem::kReadOnly, kMsgTargetReadOnly, target);
  }
  return std::nullopt;
}

void RequireTarget(const std::string& target, const TargetGuard& guard, TargetKind kind,
                   FileSystem& fs) {
  if (std::optional<TargetRefusal> refusal = CheckTarget(target, guard, kind, fs)) {
    throw ETargetRefused(std::move(*refusal));
  }
}

}  // namespace mirestal
