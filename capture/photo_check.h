// The photo check: whether each photo file is fit to hand in (decodes completely, 3:4, within the
// byte limit, baseline, colour) and whether the photo folder matches the roster (every student
// one valid photo, nothing else in the folder). Also the checked store used by the capture
// button: the photo is written at the highest quality that fits the limit and read back.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "capture/bitmap.h"
#include "capture/photo_store.h"

namespace mirestal {

// Upload rules: photos of at most 50 KB.
inline constexpr uint64_t kDefaultMaxPhotoBytes = 50 * 1024;
// Files larger than this are not read at all: they are far over any limit and could exhaust
// memory.
inline constexpr uint64_t kMaxReadPhotoBytes = 32 * 1024 * 1024;

struct PhotoRules {
  uint64_t max_bytes = kDefaultMaxPhotoBytes;
  // False: only what the folder listing tells (type, byte size); contents are not read.
  bool decode = true;
  // Optional advisory judge of each photo that decodes completely (the face module's photo
  // standard, capture/face/photo_advice.h). Its lines go to PhotoFileCheck::advice and never
  // make a photo invalid. Unset: no advice.
  std::function<std::vector<std::string>(const Bitmap&)> advise;
};

// Why a photo is not fit to hand in. A file may have several.
enum class PhotoDefect {
  kEmpty,           // zero bytes
  kNotJpeg,         // the header does not parse
  kHugeHeader,      // the header promises an absurd picture
  kDamaged,         // the data do not decode completely (truncated or corrupt)
  kCmyk,            // four colour channels
  kGreyscale,       // one channel: no colour
  kProgressive,     // several scans; upload needs baseline
  kRatio,           // not 3:4 within one pixel
  kOverLimit,       // more bytes than the limit
  kFolder,          // a folder named like a photo
  kLink,            // a symbolic link: never followed
  kNotRegularFile,  // a device, pipe or socket
  kUnreadable,      // the file could not be read
};

// The colour space as the header states it.
enum class PhotoColour { kUnknown, kColour, kGreyscale, kCmyk };

struct PhotoFileCheck {
  uint64_t bytes = 0;
  int width = 0;  // 0 when the header was not read
  int height = 0;
  bool progressive = false;
  PhotoColour colour = PhotoColour::kUnknown;
  std::vector<PhotoDefect> defects;
  // The decoder's or file system's message (English), or the target of a link.
  std::string detail;
  // PhotoRules::advise's lines (UTF-8); they do not count as defects.
  std::vector<std::string> advice;

  bool valid() const { return defects.empty(); }
  bool Has(PhotoDefect d) const;
};

// Checks a photo's bytes. With rules.decode the data are decoded to the last pixel.
PhotoFileCheck CheckPhotoBytes(std::string_view bytes, const PhotoRules& rules);

// Checks the file at `path` without following a link or opening anything but a regular file.
PhotoFileCheck CheckPhotoFile(const std::string& path, const PhotoRules& rules,
                              FileSystem& fs = FileSystem::Default());

// The defect as the operator reads it (UTF-8); `check` supplies the figures it quotes.
std::string PhotoDefectText(PhotoDefect defect, const PhotoFileCheck& check,
                            const PhotoRules& rules);
// All defects of `check`, joined by "；".
std::string PhotoDefectsText(const PhotoFileCheck& check, const PhotoRules& rules);

// Why a key names no photo file, as the operator reads it (UTF-8).
std::string KeyRefusalText(KeyRefusal refusal);

// True when width:height is 3:4 within one pixel of either side.
bool IsThreeByFour(int width, int height);

// One student of the roster, as the caller read it.
struct RosterStudent {
  int recno = 0;
  std::string key_gbk;   // the key field's value as stored
  std::string name_gbk;  // the name, when the roster has one
};

enum class StudentPhotoState {
  kValid,       // a photo that passes every check
  kInvalid,     // a photo is there but fails a check (see `check`)
  kMissing,     // no file of that name
  kRefusedKey,  // the key cannot name a photo file (see `refusal`)
};

struct StudentPhoto {
  RosterStudent student;
  StudentPhotoState state = StudentPhotoState::kMissing;
  KeyRefusal refusal = KeyRefusal::kNone;
  std::string file_name;  // "<trimmed key>.jpg" in UTF-8, empty for a refused key
  PhotoFileCheck check;
  // Another student earlier in the roster has the same trimmed key (index into `students`);
  // both would share one photo. -1 when the key is unique.
  int duplicate_of = -1;
};

enum class StrayKind {
  kUnmatched,  // names no student of the roster
  kTempFile,   // left by a photo save that was interrupted
  kNearMatch,  // differs from a student's photo name only by letter case or blanks
};

struct StrayEntry {
  StrayKind kind = StrayKind::kUnmatched;
  std::string name;     // UTF-8, as in the folder
  bool folder = false;  // a folder, not a file
  int student = -1;     // kNearMatch: index into `students`
};

struct RosterPhotoCheck {
  std::string folder;  // the photo folder checked
  bool folder_exists = false;
  std::vector<StudentPhoto> students;  // in roster order
  std::vector<StrayEntry> strays;      // in name order
  int valid = 0, invalid = 0, missing = 0, refused = 0, duplicates = 0;

