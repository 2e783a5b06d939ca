// The one lock primitive of the engine.
//
// A file opened exclusively cannot be reached by anyone else, so locks there are bookkeeping
// only: no operating-system call is made and a lock always succeeds. A shared file takes an
// operating-system byte-range lock (fcntl record lock on Linux) on the first level; nested
// levels must name the same range and only count.
#include "table/dbf_table.h"

namespace mirestal {

bool DiskFile::LockRegion(uint64_t offset, uint64_t length) {
  if (!shared_) {
    if (lock_count_ == 0) {
      lock_offset_ = offset;
      lock_length_ = length;
    }
    ++lock_count_;
    return true;
  }
  if (lock_count_ > 0) {
    if (offset != lock_offset_ || length != lock_length_) return false;
    ++lock_count_;
    return true;
  }
  if (!file_) return false;
  bool locked = false;
  try {
    locked = file_->LockRange(offset, length);
  } catch (const IoError&) {
    locked = false;  // the caller reports the refusal in its own words
  }
  if (!locked) return false;
  lock_offset_ = offset;
  lock_length_ = length;
  lock_count_ = 1;
  return true;
}

void DiskFile::UnlockRegion() {
  if (lock_count_ == 0) return;
  if (--lock_count_ > 0 || !shared_) return;
  if (!file_) return;
  try {
    file_->UnlockRange(lock_offset_, lock_length_);
  } catch (const IoError&) {
    throw ETableError(FormatMessage("Error in Unlock of file %s", {name_}));
  }
}

}  // namespace mirestal
