#include <algorithm>
#include <cctype>
#include <filesystem>

#include "platform/gbk.h"
#include "platform/paths.h"
#include "table/dbf_table.h"
#include "table/memo.h"

namespace mirestal {
namespace {

bool KnownVersion(uint8_t v) {
  return v == dbf::kVersionDbase3 || v == dbf::kVersionDbase3Alt || v == dbf::kVersionVfp ||
         v == dbf::kVersionDbase3Memo || v == dbf::kVersionDbase4Memo ||
         v == dbf::kVersionFoxMemo;
}

// Fixed widths of the binary field types of version 0x30 tables.
int BinaryWidth(char type) {
  switch (type) {
    case 'B': case 'T': case 'Y': return 8;
    case 'I': case 'M': case 'G': return 4;
    default: return 0;
  }
}

std::string TablePath(const std::string& path) {
  std::filesystem::path p = FsPath(path);
  if (!p.has_extension()) {
    // Tables written on Linux are usually named in lower case; the upper-case default
    // extension is kept when neither form exists, so that the message names it.
    std::filesystem::path upper = p;
    upper += ".DBF";
    std::filesystem::path lower = p;
    lower += ".dbf";
    p = (!std::filesystem::exists(upper) && std::filesystem::exists(lower)) ? lower : upper;
  }
  std::error_code ec;
  std::filesystem::path abs = std::filesystem::absolute(p, ec);
  return Utf8Path((ec ? p : abs).lexically_normal());
}

std::string AliasOf(const std::string& path) {
  std::string stem = Utf8Path(FsPath(path).stem());
  for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return stem;
}

}  // namespace

DbfFile::DbfFile(FileSystem& fs) : DiskFile(fs) {}

DbfFile::~DbfFile() {
  try {
    CloseTable();
  } catch (...) {
    // A header that cannot be written while the table object is destroyed cannot be
    // reported any more; the records themselves were written by their own operations.
  }
}

void DbfFile::OpenTable(const std::string& path, bool read_write, bool shared,
                        const std::string& password) {
  std::string full = TablePath(path);
  if (!fs_.Exists(full)) throw ETableError(FormatMessage("File %s could not be found", {full}));
  alias_ = AliasOf(full);
  OpenDisk(full, read_write, shared);
  try {
    if (ReadAt(0, header_, dbf::kHeaderSize) != dbf::kHeaderSize) {
      throw ETableError(FormatMessage("Error on Read of file %s", {full}));
    }
    version_ = header_[dbf::kOffVersion];
    const std::string invalid = FormatMessage("Table Header for %s is invalid", {full});
    if (!KnownVersion(version_)) throw ETableError(invalid);
    header_length_ = dbf::Get16(header_ + dbf::kOffHeaderLength);
    record_length_ = dbf::Get16(header_ + dbf::kOffRecordLength);
    flag_bits_ = header_[dbf::kOffFlags] & 0x07;
    stamp_ = dbf::Get32(header_ + dbf::kOffStamp);
    enciphered_ = header_[dbf::kOffEncrypted] != 0;
    if (enciphered_ && password.empty()) {
      throw ETableEncryption(FormatMessage("No Password for encrypted file %s", {full}));
    }
    if (!enciphered_ && !password.empty()) {
      throw ETableEncryption(
          FormatMessage("A Password is included for unencrypted file %s", {full}));
    }
    // The header is checked before it is trusted: sizes that cannot describe a table are
    // refused here instead of driving allocations and reads later.
    const int extra = version_ == dbf::kVersionVfp ? dbf::kBackLinkSize : 0;
    if (record_length_ == 0) throw ETableError(invalid);
    if (header_length_ < dbf::kHeaderSize + dbf::kDescriptorSize + 1 + extra) {
      throw ETableError(invalid);
    }
    memo_present_ = version_ == dbf::kVersionVfp ? (flag_bits_ & 0x02) != 0
                                                  : (version_ == dbf::kVersionDbase3Memo ||
                                                     version_ == dbf::kVersionDbase4Memo ||
                                                     version_ == dbf::kVersionFoxMemo);
    uint64_t size = FileSize();
    uint64_t count = size > static_cast<uint64_t>(header_length_)
                         ? (size - header_length_) / record_length_
                         : 0;
    record_count_ = static_cast<int32_t>(std::min<uint64_t>(count, INT32_MAX));

    int area = header_length_ - 1 - dbf::kHeaderSize - extra;
    int slots = area / dbf::kDescriptorSize;
    if (slots > dbf::kMaxFields) throw ETableError(invalid);
    descriptors_.assign(static_cast<size_t>(slots) * dbf::kDescriptorSize, 0);
    ReadExact(dbf::kHeaderSize, descriptors_.data(), descriptors_.size());
    // Fields end at the 0x0D terminator, so that padding after the descriptors is not read as
    // fields made of whatever bytes lie there.
    field_count_ = 0;
    while (field_count_ < slots &&
           descriptors_[field_count_ * dbf::kDescriptorSize] != dbf::kDescriptorEnd) {
      ++field_count_;
    }
    descriptors_.resize(static_cast<size_t>(field_count_) * dbf::kDescriptorSize);

    int64_t position = 1;
    for (int f = 1; f <= field_count_; ++f) {
      unsigned char* d = MutableDescriptor(f);
      char type = static_cast<char>(d[dbf::kDescType]);
      int length = d[dbf::kDescLength];
      if (type == 'C') length += 256 * d[dbf::kDescDecimals];
      if (version_ == dbf::kVersionVfp && BinaryWidth(type) > length) {
        throw ETableError(invalid);
      }
      dbf::Put32(d + dbf::kDescPosition, static_cast<uint32_t>(position));
      dbf::Put16(d + dbf::kDescNumber, static_cast<uint16_t>(f));
      position += length;
    }
    if (position > record_length_) throw ETableError(invalid);

    own_buffer_.assign(record_length_ + 1, ' ');
    own_buffer_[record_length_] = dbf::kEndOfFile;
    current_buffer_ = own_buffer_.data();
    copy_buffer_.assign(record_length_, ' ');
    scratch_buffer_.assign(record_length_ + 1, ' ');
    changed_.assign(field_count_ + 1, 0);
    current_record_ = 0;
    at_end_ = false;
    at_begin_ = true;
  } catch (...) {
    CloseDisk();
    throw;
  }
}

void DbfFile::CloseTable() {
  if (!IsOpen()) return;
  struct Closer {
    DbfFile* self;
    ~Closer() {
      self->memo_.reset();
      self->CloseDisk();
    }
  } closer{this};
  if (header_dirty_ && read_write_) WriteHeader();
}

void DbfFile::ReadRecordCopy(int record, char* buffer) {
  uint64_t offset = static_cast<uint64_t>(header_length_) +
                    static_cast<uint64_t>(record - 1) * static_cast<uint64_t>(record_length_);
  ReadExact(offset, buffer, record_length_);
}

void DbfFile::ReadRecord(int record) {
  ReadRecordCopy(record, current_buffer_);
  current_record_ = record;
  std::copy(current_buffer_, current_buffer_ + record_length_, copy_buffer_.begin());
  std::fill(changed_.begin(), changed_.end(), 0);
}

void DbfFile::MoveTo(int target) {
  if (record_count_ == 0) {
    at_end_ = at_begin_ = true;
    return;
  }
  if (target == 0) return;
  at_end_ = at_begin_ = false;
  int record;
  switch (target) {
    case kMoveCurrent: record = current_record_; break;
    case kMoveBottom: record = record_count_; break;
    case kMoveTop: record = 1; break;
    case kMovePrevious:
      if (current_record_ <= 1) {
        at_begin_ = true;
        return;
      }
      record = current_record_ - 1;
      break;
    case kMoveNext: record = current_record_ + 1; break;
    default:
      if (target < 0) {
        throw ETableError(FormatMessage("Record number %d is not in table %s",
                                        {std::to_string(target), name_}));
      }
      record = target;
  }
  if (record > record_count_) {
    if (shared_) RefreshHeader();
    if (record > record_count_ + 1) {
      throw ETableError(FormatMessage("Record number %d is not in table %s",
                                      {std::to_string(record), name_}));
    }
    if (record > record_count_) {
      at_end_ = true;
      return;
    }
  }
  if (record < 1) {
    at_begin_ = true;
    return;
  }
  ReadRecord(record);
}

MemoFile& DbfFile::Memo() {
  if (!memo_) memo_ = MemoFile::OpenFor(*this);
  return *memo_;
}

}  // namespace mirestal
