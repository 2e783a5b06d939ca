// The table engine: one open table file and its field access, built as a chain of classes
//   DiskFile -> DbfFile -> DbfFieldAccess -> DbfHandler -> DbfTable
// The dataset (table/dataset.h) owns one DbfTable while it is open. Field numbers count from 1;
// a number outside 1..FieldCount() is no field (empty text, 0, false).
//
// Text is handled as bytes (GBK in this system); messages are UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "table/dbf_format.h"
#include "table/errors.h"
#include "table/types.h"

namespace mirestal {

class MemoFile;

// Move codes of DbfFile::MoveTo.
inline constexpr int kMoveNext = -1;
inline constexpr int kMovePrevious = -2;
inline constexpr int kMoveTop = -3;
inline constexpr int kMoveBottom = -4;
inline constexpr int kMoveCurrent = -5;

// One open file: name, handle, access and share mode, positioned read and write, size, flush,
// truncate and the lock bookkeeping. Operating-system failures become ETableError with the
// engine's texts.
class DiskFile {
 public:
  explicit DiskFile(FileSystem& fs);
  virtual ~DiskFile();
  DiskFile(const DiskFile&) = delete;
  DiskFile& operator=(const DiskFile&) = delete;

  // Opens an existing file. Missing: "File %s could not be found"; otherwise failing:
  // "Access denied to file %s".
  void OpenDisk(const std::string& path, bool read_write, bool shared);
  void CloseDisk();
  bool IsOpen() const { return file_ != nullptr; }

  // Reads up to n bytes; returns how many came back. A failing read: "Error on Read of file %s".
  size_t ReadAt(uint64_t offset, void* buffer, size_t n);
  // Reads exactly n bytes or raises "Error on Read of file %s".
  void ReadExact(uint64_t offset, void* buffer, size_t n);
  // Writes n bytes or raises "Error writing to %s".
  void WriteAt(uint64_t offset, const void* data, size_t n);
  // "Error getting FileSize for file %s" on failure.
  uint64_t FileSize();
  // "Error on Flush for file %s" on failure.
  void FlushDisk();
  // Exclusive or read-write only: "%s requires full access to file %s"; failing: "Error in
  // Truncate of file %s".
  void TruncateDisk(uint64_t size);

  // The one lock primitive. Exclusive mode only counts; shared mode takes an operating-system
  // byte-range lock on the first level. Nested locks must name the same range.
  bool LockRegion(uint64_t offset, uint64_t length);
  void UnlockRegion();
  int lock_count() const { return lock_count_; }

  const std::string& FileName() const { return name_; }
  bool read_write() const { return read_write_; }
  bool shared() const { return shared_; }
  FileSystem& file_system() { return fs_; }

 protected:
  FileSystem& fs_;
  std::unique_ptr<File> file_;
  std::string name_;
  bool read_write_ = false;
  bool shared_ = false;
  int lock_count_ = 0;
  uint64_t lock_offset_ = 0;
  uint64_t lock_length_ = 0;
  bool written_since_flush_ = false;
};

// The table file: header image, descriptors, record buffers and the record cursor.
class DbfFile : public DiskFile {
 public:
  explicit DbfFile(FileSystem& fs);
  ~DbfFile() override;

  // Opens the table (see the opening procedure in dbf_file.cc). `path` gets ".DBF" when it has
  // no extension and is made absolute.
  void OpenTable(const std::string& path, bool read_write, bool shared,
                 const std::string& password = "");
  // Writes a pending header, closes the memo file and the table file.
  void CloseTable();

  // Reads a record into the current buffer: a record number, or one of the kMove* codes.
  void MoveTo(int target);

  int RecordCount() const { return record_count_; }
  int FieldCount() const { return field_count_; }
  int RecordLength() const { return record_length_; }
  int HeaderLength() const { return header_length_; }
  int CurrentRecord() const { return current_record_; }
  bool AtEnd() const { return at_end_; }
  bool AtBegin() const { return at_begin_; }
  uint8_t Version() const { return version_; }
  bool MemoPresent() const { return memo_present_; }
  bool Enciphered() const { return enciphered_; }
  const std::string& Alias() const { return alias_; }
  const unsigned char* HeaderImage() const { return header_; }
  // Record count stored in the header as read at open.
  uint32_t HeaderRecordCount() const { return dbf::Get32(header_ + dbf::kOffRecordCount); }

  // Reads record `record` into `buffer` (RecordLength() bytes) without moving the cursor or
  // touching the current buffer. "Error on Read of file %s" when it cannot be read whole.
  void ReadRecordCopy(int record, char* buffer);

  // The buffer every field access reads and writes: the table's own buffer unless a caller
  // (the dataset) points it at one of its own of at least RecordLength() bytes.
  char* CurrentBuffer() { return current_buffer_; }
  const char* CurrentBuffer() const { return current_buffer_; }
  void SetCurrentBuffer(char* buffer) { current_buffer_ = buffer ? buffer : own_buffer_.data(); }
  bool IsDeleted() const { return current_buffer_[0] == dbf::kDeletedFlag; }

