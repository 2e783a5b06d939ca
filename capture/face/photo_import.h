// Photos from a camera: a folder of pictures, each matched to its student by its file name,
// framed by the rule and stored through the checked store as the capture button stores photos.
// The pictures themselves are only read. Without Qt: the command line and the window share it.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/bitmap.h"
#include "capture/crop.h"
#include "capture/face/face_detector.h"
#include "capture/photo_check.h"
#include "capture/photo_match.h"

namespace mirestal {

enum class ImportOutcome {
  kStored,        // stored (on a dry run or before the operator accepts: would be)
  kHasPhoto,      // the student already has a valid photo and replacing was not chosen
  kUnmatched,     // the name is no student's key, nor the name of exactly one student
  kNoFace,
  kSeveralFaces,
  kCannotFrame,   // the face is too close or too far for a valid photo
  kNotPicture,    // not a JPEG, PNG or BMP file, damaged, too large, or unreadable
  kDuplicate,     // another picture claims the same student: the operator decides
  kOutsideLink,   // a symbolic link leading out of the folder: not followed
  kFailed,        // the photo could not be stored; the student's old photo stays as it was
};
inline constexpr int kImportOutcomeCount = 10;

// The command line's word for an outcome ("stored", "has-photo", ...).
std::string_view ImportOutcomeToken(ImportOutcome outcome);
// The operator's text (UTF-8).
std::string_view ImportOutcomeText(ImportOutcome outcome);

struct ImportPicture {
  std::string name;  // the file name in the folder (UTF-8 on Linux)
  std::string path;  // folder + name
  bool outside_link = false;
  bool regular = true;  // false: a pipe, device or socket, never opened

  PictureMatch match;     // from the name, or set by the operator
  int duplicate_of = -1;  // another picture claiming the same student (DuplicateClaims)

  // Filled by ProcessPicture.
  ImportOutcome outcome = ImportOutcome::kUnmatched;
  std::string detail;         // the reason or the decoder's message (UTF-8)
  int width = 0, height = 0;  // upright, full size
  int orientation = 1;
  bool framed = false;         // the crop below is known
  CropRect crop;               // in upright full-size pixels
  bool whole = false;          // already a photo of the standard: taken whole
  bool kept_as_is = false;     // stored byte for byte (passes every upload rule)
  std::vector<std::string> advice;  // the photo standard's lines on the photo (options.advise)
  Bitmap thumbnail;                 // options.thumbnail_height high
  StoredPhoto stored;
};

// The folder's entries in name order: regular files and links to them. Sub-folders (and links
// to folders) are left out; a link whose target is outside the folder, or that leads nowhere,
// is listed as outside_link without being followed further. Throws IoError when the folder
// cannot be listed.
std::vector<ImportPicture> ListPictureFolder(const std::string& folder);

// Sets every picture's match from its file name, then the duplicate claims.
void MatchPictures(std::vector<ImportPicture>& pictures, const StudentMatcher& matcher);
// The duplicate claims again, after the operator changed a match.
void MarkDuplicates(std::vector<ImportPicture>& pictures);

struct ImportOptions {
  bool replace = false;  // a valid photo already stored is replaced
  bool store = true;     // false: decide everything, write nothing (dry run, the window's list)
  // Frame pictures that name no student or share one too (the window shows their crop).
  bool frame_all = false;
  bool advise = false;       // fill ImportPicture::advice
  int thumbnail_height = 0;  // 0: no thumbnail
  uint64_t max_bytes = kDefaultMaxPhotoBytes;
  int threads = 0;  // 0: one per processor
};

// Decides one picture and, with options.store, stores its photo for the matched student.
// Never throws for the picture's own faults: they are its outcome.
void ProcessPicture(FaceDetector& detector, ImportPicture& picture,
                    const std::vector<RosterStudent>& students, const PhotoStore& store,
                    const ImportOptions& options);

// ProcessPicture for `indices` of `pictures` (all when empty) on worker threads, each with a
// FaceDetector of its own. `done` hears each finished index, one call at a time, from the
// worker threads. Returns the number of pictures processed.
int ImportPictures(std::vector<ImportPicture>& pictures, const std::vector<RosterStudent>& students,
                   const PhotoStore& store, const ImportOptions& options,
                   const std::vector<int>& indices = {},
                   const std::function<void(int)>& done = {});

// How many pictures ended with each outcome.
std::vector<int> CountOutcomes(const std::vector<ImportPicture>& pictures);

// --- The window's list, without widgets ---

// The operator names the student of picture `index` by typing a registration number or a name
// (UTF-8; empty: no one). The match and every picture's duplicate claim follow; a picture that
// was decided "stored" or "duplicate" is decided again by the next ImportPictures.
PictureMatch AssignStudent(std::vector<ImportPicture>& pictures, int index, std::string_view text,
                           const StudentMatcher& matcher);
// The student cell: "key name" of the matched student (UTF-8), or empty.
std::string StudentText(const ImportPicture& picture, const std::vector<RosterStudent>& students);
// The crop cell: "x,y WxH of W'xH'" in the upright picture's pixels; "whole" pictures say so.
std::string CropText(const ImportPicture& picture);
// The outcome cell: the outcome's text, then the reason or other picture, then the photo
// standard's advice, joined by "；". `done`: the photos were stored (else "将保存" for kStored).
std::string OutcomeText(const ImportPicture& picture, const std::vector<ImportPicture>& pictures,
                        bool done);
// Whether the picture will be stored when the operator accepts (kStored before storing).
inline bool WillStore(const ImportPicture& p) { return p.outcome == ImportOutcome::kStored; }
// The summary after storing: "共 N 张图片：已保存 a 张，…" with the non-zero counts (UTF-8).
std::string ImportSummaryText(const std::vector<ImportPicture>& pictures);

}  // namespace mirestal
