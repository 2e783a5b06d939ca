#include "xls/compound_file.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "xls/cfb_format.h"

namespace mirestal::xls {

namespace {

void Put16(std::string& b, size_t at, uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}
void Put32(std::string& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t CeilDiv(uint64_t a, uint64_t b) { return static_cast<uint32_t>((a + b - 1) / b); }

// One directory entry of 128 bytes; `name` empty gives an unused entry.
void PutEntry(std::string& b, size_t at, std::u16string_view name, uint8_t type, uint32_t child,
              uint32_t start, uint32_t size) {
  Put32(b, at + cfb::kEntryLeft, cfb::kNoStream);
  Put32(b, at + cfb::kEntryRight, cfb::kNoStream);
  Put32(b, at + cfb::kEntryChild, child);
  if (name.empty()) return;
  for (size_t i = 0; i < name.size(); ++i) Put16(b, at + cfb::kEntryName + 2 * i, name[i]);
  Put16(b, at + cfb::kEntryNameLength, static_cast<uint16_t>(2 * (name.size() + 1)));
  b[at + cfb::kEntryType] = static_cast<char>(type);
  b[at + cfb::kEntryColor] = static_cast<char>(cfb::kBlack);
  Put32(b, at + cfb::kEntryStartSector, start);
  Put32(b, at + cfb::kEntrySize, size);
}

}  // namespace

CompoundFileWriter::CompoundFileWriter(FileSystem& fs, std::string path, std::u16string stream_name)
    : fs_(fs), path_(std::move(path)), stream_name_(std::move(stream_name)) {
  if (stream_name_.empty() || stream_name_.size() > 31) {
    throw std::invalid_argument("compound file stream names have 1 to 31 characters");
  }
  // Beside the target, so that the finished file can be renamed over it; named after it, so
  // that a file left by a killed process shows whose it was.
  const size_t slash = path_.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  file_ = fs_.CreateExclusiveTemp(folder, "." + name + ".tmp-", &temp_path_);
}

CompoundFileWriter::~CompoundFileWriter() {
  if (finished_ || abandoned_) return;
  try {
    Finish();
  } catch (...) {
    // Documented: a writer released without Finish() cannot report errors.
  }
}

void CompoundFileWriter::CheckOpen() const {
  if (finished_ || abandoned_) throw std::logic_error("compound file already closed");
}

size_t CompoundFileWriter::Write(const void* data, size_t n) {
  CheckOpen();
  if (position_ + n > 0xFFFFFFFFu) {
    throw std::length_error("a compound file stream cannot exceed 4 GB: " + path_);
  }
  if (!pending_.empty() && position_ != pending_at_ + pending_.size()) FlushPending();
  if (pending_.empty()) pending_at_ = position_;
  if (n >= kWriteBuffer) {
    FlushPending();
    file_->WriteAt(cfb::kSectorSize + position_, data, n);
  } else {
    pending_.append(static_cast<const char*>(data), n);
    if (pending_.size() >= kWriteBuffer) FlushPending();
  }
  position_ += n;
  size_ = std::max(size_, position_);
  return n;
}

void CompoundFileWriter::FlushPending() {
  if (pending_.empty()) return;
  // Cleared first: a failing write leaves nothing behind to be written again by a later call.
  std::string bytes;
  bytes.swap(pending_);
  pending_.reserve(kWriteBuffer);
  file_->WriteAt(cfb::kSectorSize + pending_at_, bytes.data(), bytes.size());
}

size_t CompoundFileWriter::Read(void* data, size_t n) {
  CheckOpen();
  FlushPending();
  if (position_ >= size_) return 0;
  n = static_cast<size_t>(std::min<uint64_t>(n, size_ - position_));
  size_t got = file_->ReadAt(cfb::kSectorSize + position_, data, n);
  // Bytes of a gap that was never written lie beyond the end of the file and read as zeros.
  if (got < n && cfb::kSectorSize + position_ + got >= file_->Size()) {
    std::memset(static_cast<char*>(data) + got, 0, n - got);
    got = n;
  }
  position_ += got;
  return got;
}

uint64_t CompoundFileWriter::Seek(int64_t offset, SeekOrigin origin) {
  CheckOpen();
  position_ = ResolveSeek(offset, origin, position_, size_);
  return position_;
}

void CompoundFileWriter::Finish() {
  CheckOpen();
  finished_ = true;
  try {
    FlushPending();
    WriteLayout();
    file_->Flush();
    file_.reset();
    fs_.Rename(temp_path_, path_);
  } catch (...) {
    RemoveTemp();
    throw;
  }
}

void CompoundFileWriter::Abandon() {
  if (abandoned_) return;
  abandoned_ = true;
  RemoveTemp();
}

void CompoundFileWriter::RemoveTemp() {
  pending_.clear();
  file_.reset();
  try {
    fs_.Remove(temp_path_);
  } catch (...) {
    // The error that made the writer give up is the one worth reporting (and after a failed
    // Finish the file may be gone already).
  }
}

void CompoundFileWriter::WriteLayout() {
  const uint32_t size = static_cast<uint32_t>(size_);
  const uint32_t data_sectors = CeilDiv(size, cfb::kSectorSize);
  const bool mini = size > 0 && size < cfb::kMiniStreamCutoff;
  const uint32_t mini_sectors = mini ? CeilDiv(size, cfb::kMiniSectorSize) : 0;

  uint32_t next = data_sectors;
  const uint32_t mini_fat_sector = mini ? next++ : cfb::kEndOfChain;
  const uint32_t directory_sector = next++;
  const uint32_t fat_start = next;
  uint32_t fat_count = CeilDiv(fat_start, cfb::kEntriesPerFatSector);
  uint32_t difat_count = 0;
  for (;;) {
    difat_count =
        fat_count > cfb::kFatSectorsInHeader
            ? CeilDiv(fat_count - cfb::kFatSectorsInHeader, cfb::kFatSectorsPerDifatSector)
            : 0;
    uint32_t need = CeilDiv(fat_start + fat_count + difat_count, cfb::kEntriesPerFatSector);
    if (need <= fat_count) break;
    fat_count = need;
  }
  const uint32_t difat_start = fat_start + fat_count;

  // Sectors from the mini FAT (or the directory) to the end, built in one buffer.
  const uint32_t first_trailer = data_sectors;
  const uint32_t trailer_sectors = difat_start + difat_count - first_trailer;
  std::string trailer(size_t{trailer_sectors} * cfb::kSectorSize, '\0');
  auto sector_at = [&](uint32_t sector) {
    return size_t{sector - first_trailer} * cfb::kSectorSize;
  };

  if (mini) {
    size_t at = sector_at(mini_fat_sector);
    for (uint32_t i = 0; i < cfb::kEntriesPerFatSector; ++i) {
      uint32_t v = i + 1 < mini_sectors    ? i + 1
                   : i + 1 == mini_sectors ? cfb::kEndOfChain
                                           : cfb::kFreeSect;
      Put32(trailer, at + 4 * i, v);
    }
  }

  size_t dir = sector_at(directory_sector);
  PutEntry(trailer, dir, u"Root Entry", cfb::kTypeRoot, 1, mini ? 0 : cfb::kEndOfChain,
           mini_sectors * cfb::kMiniSectorSize);
  PutEntry(trailer, dir + cfb::kDirectoryEntrySize, stream_name_, cfb::kTypeStream, cfb::kNoStream,
           size == 0 ? cfb::kEndOfChain : 0, size);
  PutEntry(trailer, dir + 2 * cfb::kDirectoryEntrySize, u"", 0, cfb::kNoStream, 0, 0);
  PutEntry(trailer, dir + 3 * cfb::kDirectoryEntrySize, u"", 0, cfb::kNoStream, 0, 0);

  // The FAT: one chain over the data sectors (the stream's, or the mini stream's).
  const uint32_t total_sectors = difat_start + difat_count;
  size_t fat = sector_at(fat_start);
  for (uint32_t s = 0; s < fat_count * cfb::kEntriesPerFatSector; ++s) {
    uint32_t v = cfb::kFreeSect;
    if (s < data_sectors) {
      v = s + 1 < data_sectors ? s + 1 : cfb::kEndOfChain;
    } else if (s == mini_fat_sector || s == directory_sector) {
      v = cfb::kEndOfChain;
    } else if (s >= fat_start && s < difat_start) {
      v = cfb::kFatSect;
    } else if (s >= difat_start && s < total_sectors) {
      v = cfb::kDifSect;
    }
    Put32(trailer, fat + 4 * s, v);
  }

  std::string header(cfb::kSectorSize, '\0');
  std::memcpy(header.data(), cfb::kSignature, sizeof cfb::kSignature);
  Put16(header, cfb::kHeaderMinorVersion, 0x003E);
  Put16(header, cfb::kHeaderMajorVersion, 3);
  Put16(header, cfb::kHeaderByteOrder, 0xFFFE);
  Put16(header, cfb::kHeaderSectorShift, 9);
  Put16(header, cfb::kHeaderMiniSectorShift, 6);
  Put32(header, cfb::kHeaderDirectorySectors, 0);
  Put32(header, cfb::kHeaderFatSectors, fat_count);
  Put32(header, cfb::kHeaderFirstDirectory, directory_sector);
  Put32(header, cfb::kHeaderTransaction, 0);
  Put32(header, cfb::kHeaderMiniCutoff, cfb::kMiniStreamCutoff);
  Put32(header, cfb::kHeaderFirstMiniFat, mini_fat_sector);
  Put32(header, cfb::kHeaderMiniFatSectors, mini ? 1 : 0);
  Put32(header, cfb::kHeaderFirstDifat, difat_count > 0 ? difat_start : cfb::kEndOfChain);
  Put32(header, cfb::kHeaderDifatSectors, difat_count);
  for (uint32_t i = 0; i < cfb::kFatSectorsInHeader; ++i) {
    Put32(header, cfb::kHeaderDifat + 4 * i, i < fat_count ? fat_start + i : cfb::kFreeSect);
  }
  for (uint32_t d = 0; d < difat_count; ++d) {
    size_t at = sector_at(difat_start + d);
    for (uint32_t i = 0; i < cfb::kFatSectorsPerDifatSector; ++i) {
      uint32_t index = cfb::kFatSectorsInHeader + d * cfb::kFatSectorsPerDifatSector + i;
      Put32(trailer, at + 4 * i, index < fat_count ? fat_start + index : cfb::kFreeSect);
    }
    Put32(trailer, at + 4 * cfb::kFatSectorsPerDifatSector,
          d + 1 < difat_count ? difat_start + d + 1 : cfb::kEndOfChain);
  }

  // Zeros after the stream's last byte up to the end of its sector, then the trailer.
  uint32_t tail = size % cfb::kSectorSize;
  if (tail != 0) {
    std::string zeros(cfb::kSectorSize - tail, '\0');
    file_->WriteAt(cfb::kSectorSize + uint64_t{size}, zeros.data(), zeros.size());
  }
  file_->WriteAt(cfb::kSectorSize + uint64_t{first_trailer} * cfb::kSectorSize, trailer.data(),
                 trailer.size());
  file_->WriteAt(0, header.data(), header.size());
}

std::unique_ptr<CompoundFileWriter> OpenWorkbookStorage(FileSystem& fs, const std::string& path) {
  return std::make_unique<CompoundFileWriter>(fs, path, u"Workbook");
}

// ---------------------------------------------------------------------------------------------

uint64_t ResolveSeek(int64_t offset, SeekOrigin origin, uint64_t position, uint64_t size) {
  int64_t base = origin == SeekOrigin::kBegin     ? 0
                 : origin == SeekOrigin::kCurrent ? static_cast<int64_t>(position)
                                                  : static_cast<int64_t>(size);
  int64_t target = base + offset;
  if (target < 0) throw std::out_of_range("seek before the start of the stream");
  return static_cast<uint64_t>(target);
}

size_t TMemoryStream::Write(const void* data, size_t n) {
  if (position_ > bytes_.size()) bytes_.resize(position_, '\0');
  size_t overlap = std::min<uint64_t>(n, bytes_.size() - position_);
  std::memcpy(bytes_.data() + position_, data, overlap);
  bytes_.append(static_cast<const char*>(data) + overlap, n - overlap);
  position_ += n;
  return n;
}

size_t TMemoryStream::Read(void* data, size_t n) {
  if (position_ >= bytes_.size()) return 0;
  n = std::min<uint64_t>(n, bytes_.size() - position_);
  std::memcpy(data, bytes_.data() + position_, n);
  position_ += n;
  return n;
}

uint64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  position_ = ResolveSeek(offset, origin, position_, bytes_.size());
  return position_;
}

}  // namespace mirestal::xls
