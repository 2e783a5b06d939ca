// A writer of compound files that hold exactly one stream in their root storage.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"
#include "xls/stream.h"

namespace mirestal::xls {

// Creates the file at construction and lets the caller write, read back, seek and overwrite the
// one stream. Finish() writes the allocation tables, the directory and the header and closes the
// file; Abandon() closes and deletes it. A writer released without either finishes itself, so
// the file is complete when released; errors on that path are lost, so callers that must know
// call Finish().
//
// Writes go to the file in the order of the stream: sequential writes are gathered in a buffer
// of kWriteBuffer bytes; a seek or read first flushes it.
class CompoundFileWriter : public TStream {
 public:
  static constexpr size_t kWriteBuffer = 64 * 1024;

  // Creates (replacing) `path` through `fs`; the stream is named `stream_name` (at most 31
  // UTF-16 units). Throws what the file system throws.
  CompoundFileWriter(FileSystem& fs, std::string path, std::u16string stream_name);
  ~CompoundFileWriter() override;
  CompoundFileWriter(const CompoundFileWriter&) = delete;
  CompoundFileWriter& operator=(const CompoundFileWriter&) = delete;

  // REQUIRES: Finish() and Abandon() have not been called (else std::logic_error).
  size_t Write(const void* data, size_t n) override;
  size_t Read(void* data, size_t n) override;
  uint64_t Seek(int64_t offset, SeekOrigin origin) override;
  uint64_t Size() const override { return size_; }

  // Completes the file and makes it durable. On an error the file is left as far as it got and
  // the writer is closed; the caller may still Abandon() it to delete it.
  void Finish();
  // Closes the file and deletes it. Never throws; a failing delete is ignored.
  void Abandon();
  const std::string& path() const { return path_; }

 private:
  void CheckOpen() const;
  void FlushPending();
  void WriteLayout();

  FileSystem& fs_;
  std::string path_;
  std::u16string stream_name_;
  std::unique_ptr<File> file_;
  bool finished_ = false;
  bool abandoned_ = false;
  uint64_t position_ = 0;
  uint64_t size_ = 0;
  std::string pending_;  // bytes not yet written, for stream offset pending_at_
  uint64_t pending_at_ = 0;
};

// The workbook storage: a compound file at `path` whose root holds the stream "Workbook".
std::unique_ptr<CompoundFileWriter> OpenWorkbookStorage(FileSystem& fs, const std::string& path);

}  // namespace mirestal::xls
