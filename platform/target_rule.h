// The one rule for every file the operator names as a command's output (the export's workbook,
// the photo check's report, the upload package, the workbook conversion's table): such a file
// may never destroy another. The command line and the windows both ask CheckTarget before they
// touch anything, and show its message as it is.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file.h"

namespace mirestal {

// What a command protects besides the target's own kind.
struct TargetGuard {
  std::string roster;        // the roster the command reads or the window has open; empty: none
  std::string photo_folder;  // the photo folder; empty: none
  std::vector<std::string> sources;  // other files the command reads (the workbook converted)
};

enum class TargetKind {
  kOutput,  // a workbook, a report or an archive: never a table or a memo file
  kTable,   // the workbook conversion's table: a .dbf by design, replaced when complete
};

enum class TargetProblem {
  kTableFile,      // the roster, its memo file, or any table or memo file by its name
  kSource,         // a file the command itself reads
  kPhotoFolder,    // the photo folder or anything inside it (a photo)
  kNotAFile,       // a folder, a named pipe, a device or a dangling link
  kReadOnly,       // an existing read-only file: it is kept
};

struct TargetRefusal {
  TargetProblem problem;
  std::string message;  // UTF-8 for the operator: the reason, "\r", the target as given
};

// The operator's texts (UTF-8), one per problem.
inline constexpr char kMsgTargetIsTable[] = "不能用学生数据文件（名册、备注文件或dbf表）作为目标文件！";
inline constexpr char kMsgTargetIsSource[] = "目标文件就是要读取的文件，不能覆盖！";
inline constexpr char kMsgTargetInPhotoFolder[] = "不能把文件写到照片文件夹里，照片不能被覆盖！";
inline constexpr char kMsgTargetNotAFile[] = "目标不是普通文件，不能写入！";
inline constexpr char kMsgTargetReadOnly[] = "目标文件是只读的，原文件已保留！";

// Decides whether `target` may be written. Files are compared by identity (FileSystem::SameFile:
// any spelling, "./", "..", a link, another letter case where the file system folds case), the
// kinds of file by the name the target has and the name it leads to through links. Checked in
// this order: table or memo name (kOutput only), the roster and its memo file, the sources, the
// photo folder and everything inside it, then an existing target that is not a regular file, then
// a read-only one. nullopt: the target may be written (created or replaced).
std::optional<TargetRefusal> CheckTarget(const std::string& target, const TargetGuard& guard,
                                         TargetKind kind = TargetKind::kOutput,
                                         FileSystem& fs = FileSystem::Default());

// The refusal as an error for callers that throw: what() is the message with "\r" as given.
class ETargetRefused : public std::runtime_error {
 public:
  explicit ETargetRefused(TargetRefusal refusal)
      : std::runtime_error(refusal.message), problem_(refusal.problem) {}
  TargetProblem problem() const { return problem_; }

 private:
  TargetProblem problem_;
};

// CheckTarget, throwing ETargetRefused on a refusal.
void RequireTarget(const std::string& target, const TargetGuard& guard,
                   TargetKind kind = TargetKind::kOutput, FileSystem& fs = FileSystem::Default());

}  // namespace mirestal
