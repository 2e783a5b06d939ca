// Which student a picture file belongs to, from its name: a folder of pictures from a camera or
// a phone, renamed by the school after the students' registration numbers or names.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "capture/photo_check.h"

namespace mirestal {

enum class MatchKind {
  kNone,           // names no student
  kKey,            // a student's registration number
  kName,           // the name of exactly one student
  kAmbiguousName,  // the name of several students: the operator must choose
  kNotGbk,         // characters the roster's code page cannot hold: it names no one
};

struct PictureMatch {
  MatchKind kind = MatchKind::kNone;
  int student = -1;  // index into the matcher's students for kKey and kName
};

// Matches names against a roster. Compared after removing every blank (ASCII blanks, control
// characters and the ideographic space) and with ASCII letters in one case; keys first, then
// names.
class StudentMatcher {
 public:
  explicit StudentMatcher(const std::vector<RosterStudent>& students);

  // A picture's file name (UTF-8): its name without the extension, as it is, and failing that
  // without a copy suffix that file managers add ("(2)", "（2）", " - 副本", " - Copy",
  // " copy", and "(2)" after those).
  PictureMatch MatchFileName(std::string_view file_name) const;
  // What the operator typed (UTF-8): a registration number or a name, as it is.
  PictureMatch MatchText(std::string_view text) const;

 private:
  PictureMatch MatchNormalised(std::string_view text) const;

  std::unordered_map<std::string, int> keys_;   // normalised key -> first student
  std::unordered_map<std::string, int> names_;  // normalised name -> student, -2 when shared
};

// The file name without its last extension ("a.b.jpg" -> "a.b"; a leading dot is no extension).
std::string_view FileStem(std::string_view file_name);
// `stem` without one copy suffix, or `stem` when it has none.
std::string_view WithoutCopySuffix(std::string_view stem);

// For every picture whose match names a student (kKey or kName) that another picture's also
// names: the index of the first such other picture; -1 otherwise. Such claims are never decided
// by the program.
std::vector<int> DuplicateClaims(const std::vector<PictureMatch>& matches);

}  // namespace mirestal
