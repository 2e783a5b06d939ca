#include "platform/file.h"
#include "table/dbf_table.h"
#include "table/read_cache.h"

namespace mirestal {

DiskFile::DiskFile(FileSystem& fs) : fs_(fs) {}

DiskFile::~DiskFile() = default;

void DiskFile::OpenDisk(const std::string& path, bool read_write, bool shared) {
  name_ = path;
  read_write_ = read_write;
  shared_ = shared;
  try {
    file_ = fs_.Open(path, read_write ? Access::kReadWrite : Access::kRead,
                     shared ? Share::kReadWrite : Share::kNone);
    if (!shared) file_ = std::make_unique<ReadCacheFile>(std::move(file_));
  } catch (const IoError& e) {
    if (e.kind() == IoErrorKind::kNotFound)
      throw ETableError(FormatMessage("File %s could not be found", {path}));
    throw ETableError(FormatMessage("Access denied to file %s", {path}));
  }
}

void DiskFile::CloseDisk() { file_.reset(); }

size_t DiskFile::ReadAt(uint64_t offset, void* buffer, size_t n) {
  try {
    return file_->ReadAt(offset, buffer, n);
  } catch (const IoError&) {
    throw ETableError(FormatMessage("Error on Read of file %s", {name_}));
  }
}

void DiskFile::ReadExact(uint64_t offset, void* buffer, size_t n) {
  if (ReadAt(offset, buffer, n) != n) {
    throw ETableError(FormatMessage("Error on Read of file %s", {name_}));
  }
}

void DiskFile::WriteAt(uint64_t offset, const void* data, size_t n) {
  try {
    file_->WriteAt(offset, data, n);
    written_since_flush_ = true;
  } catch (const IoError&) {
    throw ETableError(FormatMessage("Error writing to %s", {name_}));
  }
}

uint64_t DiskFile::FileSize() {
  try {
    return file_->Size();
  } catch (const IoError&) {
    throw ETableError(FormatMessage("Error getting FileSize for file %s", {name_}));
  }
}

void DiskFile::FlushDisk() {
  try {
    file_->Flush();
    written_since_flush_ = false;
  } catch (const IoError&) {
    throw ETableError(FormatMessage("Error on Flush for file %s", {name_}));
  }
}

void DiskFile::TruncateDisk(uint64_t size) {
  if (!read_write_ || (shared_ && lock_count_ == 0)) {
    throw ETableError(FormatMessage("%s requires full access to file %s", {"Truncate", name_}));
  }
  try {
    file_->Truncate(size);
  } catch (const IoError&) {
    throw ETableError(FormatMessage("Error in Truncate of file %s", {name_}));
  }
}

}  // namespace mirestal
