// Record writing: field puts into the current buffer, append, rewrite, delete mark, header
// write and refresh, flush, truncate and the lock protocols.
//
// Every operation that reaches the file leaves it consistent when it fails: a failed append is
// taken back (count, cursor and the bytes behind the last record), so that posting again cannot
// add the student twice; a failed rewrite puts the record's previous bytes back.
#include <sys/time.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <limits>
#include <string_view>
#include <vector>

#include "platform/gbk.h"
#include "table/dbf_table.h"
#include "table/memo.h"
#include "table/write_internal.h"

namespace mirestal {

namespace write_internal {

LockRange TableLockRange(TLockProtocol protocol) {
  switch (protocol) {
    case TLockProtocol::DB4Lock:
      return {0x40000000u, 0xB0000000u};
    case TLockProtocol::ClipLock:
      return {1000000000u, 1000000000u};
    case TLockProtocol::Default:
    case TLockProtocol::FoxLock:
      break;
  }
  return {0x40000000u, 0x3FFFFFFFu};
}

LockRange AppendLockRange(TLockProtocol protocol) {
  switch (protocol) {
    case TLockProtocol::DB4Lock:
      return {0xEFFFFFFFu, 1};
    case TLockProtocol::ClipLock:
      return {1000000000u, 1};
    case TLockProtocol::Default:
    case TLockProtocol::FoxLock:
      break;
  }
  return {0x7FFFFFFEu, 1};
}

LockRange RecordLockRange(TLockProtocol protocol, int record, int header_length,
                          int record_length) {
  switch (protocol) {
    case TLockProtocol::DB4Lock:
      return {0xEFFFFFFFu - static_cast<uint64_t>(record) - 1, 1};
    case TLockProtocol::ClipLock:
      return {1000000000u + static_cast<uint64_t>(record), 1};
    case TLockProtocol::Default:
    case TLockProtocol::FoxLock:
      break;
  }
  return {0x40000000u + static_cast<uint64_t>(header_length) +
              static_cast<uint64_t>(record - 1) * static_cast<uint64_t>(record_length),
          1};
}

std::optional<std::string> FormatFixed(double value, int decimals) {
  if (!std::isfinite(value)) return std::nullopt;
  // At most 309 integer digits, a sign, a point and 99 decimals.
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%.*f", std::clamp(decimals, 0, 99), value);
  std::string_view text(buffer);
  // "-0.00" is what a tiny negative value rounds to; it is zero, and written as such.
  if (text[0] == '-' && text.find_first_not_of("-0.") == std::string_view::npos) {
    text.remove_prefix(1);
  }
  return std::string(text);
}

std::string NumberTooBigMessage(std::string_view field_name, std::string_view text) {
  return FormatMessage("numeric value too big in field %s",
                       {GbkToUtf8(field_name) + " - " + std::string(text)});
}

uint32_t CurrentStamp(int* year, int* month, int* day) {
  struct timeval tv;
  ::gettimeofday(&tv, nullptr);
  time_t seconds = tv.tv_sec;
  struct tm local;
  ::localtime_r(&seconds, &local);
  *year = local.tm_year + 1900;
  *month = local.tm_mon + 1;
  *day = local.tm_mday;
  uint32_t ms = static_cast<uint32_t>(tv.tv_usec / 1000);
  return ((static_cast<uint32_t>(local.tm_hour) * 64 + static_cast<uint32_t>(local.tm_min)) * 64 +
          static_cast<uint32_t>(std::min(local.tm_sec, 59))) *
             1024 +
         ms;
}

uint32_t FillHeaderImage(unsigned char* image, uint32_t record_count, bool enciphered,
                         int32_t user_id, uint8_t flag_bits) {
  int year, month, day;
  uint32_t stamp = CurrentStamp(&year, &month, &day);
  image[dbf::kOffDate] = static_cast<unsigned char>(year % 100);
  image[dbf::kOffDate + 1] = static_cast<unsigned char>(month);
  image[dbf::kOffDate + 2] = static_cast<unsigned char>(day);
  dbf::Put32(image + dbf::kOffRecordCount, record_count);
  image[dbf::kOffEncrypted] = enciphered ? 1 : 0;
  dbf::Put32(image + dbf::kOffStamp, stamp);
  dbf::Put32(image + dbf::kOffUser, static_cast<uint32_t>(user_id));
  image[dbf::kOffFlags] = flag_bits & 0x07;
  return stamp;
}

}  // namespace write_internal

using write_internal::AppendLockRange;
using write_internal::RecordLockRange;
using write_internal::TableLockRange;

namespace {

// Releases one lock level when the scope ends, also when an error unwinds.
class UnlockOnExit {
 public:
  explicit UnlockOnExit(DbfFile& file) : file_(file) {}
  ~UnlockOnExit() { file_.Unlock(); }
  UnlockOnExit(const UnlockOnExit&) = delete;
  UnlockOnExit& operator=(const UnlockOnExit&) = delete;

