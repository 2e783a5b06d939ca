// The upload package: a zip archive of exactly the valid photos of a photo check, each stored
// (not recompressed) at the top level as "<key>.jpg" with its name flagged as UTF-8.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <functional>
#include <string>
#include <vector>

#include "capture/photo_check.h"
#include "platform/file.h"

namespace mirestal {

// Refused or failed package; what() names the archive and the reason (UTF-8). No archive file
// is left behind by a failure; an archive that was there before stays as it was.
class EPackageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PackageResult {
  int photos = 0;
  uint64_t bytes = 0;  // photo bytes packaged
};

// Writes the photos of `check` whose state is kValid (a key shared by several students once)
// into the archive `zip_path`, replacing it. With `selected`, only students whose entry (by
// index into check.students) is true count. The archive is written to a temporary file beside
// it and renamed over it when complete. Refused before anything is written: no valid photo, a
// target inside the photo folder, a target that is a folder, a missing or read-only folder. Photos
// are read through `fs` at the time of writing; one that is no longer the regular file of the size
// checked fails the package.
// `progress` hears the share written (0 to 1) while the archive is written.
PackageResult WritePhotoPackage(const RosterPhotoCheck& check, const std::string& zip_path,
                                const std::vector<bool>* selected = nullptr,
                                FileSystem& fs = FileSystem::Default(),
                                const std::function<void(double)>& progress = {});

// True when `path` is inside `folder` (or is the folder), symbolic links and ".." resolved as
// far as the paths exist.
bool IsInsideFolder(const std::string& path, const std::string& folder);

}  // namespace mirestal