  // Settings handed over by the dataset.
  bool auto_flush = false;
  bool use_deleted = false;
  TLockProtocol lock_protocol = TLockProtocol::Default;
  int32_t user_id = 0;

  // --- Writing (record writing, header, flush) ---
  void AppendCurrent();
  void RewriteRecord(int record);
  void MarkDeleted();
  void Recall();
  void WriteHeader();
  void RefreshHeader();
  void Flush();
  void Truncate(uint64_t size);
  bool LockRecord(int record);
  bool LockAppend();
  bool LockTable();
  void Unlock();
  bool header_dirty() const { return header_dirty_; }

  // The memo file, opened on first use ("File %s could not be found" when it is missing).
  MemoFile& Memo();
  bool MemoOpen() const { return memo_ != nullptr; }

 protected:
  // Reads one record exactly into the current buffer.
  void ReadRecord(int record);
  const unsigned char* Descriptor(int field) const {
    return descriptors_.data() + (field - 1) * dbf::kDescriptorSize;
  }
  unsigned char* MutableDescriptor(int field) {
    return descriptors_.data() + (field - 1) * dbf::kDescriptorSize;
  }
  void RaiseWriteError();

  unsigned char header_[dbf::kHeaderSize] = {};
  std::string alias_;
  bool header_dirty_ = false;
  int32_t record_count_ = 0;
  int32_t header_length_ = 0;
  int32_t record_length_ = 0;
  int32_t field_count_ = 0;
  std::vector<unsigned char> descriptors_;
  int32_t current_record_ = 0;
  std::vector<char> own_buffer_;  // record length + 1 bytes, the last one 0x1A
  char* current_buffer_ = nullptr;
  std::vector<char> copy_buffer_;
  std::vector<char> scratch_buffer_;
  std::vector<uint8_t> changed_;  // [0] the record, [1..n] the fields
  bool at_end_ = false;
  bool at_begin_ = true;
  uint8_t version_ = 0;
  bool table_locked_ = false;
  uint8_t flag_bits_ = 0;  // bits 0-2 of header byte 28
  uint32_t stamp_ = 0;
  bool changed_by_other_ = false;
  bool record_written_ = false;
  bool buffer_changed_ = false;
  bool enciphered_ = false;
  bool memo_present_ = false;
  std::unique_ptr<MemoFile> memo_;
};

// Field access by number and by name.
class DbfFieldAccess : public DbfFile {
 public:
  using DbfFile::DbfFile;

  bool ValidField(int field) const { return field >= 1 && field <= field_count_; }
  // Number of the field of that name (exact bytes), 0 when none.
  int FieldNumberOf(std::string_view name) const;
  std::string FieldName(int field) const;
  char FieldType(int field) const;
  int FieldLength(int field) const;
  int FieldDecimals(int field) const;
  int FieldOffset(int field) const;
  // True for the binary field types of version 0x30 tables (B, G, I, M, T, Y).
  bool IsBinaryField(int field) const;

  std::string_view FieldRawText(int field) const;
  // The raw text with trailing bytes of codes up to 32 removed.
  std::string_view FieldText(int field) const;
  // The field's number. Raises "Invalid numeric value in field %s" for text that does not
  // convert.
  double FieldNumber(int field) const;
  // Exact 64-bit integer of a text number field (N/F without decimals); nullopt when the text
  // does not convert or the value does not fit.
  std::optional<int64_t> FieldInt64(int field) const;
  bool FieldLogical(int field) const;
  std::optional<TDate> FieldDate(int field) const;
  // Version 0x30 T: milliseconds since the day before 1 January of year 1; 0 for no value.
  int64_t FieldDateTimeMs(int field) const;
  // Block number of a memo/binary field; 0 when none.
  uint32_t FieldMemoBlock(int field) const;
  uint32_t FieldMemoSize(int field);
  std::string FieldMemoText(int field, uint32_t wanted);

  // The message for a numeric text of `field` that does not convert.
  std::string InvalidNumberMessage(int field) const;

  // --- Writing into the current buffer ---
  void BlankRecord();
  void PutFieldRawText(int field, std::string_view text);
  void PutFieldNumber(int field, double value);
  void PutFieldLogical(int field, bool value);
  void PutFieldText(int field, std::string_view text);
  void PutFieldMemo(int field, std::string_view text);
};

// Navigation that skips deleted records, and pack.
class DbfHandler : public DbfFieldAccess {
 public:
  using DbfFieldAccess::DbfFieldAccess;

  // Like MoveTo, but moves past records marked deleted unless use_deleted is set (top and next
  // move forward, bottom and previous backward, current forward). A record number reads that
  // record exactly.
  void Go(int target);
  // Removes the records marked deleted (see pack.cc).
  void Pack();
};

// The table object owned by one dataset.
class DbfTable : public DbfHandler {
 public:
  using DbfHandler::DbfHandler;
  // Asked for every record navigation visits; returning false skips it (no filter here).
  std::function<bool()> accept_record;
};

}  // namespace mirestal