 private:
  DbfFile& file_;
};

// Block number of a memo field held as decimal text (blanks around it); 0 for anything else.
uint32_t BlockNumberText(const char* text, int length) {
  std::string_view s(text, static_cast<size_t>(length));
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  uint32_t block = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), block);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() ? block : 0;
}

uint64_t RecordOffset(int header_length, int record_length, int record) {
  return static_cast<uint64_t>(header_length) +
         static_cast<uint64_t>(record - 1) * static_cast<uint64_t>(record_length);
}

}  // namespace

// --- DbfFile -------------------------------------------------------------------------------

void DbfFile::RaiseWriteError() {
  throw ETableError(FormatMessage("Error writing to %s", {name_}));
}

bool DbfFile::LockRecord(int record) {
  auto range = RecordLockRange(lock_protocol, record, header_length_, record_length_);
  return LockRegion(range.offset, range.length);
}

bool DbfFile::LockAppend() {
  auto range = AppendLockRange(lock_protocol);
  return LockRegion(range.offset, range.length);
}

bool DbfFile::LockTable() {
  auto range = TableLockRange(lock_protocol);
  if (!LockRegion(range.offset, range.length)) return false;
  table_locked_ = true;
  return true;
}

void DbfFile::Unlock() {
  UnlockRegion();
  if (lock_count_ == 0) table_locked_ = false;
}

void DbfFile::WriteHeader() {
  if (!read_write_ || !header_dirty_ || table_locked_ || !IsOpen()) return;
  unsigned char image[dbf::kHeaderSize];
  std::memcpy(image, header_, sizeof image);
  uint32_t stamp = write_internal::FillHeaderImage(image, static_cast<uint32_t>(record_count_),
                                                   enciphered_, user_id, flag_bits_);
  WriteAt(0, image, sizeof image);
  std::memcpy(header_, image, sizeof image);
  stamp_ = stamp;
  header_dirty_ = false;
}

void DbfFile::RefreshHeader() {
  if (!shared_) return;
  unsigned char image[dbf::kHeaderSize];
  ReadExact(0, image, sizeof image);
  uint64_t size = FileSize();
  uint64_t count =
      size > static_cast<uint64_t>(header_length_)
          ? (size - static_cast<uint64_t>(header_length_)) / static_cast<uint64_t>(record_length_)
          : 0;
  int32_t derived = static_cast<int32_t>(std::min<uint64_t>(count, INT32_MAX));
  uint32_t stamp = dbf::Get32(image + dbf::kOffStamp);
  if (derived != record_count_ || stamp != stamp_) changed_by_other_ = true;
  record_count_ = derived;
  stamp_ = stamp;
  std::memcpy(header_, image, sizeof image);
}

void DbfFile::Flush() {
  FlushDisk();
  // The memo file is opened here at the latest, so that a missing one is reported by the first
  // posted change of a table that has memo fields.
  if (memo_present_) Memo().FlushDisk();
}

void DbfFile::Truncate(uint64_t size) {
  if (!read_write_ || (shared_ && !table_locked_)) {
    throw ETableError(FormatMessage("%s requires full access to file %s", {"Truncate", name_}));
  }
  TruncateDisk(size);
}

