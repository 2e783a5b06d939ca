// Pack: removes the records marked deleted.
//
// The kept records are written to a new file beside the table (the header area as it is, with
// the new count, date and stamp; the kept records in their order; the end-of-file marker), the
// new file is flushed and then renamed over the table, and the table object continues on it.
// Until the rename the table is untouched; after it, the table is the packed one. A failure or a
// killed process at any moment therefore leaves either the old table or the packed one, never a
// mix, and no student is lost or doubled. The bytes are those of moving the records together in
// place and cutting the file behind them.
//
// Memo blocks of removed records are given back (dBase IV) only after the rename: until then the
// old table still refers to them.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "table/dbf_table.h"
#include "table/memo.h"
#include "table/read_cache.h"
#include "table/write_internal.h"

namespace mirestal {
namespace {

constexpr size_t kChunkBytes = 1 << 20;
constexpr const char* kPackSuffix = ".pack-tmp";

// Removes the half-made packed file unless the rename has taken it over.
class TempFileGuard {
 public:
  TempFileGuard(FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
  ~TempFileGuard() {
    if (path_.empty()) return;
    try {
      fs_.Remove(path_);
    } catch (...) {
      // A leftover file is emptied by the next pack.
    }
  }
  void Release() { path_.clear(); }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;

 private:
  FileSystem& fs_;
  std::string path_;
};

// The file the table name stands for, so that a link is not replaced by the packed file.
std::string RealPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path real = std::filesystem::canonical(path, ec);
  return ec ? path : real.string();
}

}  // namespace

void DbfHandler::Pack() {
  if (shared_ || !read_write_) {
    throw ETableError(FormatMessage("%s requires full access to file %s", {"Pack", name_}));
  }
  const bool vfp = version_ == dbf::kVersionVfp;
  std::vector<int> memo_fields;
  if (memo_present_) {
    for (int f = 1; f <= field_count_; ++f) {
      char type = FieldType(f);
      if (type == 'M' || type == 'G' || (type == 'B' && !vfp)) memo_fields.push_back(f);
    }
    if (!memo_fields.empty()) Memo();
  }
  const size_t rl = static_cast<size_t>(record_length_);
  const int32_t n = record_count_;
  const size_t chunk_records = std::max<size_t>(1, kChunkBytes / rl);
  std::vector<char> chunk(chunk_records * rl);

  // Pass 1: find the first marked record. None marked: nothing to do, the file stays as it is.
  int32_t first_marked = 0;
  for (int32_t i = 1; i <= n && first_marked == 0;) {
    size_t count = std::min<size_t>(chunk_records, static_cast<size_t>(n - i + 1));
    ReadExact(static_cast<uint64_t>(header_length_) + static_cast<uint64_t>(i - 1) * rl,
              chunk.data(), count * rl);
    for (size_t k = 0; k < count; ++k) {
      if (chunk[k * rl] == dbf::kDeletedFlag) {
        first_marked = i + static_cast<int32_t>(k);
        break;
      }
    }
    i += static_cast<int32_t>(count);
  }
  if (first_marked == 0) {
    current_record_ = 0;
    MoveTo(kMoveTop);
    return;
  }

  const std::string target = RealPath(name_);
  const std::string temp = target + kPackSuffix;
  std::unique_ptr<File> out;
  try {
    out = fs_.Create(temp);
  } catch (const IoError&) {
    RaiseWriteError();
  }
  TempFileGuard guard(fs_, temp);
  uint64_t out_offset = 0;
  std::string pending;
  pending.reserve(kChunkBytes + rl + 1);
  auto write_pending = [&] {
    try {
      out->WriteAt(out_offset, pending.data(), pending.size());
    } catch (const IoError&) {
      RaiseWriteError();
    }
    out_offset += pending.size();
    pending.clear();
  };

  // The header area exactly as in the file; its first 32 bytes are the header image.
  // (The header image with the new count is written over the first 32 bytes at the end.)
  pending.resize(static_cast<size_t>(header_length_));
  ReadExact(0, pending.data(), pending.size());

  // Pass 2: copy the kept records; note the memo blocks of the removed ones.
  int32_t kept = 0;
  std::vector<uint32_t> released;
  for (int32_t i = 1; i <= n;) {
    size_t count = std::min<size_t>(chunk_records, static_cast<size_t>(n - i + 1));
    ReadExact(static_cast<uint64_t>(header_length_) + static_cast<uint64_t>(i - 1) * rl,
              chunk.data(), count * rl);
    for (size_t k = 0; k < count; ++k) {
      const char* record = chunk.data() + k * rl;
      if (record[0] != dbf::kDeletedFlag) {
        pending.append(record, rl);
        ++kept;
      } else if (!memo_fields.empty()) {
        char* saved = current_buffer_;
        current_buffer_ = const_cast<char*>(record);
        for (int f : memo_fields) {
          uint32_t block = FieldMemoBlock(f);
          if (block != 0) released.push_back(block);
        }
        current_buffer_ = saved;
      }
      if (pending.size() >= kChunkBytes) write_pending();
    }
    i += static_cast<int32_t>(count);
  }
  pending.push_back(dbf::kEndOfFile);
  unsigned char image[dbf::kHeaderSize];
  std::memcpy(image, header_, sizeof image);
  uint32_t stamp = write_internal::FillHeaderImage(image, static_cast<uint32_t>(kept), enciphered_,
                                                   user_id, flag_bits_);
  write_pending();
  try {
    out->WriteAt(0, image, sizeof image);
  } catch (const IoError&) {
    RaiseWriteError();
  }
  try {
    out->Flush();
  } catch (const IoError&) {
    throw ETableError(FormatMessage("Error on Flush for file %s", {name_}));
  }
  // Keep the table's permission bits on the file that replaces it.
  {
    std::error_code ec;
    auto perms = std::filesystem::status(target, ec).permissions();
    if (!ec) std::filesystem::permissions(temp, perms, ec);
  }
  try {
    fs_.Rename(temp, target);
  } catch (const IoError&) {
    RaiseWriteError();
  }
  guard.Release();

  // The table object continues on the packed file (held exclusively, so read ahead as at open);
  // the old one is closed.
  file_ = std::make_unique<ReadCacheFile>(std::move(out));
  written_since_flush_ = false;
  std::memcpy(header_, image, sizeof image);
  stamp_ = stamp;
  header_dirty_ = false;
  record_count_ = kept;
  current_record_ = 0;
  at_end_ = false;
  at_begin_ = true;

  if (!released.empty() && version_ == dbf::kVersionDbase4Memo) {
    MemoFile& memo = Memo();
    for (uint32_t block : released) {
      try {
        memo.ReleaseMemo(block);
      } catch (const ETableError& e) {
        // A damaged text of a removed record is not linked into the free list; a failing
        // write is reported (the table itself is packed already).
        if (std::string_view(e.what()).rfind("Memo record is bad", 0) != 0) throw;
      }
    }
    memo.FlushDisk();
  }
  MoveTo(kMoveTop);
}

}  // namespace mirestal
