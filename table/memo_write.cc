// Writing texts into the three memo formats, block reuse and (dBase IV) release.
//
// A text is written in one piece (block header, text, padding to the end of its last block)
// before the header or the free list is changed to account for it, so that a failure part way
// leaves at worst some unreferenced blocks, never a link into a half-written text.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "table/memo.h"
#include "table/write_internal.h"

namespace mirestal {
namespace {

constexpr uint32_t kFoxHeaderBytes = 512;
constexpr int kLockTries = 100;
constexpr auto kLockWait = std::chrono::milliseconds(50);

uint64_t BlocksFor(uint64_t bytes, uint32_t block_size) {
  return (bytes + block_size - 1) / block_size;
}

// Holds the memo file's lock for one write in shared mode: up to 100 tries 50 ms apart. In
// exclusive mode nothing else can reach the file and no lock is taken.
class MemoWriteLock {
 public:
  MemoWriteLock(DiskFile& file, TLockProtocol protocol) : file_(file) {
    if (!file_.shared()) return;
    auto range = write_internal::TableLockRange(protocol);
    for (int attempt = 0; attempt < kLockTries; ++attempt) {
      if (file_.LockRegion(range.offset, range.length)) {
        locked_ = true;
        return;
      }
      std::this_thread::sleep_for(kLockWait);
    }
    throw ETableError(FormatMessage("Can not Lock file %s", {file_.FileName()}));
  }
  ~MemoWriteLock() {
    if (!locked_) return;
    try {
      file_.UnlockRegion();
    } catch (...) {
      // Closing the file drops the lock in any case.
    }
  }
  MemoWriteLock(const MemoWriteLock&) = delete;
  MemoWriteLock& operator=(const MemoWriteLock&) = delete;