void DbfFile::AppendCurrent() {
  // With auto-flush the flush after the write opens the memo file; opening it first makes a
  // missing memo file fail the post before anything is written.
  if (auto_flush && memo_present_) Memo();
  if (!LockAppend()) throw ETableError("Record is locked by another user");
  // The append lock is held through the flush, so that taking a failed append back cannot cut
  // a record another program appended meanwhile (shared mode; exclusive locks only count).
  UnlockOnExit unlock(*this);
  const int32_t old_current = current_record_;
  uint64_t offset = 0;
  bool wrote = false;
  try {
    buffer_changed_ = true;
    header_dirty_ = true;
    RefreshHeader();
    offset = RecordOffset(header_length_, record_length_, record_count_ + 1);
    // The record and the end-of-file marker go out in one write from the scratch buffer: the
    // caller's buffer may be exactly one record long.
    if (scratch_buffer_.size() < static_cast<size_t>(record_length_) + 1) {
      scratch_buffer_.resize(static_cast<size_t>(record_length_) + 1);
    }
    current_buffer_[0] = dbf::kActiveFlag;
    std::memcpy(scratch_buffer_.data(), current_buffer_, record_length_);
    scratch_buffer_[record_length_] = dbf::kEndOfFile;
    wrote = true;
    WriteAt(offset, scratch_buffer_.data(), static_cast<size_t>(record_length_) + 1);
    record_count_ = record_count_ + 1;
    current_record_ = record_count_;
    WriteHeader();
    at_end_ = at_begin_ = false;
    if (auto_flush) Flush();
  } catch (...) {
    if (wrote) {
      // Take the record back: the dataset stays in insert state, and posting again must write
      // the student at the same place instead of behind a half-written copy.
      record_count_ = static_cast<int32_t>((offset - static_cast<uint64_t>(header_length_)) /
                                           static_cast<uint64_t>(record_length_));
      current_record_ = old_current;
      try {
        file_->Truncate(offset);
        const char marker = dbf::kEndOfFile;
        file_->WriteAt(offset, &marker, 1);
        header_dirty_ = true;
        WriteHeader();
      } catch (...) {
        // The count derived from the file size at the next open ignores a partial record.
      }
    }
    throw;
  }
  std::memcpy(copy_buffer_.data(), current_buffer_,
              std::min(copy_buffer_.size(), static_cast<size_t>(record_length_)));
}

void DbfFile::RewriteRecord(int record) {
  if (record <= 0 || record > record_count_) {
    AppendCurrent();
    return;
  }
  if (auto_flush && memo_present_) Memo();
  header_dirty_ = true;
  const uint64_t offset = RecordOffset(header_length_, record_length_, record);
  try {
    WriteAt(offset, current_buffer_, static_cast<size_t>(record_length_));
  } catch (...) {
    // A write that stopped half way leaves a torn record; put back the bytes it had, which the
    // copy buffer holds while the cursor stands on it.
    if (current_record_ == record && copy_buffer_.size() >= static_cast<size_t>(record_length_)) {
      try {
        file_->WriteAt(offset, copy_buffer_.data(), static_cast<size_t>(record_length_));
      } catch (...) {
      }
    }
    throw;
  }
  // The blocks of dBase IV memo texts this write replaced are given back now that the record on
  // disk no longer refers to them (not when the new text was written: until the post, a cancel
  // keeps the old text).
  std::vector<uint32_t> replaced;
  if (version_ == dbf::kVersionDbase4Memo && memo_present_ && current_record_ == record &&
      copy_buffer_.size() >= static_cast<size_t>(record_length_)) {
    for (int f = 1; f <= field_count_; ++f) {
      const unsigned char* d = descriptors_.data() + (f - 1) * dbf::kDescriptorSize;
      char type = static_cast<char>(d[dbf::kDescType]);
      if (type != 'M' && type != 'B' && type != 'G') continue;
      uint32_t position = dbf::Get32(d + dbf::kDescPosition);
      int length = d[dbf::kDescLength];
      if (position + length > static_cast<uint32_t>(record_length_)) continue;
      uint32_t old_block = BlockNumberText(copy_buffer_.data() + position, length);
      if (old_block != 0 && old_block != BlockNumberText(current_buffer_ + position, length)) {
        replaced.push_back(old_block);
      }
    }
  }
  current_record_ = record;
  record_written_ = true;
  RefreshHeader();
  WriteHeader();
  std::memcpy(copy_buffer_.data(), current_buffer_,
              std::min(copy_buffer_.size(), static_cast<size_t>(record_length_)));
  for (uint32_t block : replaced) {
    try {
      Memo().ReleaseMemo(block);
    } catch (const ETableError&) {
      // Blocks that cannot be given back stay unused; the record is written.
    }
  }
  if (auto_flush) Flush();
}

