// The byte stream that the workbook writer fills: sequential writes with seeks back to patch and
// reads of what was written. Implemented over the compound file (compound_file.h) and in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace mirestal::xls {

enum class SeekOrigin { kBegin, kCurrent, kEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Stores n bytes at the current position, which advances; the stream grows as needed.
  // Returns the number of bytes stored. Errors of the file below propagate as exceptions.
  virtual size_t Write(const void* data, size_t n) = 0;
  // Reads up to n bytes from the current position; returns the number read.
  virtual size_t Read(void* data, size_t n) = 0;
  // Returns the new position. Seeking past the end is allowed; a later write fills the gap
  // with zero bytes. A negative resulting position throws std::out_of_range.
  virtual uint64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual uint64_t Size() const = 0;
};

// A stream held in memory (tests, and the tail buffer of the workbook writer).
class TMemoryStream : public TStream {
 public:
  size_t Write(const void* data, size_t n) override;
  size_t Read(void* data, size_t n) override;
  uint64_t Seek(int64_t offset, SeekOrigin origin) override;
  uint64_t Size() const override { return bytes_.size(); }
  const std::string& Bytes() const { return bytes_; }

 private:
  std::string bytes_;
  uint64_t position_ = 0;
};

// Resolves a seek against a position and size; throws std::out_of_range below 0.
uint64_t ResolveSeek(int64_t offset, SeekOrigin origin, uint64_t position, uint64_t size);

}  // namespace mirestal::xls
