#include "table/read_cache.h"

#include <algorithm>
#include <cstring>

namespace mirestal {

size_t ReadCacheFile::ReadAt(uint64_t offset, void* buffer, size_t n) {
  if (offset >= cache_offset_ && offset + n <= cache_offset_ + cache_.size()) {
    std::memcpy(buffer, cache_.data() + (offset - cache_offset_), n);
    return n;
  }
  if (n >= kBlock) return base_->ReadAt(offset, buffer, n);
  std::vector<char> block(kBlock);
  cache_.clear();
  size_t got = base_->ReadAt(offset, block.data(), kBlock);
  // A read that did not bring what was asked for is passed on but not kept, so that a short
  // read never poisons later reads of the same bytes.
  if (got < n) {
    std::memcpy(buffer, block.data(), got);
    return got;
  }
  block.resize(got);
  cache_ = std::move(block);
  cache_offset_ = offset;
  std::memcpy(buffer, cache_.data(), n);
  return n;
}

void ReadCacheFile::WriteAt(uint64_t offset, const void* data, size_t n) {
  if (offset < cache_offset_ + cache_.size() && offset + n > cache_offset_) cache_.clear();
  base_->WriteAt(offset, data, n);
}

void ReadCacheFile::Truncate(uint64_t size) {
  cache_.clear();
  base_->Truncate(size);
}

}  // namespace mirestal