void DbfFile::MarkDeleted() {
  if (current_buffer_[0] == dbf::kDeletedFlag) return;
  if (current_record_ < 1 || current_record_ > record_count_) {
    // Without a record under the cursor the rewrite would append a deleted record.
    throw ETableError("Cannot delete the record");
  }
  const char before = current_buffer_[0];
  current_buffer_[0] = dbf::kDeletedFlag;
  if (!changed_.empty()) changed_[0] = 1;
  buffer_changed_ = true;
  try {
    RewriteRecord(current_record_);
  } catch (...) {
    current_buffer_[0] = before;
    throw;
  }
}

void DbfFile::Recall() {
  if (current_buffer_[0] != dbf::kDeletedFlag) return;
  if (current_record_ < 1 || current_record_ > record_count_) {
    throw ETableError("Cannot recall the record");
  }
  current_buffer_[0] = dbf::kActiveFlag;
  if (!changed_.empty()) changed_[0] = 1;
  buffer_changed_ = true;
  try {
    RewriteRecord(current_record_);
  } catch (...) {
    current_buffer_[0] = dbf::kDeletedFlag;
    throw;
  }
}

// --- DbfFieldAccess puts -------------------------------------------------------------------

namespace {

// Types that hold a number written as text.
bool TextNumberType(char type, bool vfp) {
  switch (type) {
    case 'N':
    case 'F':
      return true;
    case 'B':
    case 'G':
    case 'M':
      return !vfp;
    default:
      return false;
  }
}

bool MemoType(char type, bool vfp) { return type == 'M' || type == 'G' || (type == 'B' && !vfp); }

}  // namespace

void DbfFieldAccess::BlankRecord() {
  std::memset(current_buffer_, ' ', static_cast<size_t>(record_length_));
  const bool vfp = version_ == dbf::kVersionVfp;
  for (int f = 1; f <= field_count_; ++f) {
    char type = FieldType(f);
    char* at = current_buffer_ + FieldOffset(f);
    int length = FieldLength(f);
    if (vfp && IsBinaryField(f)) {
      std::memset(at, 0, static_cast<size_t>(length));
    } else if (type == 'N' || type == 'F') {
      auto text = write_internal::FormatFixed(0.0, FieldDecimals(f));
      if (text && static_cast<int>(text->size()) <= length) {
        std::memcpy(at + length - text->size(), text->data(), text->size());
      }
    }
  }
  std::fill(changed_.begin(), changed_.end(), 1);
  buffer_changed_ = true;
}

void DbfFieldAccess::PutFieldRawText(int field, std::string_view text) {
  if (!ValidField(field)) return;
  const char type = FieldType(field);
  const size_t length = static_cast<size_t>(FieldLength(field));
  const bool left = type == 'C' || type == 'D' || type == 'L';
  size_t keep = std::min(text.size(), length);
  // A character field never keeps the first half of a double-byte character: the cut goes
  // before it and a blank fills its place.
  if (type == 'C' && text.size() > length) keep = GbkSafePrefixLength(text, length);
  char* at = current_buffer_ + FieldOffset(field);
  std::memset(at, ' ', length);
  std::memcpy(left ? at : at + (length - keep), text.data(), keep);
  changed_[field] = 1;
  buffer_changed_ = true;
}

