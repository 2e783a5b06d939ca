// The roster commands' logic that needs no widget: photo coverage (the key-cell highlight and the
// missing-photo count), the find walk, the export command's file checks and the upload
// package's texts. Every walk runs
// inside a TableWalkScope, so the bound controls and the scroll-refresh flag come back on every
// path, an error included.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/roster_session.h"
#include "capture/photo_check.h"
#include "core/window_texts.h"

namespace mirestal {

// Told of each student a walk has passed: (students done, students in all).
using WalkProgress = std::function<void(int done, int total)>;

// --- Photo coverage ---

// The key cell's highlight: RGB(192,220,192); pale red RGB(240,200,200) for a photo that is
// there but not fit to hand in.
inline constexpr unsigned kPhotoPresentRgb = 0xC0DCC0;
inline constexpr unsigned kPhotoInvalidRgb = 0xF0C8C8;

enum class KeyCellLook { kPlain, kPhoto, kInvalidPhoto };

// The look of the cell of field `field_name_gbk` holding `value_gbk`: plain for every cell but
// the key field's (names equal byte for byte) and when no regular file is at the photo path of
// the trimmed value; otherwise by the photo check, through the session's cache.
KeyCellLook KeyCellPhotoLook(RosterSession& session, std::string_view field_name_gbk,
                             std::string_view value_gbk);

// Walks the whole roster and counts the students whose photo file does not exist; the current
// record is current again afterwards. REQUIRES: a roster with the key field is open.
int CountMissingPhotos(RosterSession& session);

struct PhotoCoverage {
  int missing = 0;  // no photo file
  int invalid = 0;  // a photo file that fails the photo check
};
// The same walk, also checking each photo present (through the session's cache).
PhotoCoverage CountPhotoCoverage(RosterSession& session, const WalkProgress& progress = {});

// "120个学生中共有 5 个没有照片" (UTF-8).
std::string MissingPhotoText(int students, int missing);
// The count's message: the missing line, then a line of its own for invalid photos when any.
std::string PhotoCoverageText(int students, const PhotoCoverage& coverage);

// --- Next student ---

// The next student in grid order who has no valid photo (none, or one that fails the photo
// check): searched from the row after the current one to the last, then from the first row up
// to the current one, so the current student comes last. Students whose key names no photo file
// are passed over (they can never have one). Answers the record number; nullopt
// when every student has a valid photo, without a roster, or without the key field. The
// dataset does not move.
std::optional<int> NextStudentWithoutPhoto(RosterSession& session);

// --- Find ---

enum class FindMatch { kExact = 0, kPrefix = 1, kContains = 2 };
enum class FindDirection { kFromFirst = 0, kFromNext = 1 };

// Whether a trimmed field value matches a trimmed search text (both GBK). Exact: equal byte for
// byte. Prefix and contains: the text occurs at the start or anywhere, at a character start only
// (never across a character boundary); an empty text never occurs.
bool FindMatches(std::string_view value_gbk, std::string_view text_gbk, FindMatch match);

struct FindRequest {
  int field_index = 0;    // the field, by its place in the table
  std::string text_gbk;   // search text, trimmed
  FindMatch match = FindMatch::kExact;
  FindDirection direction = FindDirection::kFromFirst;
};

// One search: from the first record, or from the record after the current one, to the first
// match, which stays current. Nothing found leaves the dataset at its end (the last record
// current). Bound controls and the scroll-refresh flag are suspended meanwhile.
bool FindRecord(RosterSession& session, const FindRequest& request);

// --- Export ---

// The proposed workbook name: the roster path without its last 4 bytes (counted in GBK, as the
// roster's texts are; a character is never cut in half), then ".xls".
std::string DefaultExportName(const std::string& roster_path);

// The photos the export's walk could not show (keys, UTF-8), told once after it: the heading,
// then at most `max_keys` keys and how many more there are; lines joined by "\r".
std::string DamagedPhotosText(const std::vector<std::string>& keys, int max_keys = 10);
// "导出完毕！\r\r共导出120个学生的信息" (UTF-8).
std::string ExportDoneText(int students);

// Whether an existing `path` could be replaced now: its read-only attribute is cleared first
// (as the overwrite asks); then the file must open for writing with everyone else shut out and
// its folder must let another file be renamed over it. Leaves the file's contents untouched.
bool ClearForReplace(const std::string& path);

// --- Upload package ---

// Every student of the open roster (record number, key, and name when the roster has one), for
// the photo check; the current record is current again afterwards. REQUIRES: the key field.
std::vector<RosterStudent> ReadRosterStudents(RosterSession& session);

// The check's summary before packaging (UTF-8, lines joined by "\r"): the count lines, then at
// most `max_problems` problem lines and a note of how many more there are, then (when the check
// gave advice, PhotoRules::advise) at most `max_advice` advice lines and their note.
std::string PackageSummaryText(const RosterPhotoCheck& check, const PhotoRules& rules,
                               int max_problems = 12, int max_advice = 6);
// The proposed package name: the roster path without its last 4 bytes, then ".zip".
std::string DefaultPackageName(const std::string& roster_path);
// "打包完毕！\r\r共打包 N 张照片：\rPATH" (UTF-8).
std::string PackageDoneText(int photos, const std::string& zip_path);


}  // namespace mirestal

namespace mirestal {

// --- Record maintenance ---

// The deletion question for the current student: "确认要删除该学生吗？", then the key and the name
// as stored (untrimmed) when the roster has those fields, then the photo warning; lines joined
// by "\r" (UTF-8).
std::string DeleteQuestionText(RosterSession& session);

// Deletes the current student: the record is deleted and the table packed, then the student at
// the deleted one's place in the grid (or the new last one) becomes current, and only then is the
// student's photo file deleted, so a failed delete or pack keeps the photo. `packing(true)` is
// called before the pack and `packing(false)` on every path after it. A photo file that cannot
// be deleted is left without a report.
void DeleteCurrentStudent(RosterSession& session, const std::function<void(bool)>& packing);

}  // namespace mirestal
