// A writer of compound files that hold exactly one stream in their root storage.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/file.h"
#include "xls/stream.h"

namespace mirestal::xls {

// Lets the caller write, read back, seek and overwrite the one stream of a compound file that
// replaces the file at `path` once it is complete. The bytes go to a new temporary file beside
// `path`, created exclusively at construction (never through a link, never over an existing
// file); `path` itself is not touched before Finish(). Finish() writes the allocation tables,
// the directory and the header, flushes, closes and renames the temporary file over `path`;
// Abandon() closes and deletes the temporary file only, so a previous file at `path` survives
// any failure. A writer released without either finishes itself; errors on that path are lost,
// so callers that must know call Finish().
//
// Writes go to the file in the order of the stream: sequential writes are gathered in a buffer
// of kWriteBuffer bytes; a seek or read first flushes it.
class CompoundFileWriter : public TStream {
 public:
  static constexpr size_t kWriteBuffer = 64 * 1024;

  // Creates the temporary file beside `path` through `fs`; the stream is named `stream_name`
  // (at most 31 UTF-16 units). Throws what the file system throws.
  CompoundFileWriter(FileSystem& fs, std::string path, std::u16string stream_name);
  ~CompoundFileWriter() override;
  CompoundFileWriter(const CompoundFileWriter&) = delete;
  CompoundFileWriter& operator=(const CompoundFileWriter&) = delete;

  // REQUIRES: Finish() and Abandon() have not been called (else std::logic_error).
  size_t Write(const void* data, size_t n) override;
  size_t Read(void* data, size_t n) override;
  uint64_t Seek(int64_t offset, SeekOrigin origin) override;
  uint64_t Size() const override { return size_; }

  // Completes the file, makes it durable and puts it in place of `path`. On an error the
  // temporary file is deleted, `path` is as it was, and the writer is closed.
  void Finish();
  // Closes the temporary file and deletes it. Never throws; a failing delete is ignored.
  void Abandon();
  // The target, and the temporary file the bytes go to until Finish() renames it.
  const std::string& path() const { return path_; }
  const std::string& temp_path() const { return temp_path_; }

 private:
  void CheckOpen() const;
  void FlushPending();
  void WriteLayout();
  void RemoveTemp();

  FileSystem& fs_;
  std::string path_;
  std::string temp_path_;
  std::u16string stream_name_;
  std::unique_ptr<File> file_;
  bool finished_ = false;
  bool abandoned_ = false;
  uint64_t position_ = 0;
  uint64_t size_ = 0;
  std::string pending_;  // bytes not yet written, for stream offset pending_at_
  uint64_t pending_at_ = 0;
};

// The workbook storage: a compound file to be put at `path` whose root holds the stream
// "Workbook".
std::unique_ptr<CompoundFileWriter> OpenWorkbookStorage(FileSystem& fs, const std::string& path);

}  // namespace mirestal::xls
