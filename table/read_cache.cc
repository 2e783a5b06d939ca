#include "table/read_cache.h"

#include <algorithm>
#include <cstring>

namespace mirestal {

void ReadCacheFile::Reserve(size_t size) {
  if (capacity_ >= size) return;
  cache_size_ = 0;
  cache_.reset();
  cache_ = std::make_unique_for_overwrite<char[]>(size);
  capacity_ = size;
}

size_t ReadCacheFile::ReadAt(uint64_t offset, void* buffer, size_t n) {
  const uint64_t cache_end = cache_offset_ + cache_size_;
  if (offset >= cache_offset_ && offset + n <= cache_end) {
    std::memcpy(buffer, cache_.get() + (offset - cache_offset_), n);
    return n;
  }
  if (n >= kBlock / 2) return base_->ReadAt(offset, buffer, n);
  // A read that starts in the cached bytes or right behind them continues a walk: read ahead.
  // Any other read takes the whole file when it is small, else the aligned small block around
  // it.
  const bool walking = cache_size_ == 0 || (offset >= cache_offset_ && offset <= cache_end);
  uint64_t start = offset;
  size_t length = kBlock;
  if (!walking) {
    const uint64_t size = base_->Size();
    if (size <= kWholeFileLimit && offset + n <= size) {
      start = 0;
      length = static_cast<size_t>(size);
    } else {
      start = offset - offset % kSmallBlock;
      length = std::max(kSmallBlock, static_cast<size_t>(offset - start) + n);
    }
  }
  Reserve(std::max(length, kBlock));
  cache_size_ = 0;
  const size_t got = base_->ReadAt(start, cache_.get(), length);
  const size_t skip = static_cast<size_t>(offset - start);
  const size_t available = got > skip ? std::min(got - skip, n) : 0;
  std::memcpy(buffer, cache_.get() + skip, available);
  // A read that did not bring what was asked for is passed on but not kept, so that a short
  // read never poisons later reads of the same bytes.
  if (available == n) {
    cache_offset_ = start;
    cache_size_ = got;
  }
  return available;
}

void ReadCacheFile::WriteAt(uint64_t offset, const void* data, size_t n) {
  if (offset < cache_offset_ + cache_size_ && offset + n > cache_offset_) cache_size_ = 0;
  base_->WriteAt(offset, data, n);
}

void ReadCacheFile::Truncate(uint64_t size) {
  cache_size_ = 0;
  base_->Truncate(size);
}

}  // namespace mirestal