void DbfFieldAccess::PutFieldNumber(int field, double value) {
  if (!ValidField(field)) return;
  const char type = FieldType(field);
  const bool vfp = version_ == dbf::kVersionVfp;
  const int length = FieldLength(field);
  char* at = current_buffer_ + FieldOffset(field);
  auto too_big = [&](const std::string& text) {
    throw ETableError(write_internal::NumberTooBigMessage(FieldName(field), text));
  };
  if (vfp && IsBinaryField(field)) {
    unsigned char bytes[8] = {};
    int width = 4;
    switch (type) {
      case 'B': {
        static_assert(sizeof(double) == 8);
        std::memcpy(bytes, &value, 8);
        width = 8;
        break;
      }
      case 'I':
      case 'M':
      case 'G': {
        double t = std::trunc(value);
        if (!(t >= INT32_MIN && t <= INT32_MAX))
          too_big(write_internal::FormatFixed(value, 0).value_or("NAN"));
        dbf::Put32(bytes, static_cast<uint32_t>(static_cast<int32_t>(t)));
        break;
      }
      case 'Y': {
        double scaled = std::nearbyint(value * 10000.0);
        if (!(scaled >= -9.2e18 && scaled <= 9.2e18))
          too_big(write_internal::FormatFixed(value, 4).value_or("NAN"));
        uint64_t v = static_cast<uint64_t>(static_cast<int64_t>(scaled));
        dbf::Put32(bytes, static_cast<uint32_t>(v));
        dbf::Put32(bytes + 4, static_cast<uint32_t>(v >> 32));
        width = 8;
        break;
      }
      case 'T': {
        width = 8;
        if (!(std::fabs(value) < 9.0e15))
          too_big(write_internal::FormatFixed(value, 0).value_or("NAN"));
        int64_t ms = static_cast<int64_t>(value);
        if (ms != 0) {
          int64_t day = ms / dbf::kMsPerDay;
          dbf::Put32(bytes, static_cast<uint32_t>(day + dbf::kJulianDayBeforeYear1));
          dbf::Put32(bytes + 4, static_cast<uint32_t>(ms - day * dbf::kMsPerDay));
        }
        break;
      }
      default:
        break;
    }
    std::memcpy(at, bytes, static_cast<size_t>(std::min(width, length)));
  } else if (TextNumberType(type, vfp)) {
    auto text =
        write_internal::FormatFixed(value, type == 'N' || type == 'F' ? FieldDecimals(field) : 0);
    if (!text) too_big(value != value ? "NAN" : (value > 0 ? "INF" : "-INF"));
    if (static_cast<int>(text->size()) > length) too_big(*text);
    std::memset(at, ' ', static_cast<size_t>(length));
    std::memcpy(at + (length - static_cast<int>(text->size())), text->data(), text->size());
  } else {
    throw ETableError(
        FormatMessage("Field %s is the incorrect type", {GbkToUtf8(FieldName(field))}));
  }
  changed_[field] = 1;
  buffer_changed_ = true;
}

void DbfFieldAccess::PutFieldLogical(int field, bool value) {
  if (!ValidField(field)) return;
  if (FieldType(field) != 'L') {
    throw ETableError(
        FormatMessage("Invalid %s value for field %s", {"Logical", GbkToUtf8(FieldName(field))}));
  }
  current_buffer_[FieldOffset(field)] = value ? 'T' : 'F';
  changed_[field] = 1;
  buffer_changed_ = true;
}

void DbfFieldAccess::PutFieldText(int field, std::string_view text) {
  if (!ValidField(field)) return;
  if (FieldType(field) != 'C') {
    throw ETableError(
        FormatMessage("Field %s is the incorrect type", {GbkToUtf8(FieldName(field))}));
  }
  PutFieldRawText(field, text);
}

void DbfFieldAccess::PutFieldMemo(int field, std::string_view text) {
  if (!ValidField(field)) return;
  const bool vfp = version_ == dbf::kVersionVfp;
  if (!MemoType(FieldType(field), vfp) || !memo_present_) {
    throw ETableError(
        FormatMessage("Field %s is the incorrect type", {GbkToUtf8(FieldName(field))}));
  }
  // A dBase III text ends at its first 0x1A and is read back up to 65,519 bytes: a text that
  // would come back cut is refused rather than stored.
  if (version_ == dbf::kVersionDbase3Memo) {
    if (text.size() > kDbase3MaxText) {
      throw ETableError(FormatMessage(
          "Text of %d bytes is too long for memo field %s: a dBase III memo holds at most %d bytes",
          {std::to_string(text.size()), GbkToUtf8(FieldName(field)),
           std::to_string(kDbase3MaxText)}));
    }
    if (text.find(static_cast<char>(dbf::kEndOfFile)) != std::string_view::npos) {
      throw ETableError(FormatMessage(
          "Memo field %s cannot hold the byte 0x1A: it ends a text in a dBase III memo",
          {GbkToUtf8(FieldName(field))}));
    }
  }
  uint32_t block = Memo().WriteText(FieldMemoBlock(field), text);
  PutFieldNumber(field, static_cast<double>(block));
}

}  // namespace mirestal
