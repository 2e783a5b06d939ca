// A read cache for files the engine holds exclusively: no other program can change such a file,
// so the bytes read once stay true until this process writes or truncates them. A walk over a
// table costs one system call per 64 KiB instead of one per record. A read elsewhere (a jump to
// another row, as a grid drawing rows far apart does) brings in the whole file when it is small
// (up to 16 MiB), so later jumps cost no system call; in a larger file it brings in the 4 KiB
// around it. A write or truncation that touches the cached bytes drops them.
#pragma once

#include <memory>

#include "platform/file.h"

namespace mirestal {

class ReadCacheFile : public File {
 public:
  explicit ReadCacheFile(std::unique_ptr<File> base) : base_(std::move(base)) {}

  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override;
  void WriteAt(uint64_t offset, const void* data, size_t n) override;
  uint64_t Size() override { return base_->Size(); }
  void Flush() override { base_->Flush(); }
  void Truncate(uint64_t size) override;
  bool LockRange(uint64_t offset, uint64_t length) override {
    return base_->LockRange(offset, length);
  }
  void UnlockRange(uint64_t offset, uint64_t length) override {
    base_->UnlockRange(offset, length);
  }

  static constexpr size_t kBlock = 64 * 1024;
  static constexpr size_t kSmallBlock = 4 * 1024;
  static constexpr uint64_t kWholeFileLimit = 16 * 1024 * 1024;

 private:
  // Makes the buffer hold at least `size` bytes (its contents are dropped when it grows).
  void Reserve(size_t size);

  std::unique_ptr<File> base_;
  std::unique_ptr<char[]> cache_;
  size_t capacity_ = 0;    // bytes allocated for cache_
  size_t cache_size_ = 0;  // holds bytes [cache_offset_, cache_offset_ + cache_size_)
  uint64_t cache_offset_ = 0;
};

}  // namespace mirestal