  // Every student has a valid photo of their own and the folder holds nothing else.
  bool AllGood() const;
};

// Lists the store's photo folder once and checks it against `students`; photos are read through
// the store. Every folder entry that no student claims is a stray.
// `progress` hears (students checked, students in all) before each student and at the end.
RosterPhotoCheck CheckRosterPhotos(const std::vector<RosterStudent>& students,
                                   const PhotoStore& store, const PhotoRules& rules,
                                   const std::function<void(int, int)>& progress = {});

// True for the names PhotoStore::WritePhoto gives its temporary files.
bool IsPhotoTempFileName(std::string_view name);

// Remembers the check of each photo file while its size and modification time stay the same, so
// that drawing a grid of students decodes each photo once, and a photo stored again is checked
// again.
class PhotoCheckCache {
 public:
  enum class Result { kNoFile, kValid, kInvalid };

  explicit PhotoCheckCache(PhotoRules rules = {}) : rules_(rules) {}
  const PhotoRules& rules() const { return rules_; }

  // kNoFile when no regular file is at `path` (as PhotoStore::PhotoExists); otherwise whether
  // the file passes CheckPhotoFile. One file-system query when the verdict is known.
  Result Check(const std::string& path, FileSystem& fs = FileSystem::Default());
  void Clear() { entries_.clear(); }

 private:
  struct Entry {
    FileStamp stamp;
    bool valid = false;
  };
  PhotoRules rules_;
  std::unordered_map<std::string, Entry> entries_;
};

// Quality steps of the checked store: from kPhotoJpegQuality down by kQualityStep, never below
// kMinPhotoQuality.
inline constexpr int kQualityStep = 5;
inline constexpr int kMinPhotoQuality = 30;

struct StoredPhoto {
  int quality = 0;
  uint64_t bytes = 0;
  bool over_limit = false;  // even kMinPhotoQuality did not fit; stored at that quality
};

// Thrown when a photo was written but does not read back as the picture stored.
class EPhotoCheckError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Encodes `picture` at kPhotoJpegQuality, lowering the quality step by step only as far as
// needed to fit `max_bytes`, writes it through `store` (atomically, see WritePhoto), reads the
// file back and checks it completely. Throws what WritePhoto throws, and EPhotoCheckError when
// the file read back is not the photo written.
StoredPhoto StoreCheckedPhoto(const PhotoStore& store, const std::string& path,
                              const Bitmap& picture, uint64_t max_bytes = kDefaultMaxPhotoBytes);

// The checked store of a photo file kept byte for byte (it already passes the photo check):
// written through `store`, read back and compared. Throws as StoreCheckedPhoto.
StoredPhoto StoreCheckedPhotoBytes(const PhotoStore& store, const std::string& path,
                                   std::string_view jpeg);

// The status-bar text for a stored photo whose quality was lowered (UTF-8); empty when it was
// stored at kPhotoJpegQuality.
std::string StoredPhotoStatus(const StoredPhoto& stored, uint64_t max_bytes);

}  // namespace mirestal