 private:
  DiskFile& file_;
  bool locked_ = false;
};

// Reads the 32-byte header afresh: another program may have changed it in shared mode. Missing
// bytes count as zero.
void ReloadHeader(DiskFile& file, unsigned char* header) {
  std::memset(header, 0, 32);
  file.ReadAt(0, header, 32);
}

// The area written for one text: block header, text, trailer, zero bytes to the block end.
std::string BuildArea(std::string_view head, std::string_view text, std::string_view trailer,
                      uint64_t blocks, uint32_t block_size) {
  std::string area;
  area.reserve(static_cast<size_t>(blocks * block_size));
  area.append(head);
  area.append(text);
  area.append(trailer);
  area.resize(static_cast<size_t>(blocks * block_size), '\0');
  return area;
}

void CheckBlockNumber(uint64_t block, const MemoFile& memo) {
  if (block > UINT32_MAX) {
    throw ETableError(FormatMessage("Error writing to %s", {memo.FileName()}));
  }
}

}  // namespace

// dBase III: a text is followed by 0x1A 0x1A; blocks of 512; the header's next free block grows.
uint32_t MemoFile::WriteText(uint32_t block, std::string_view text) {
  if (text.empty()) return 0;
  MemoWriteLock lock(*this, table_.lock_protocol);
  ReloadHeader(*this, header_);
  const uint64_t needed = BlocksFor(text.size() + 2, block_size_);
  uint64_t first = block;
  bool reuse = false;
  if (block > 0) {
    try {
      reuse = BlocksFor(static_cast<uint64_t>(TextLength(block)) + 2, block_size_) >= needed;
    } catch (const ETableError&) {
      reuse = false;  // a damaged old text is left alone; the new one goes to free blocks
    }
  }
  uint64_t next_free = 0;
  if (!reuse) {
    // New blocks go at the end of the file. That is the header's next free block in a sound
    // file; a damaged header must not send the text over other texts or far behind the end.
    first = std::max<uint64_t>(1, BlocksFor(FileSize(), block_size_));
    next_free = first + needed;
    CheckBlockNumber(next_free, *this);
  }
  std::string area = BuildArea({}, text, "\x1A\x1A", needed, block_size_);
  WriteAt(first * block_size_, area.data(), area.size());
  if (!reuse) {
    dbf::Put32(header_, static_cast<uint32_t>(next_free));
    WriteAt(0, header_, 4);
  }
  return static_cast<uint32_t>(first);
}

// FoxPro: an 8-byte block header (type 1, length, big-endian); the header's next free block
// (big-endian) grows.
uint32_t MemoFileFox::WriteText(uint32_t block, std::string_view text) {
  if (text.empty()) return 0;
  if (block_size_ == 0) RaiseBadMemo();
  MemoWriteLock lock(*this, table_.lock_protocol);
  ReloadHeader(*this, header_);
  const uint64_t needed = BlocksFor(text.size() + 8, block_size_);
  uint64_t first = block;
  bool reuse = false;
  if (block > 0 && static_cast<uint64_t>(block) * block_size_ >= kFoxHeaderBytes) {
    try {
      reuse = BlocksFor(static_cast<uint64_t>(TextLength(block)) + 8, block_size_) >= needed;
    } catch (const ETableError&) {
      reuse = false;
    }
  }
  uint64_t next_free = 0;
  if (!reuse) {
    // At the end of the file, which is the header's next free block in a sound file (see the
    // dBase III writer).
    first = std::max<uint64_t>(BlocksFor(kFoxHeaderBytes, block_size_),
                               BlocksFor(FileSize(), block_size_));
    next_free = first + needed;
    CheckBlockNumber(next_free, *this);
  }
  if (text.size() > UINT32_MAX - 8) RaiseBadMemo();
  unsigned char head[8];
  dbf::Put32BE(head, 1);
  dbf::Put32BE(head + 4, static_cast<uint32_t>(text.size()));
  std::string area =
      BuildArea(std::string_view(reinterpret_cast<char*>(head), 8), text, {}, needed, block_size_);
  WriteAt(first * block_size_, area.data(), area.size());
  if (!reuse) {
    dbf::Put32BE(header_, static_cast<uint32_t>(next_free));
    WriteAt(0, header_, 4);
  }
  return static_cast<uint32_t>(first);
}

// dBase IV: the first free run that is large enough is taken (a larger one is split), or blocks
// at the end of the file. The old text's blocks are not released here: the record in the file
// still refers to them until it is posted, and a cancelled edit must find its text intact.
// RewriteRecord releases them once the record no longer refers to them.
uint32_t MemoFileDb4::WriteText(uint32_t /*block*/, std::string_view text) {
  if (block_size_ < 8) RaiseBadMemo();
  MemoWriteLock lock(*this, table_.lock_protocol);
  if (text.empty()) return 0;
  if (text.size() > UINT32_MAX - 8) RaiseBadMemo();
  ReloadHeader(*this, header_);
  const uint64_t needed = BlocksFor(text.size() + 8, block_size_);
  const uint64_t end_block = BlocksFor(FileSize(), block_size_);

  // Walk the list. Each step visits a different run when the list is sound, so more steps
  // than there are blocks in the file mean a loop.
  uint64_t link_at = 0;  // file offset of the link that points to `run`
  uint64_t run = dbf::Get32(header_);
  uint64_t run_count = 0;
  uint64_t next = 0;
  for (uint64_t steps = 0;; ++steps) {
    if (run == 0 || run > end_block || steps > end_block) RaiseBadMemo();
    if (run == end_block) {
      next = end_block + needed;  // the list ends at the end of the file
      run_count = needed;
      break;
    }
    unsigned char pair[8];
    ReadExact(run * block_size_, pair, sizeof pair);
    next = dbf::Get32(pair);
    run_count = dbf::Get32(pair + 4);
    if (run + run_count > end_block) RaiseBadMemo();
    if (run_count >= needed) break;
    link_at = run * block_size_;
    run = next;
  }
  CheckBlockNumber(run + needed, *this);

  unsigned char head[8] = {0xFF, 0xFF, 0x08, 0x00};
  dbf::Put32(head + 4, static_cast<uint32_t>(text.size() + 8));
  std::string area =
      BuildArea(std::string_view(reinterpret_cast<char*>(head), 8), text, {}, needed, block_size_);
  WriteAt(run * block_size_, area.data(), area.size());

  uint32_t behind;
  if (run_count > needed) {
    // Split: the rest of the run stays in the list with its count reduced.
    unsigned char rest[8];
    dbf::Put32(rest, static_cast<uint32_t>(next));
    dbf::Put32(rest + 4, static_cast<uint32_t>(run_count - needed));
    WriteAt((run + needed) * block_size_, rest, sizeof rest);
    behind = static_cast<uint32_t>(run + needed);
  } else {
    behind = static_cast<uint32_t>(next);
  }
  unsigned char link[4];
  dbf::Put32(link, behind);
  WriteAt(link_at, link, sizeof link);
  if (link_at == 0) std::memcpy(header_, link, sizeof link);
  return static_cast<uint32_t>(run);
}

void MemoFileDb4::ReleaseMemo(uint32_t block) {
  if (block_size_ < 8) RaiseBadMemo();
  MemoWriteLock lock(*this, table_.lock_protocol);
  ReloadHeader(*this, header_);
  const uint64_t end_block = BlocksFor(FileSize(), block_size_);
  if (block == 0 || block >= end_block) RaiseBadMemo();
  unsigned char head[8];
  ReadExact(static_cast<uint64_t>(block) * block_size_, head, sizeof head);
  if (head[0] != 0xFF || head[1] != 0xFF) RaiseBadMemo();
  uint32_t total = dbf::Get32(head + 4);
  uint64_t count = BlocksFor(total, block_size_);
  if (total < 8 || block + count > end_block) RaiseBadMemo();
  unsigned char pair[8];
  std::memcpy(pair, header_, 4);
  dbf::Put32(pair + 4, static_cast<uint32_t>(count));
  WriteAt(static_cast<uint64_t>(block) * block_size_, pair, sizeof pair);
  dbf::Put32(header_, block);
  WriteAt(0, header_, 4);
}

}  // namespace mirestal
