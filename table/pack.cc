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
// The packed file is a new file with a name no one can predict, created exclusively (a link or
// file planted under the name is never followed or emptied); files an earlier killed pack left
// are removed only when they are regular files.
//
// Memo blocks of removed records are given back (dBase IV) only after the rename: until then the
// old table still refers to them. Blocks that a kept record's text also covers (a damaged table
// can have two records pointing into the same text) are never given back, and no text is given
// back twice.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/paths.h"
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
      // A leftover file is removed by the next pack.
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
  std::filesystem::path real = std::filesystem::canonical(FsPath(path), ec);
  return ec ? path : Utf8Path(real);
}

// Removes what earlier packs of `target` left when they were killed: regular files whose names
// start with the table's name and the pack suffix. The table is held exclusively, so no other
// pack of it is running. Links and other kinds of file of such a name are left alone.
void RemoveStaleTemps(FileSystem& fs, const std::string& target) {
  namespace sfs = std::filesystem;
  const sfs::path table = FsPath(target);
  const std::string stem = Utf8Path(table.filename()) + kPackSuffix;
  std::error_code ec;
  for (sfs::directory_iterator it(table.parent_path(), ec), end; !ec && it != end;
       it.increment(ec)) {
    if (Utf8Path(it->path().filename()).rfind(stem, 0) != 0) continue;
    std::error_code type_ec;
    if (it->symlink_status(type_ec).type() != sfs::file_type::regular) continue;
    try {
      fs.Remove(Utf8Path(it->path()));
    } catch (const IoError&) {
      // Someone else's file; the new temporary file has a name of its own anyway.
    }
  }
}

// Blocks [first, end) of the text starting at `block`; nullopt when its block header is bad.
std::optional<std::pair<uint64_t, uint64_t>> TextBlocks(MemoFile& memo, uint32_t block) {
  try {
    uint64_t bytes = static_cast<uint64_t>(memo.TextLength(block)) + memo.header_size();
    return std::make_pair<uint64_t, uint64_t>(
        block, block + std::max<uint64_t>(1, (bytes + memo.block_size() - 1) / memo.block_size()));
  } catch (const ETableError&) {
    return std::nullopt;
  }
}

// The texts of removed records that may be given back: each once, and none that overlaps a
// text of a kept record or another text given back.
std::vector<uint32_t> ReleasableTexts(MemoFile& memo, std::vector<uint32_t> removed,
                                      const std::vector<uint32_t>& kept) {
  using Range = std::pair<uint64_t, uint64_t>;
  std::vector<Range> used;
  for (uint32_t block : kept) {
    used.push_back(TextBlocks(memo, block).value_or(Range(block, uint64_t{block} + 1)));
  }
  // Merged into disjoint ranges in block order, so that their ends increase too.
  std::sort(used.begin(), used.end());
  std::vector<Range> merged;
  for (const Range& r : used) {
    if (!merged.empty() && r.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, r.second);
    } else {
      merged.push_back(r);
    }
  }
  std::sort(removed.begin(), removed.end());
  removed.erase(std::unique(removed.begin(), removed.end()), removed.end());
  std::vector<uint32_t> out;
  uint64_t chosen_end = 0;  // texts are taken in block order: the next must start after this
  for (uint32_t block : removed) {
    std::optional<Range> range = TextBlocks(memo, block);
    if (!range || range->first < chosen_end) continue;
    auto next_used = std::upper_bound(merged.begin(), merged.end(), range->first,
                                      [](uint64_t at, const Range& r) { return at < r.second; });
    if (next_used != merged.end() && next_used->first < range->second) continue;
    out.push_back(block);
    chosen_end = range->second;
  }
  return out;
}

#ifdef _WIN32
// Stands in for a table file that could not be opened again after a failed replace: every
// operation fails with the table's own error texts instead of reaching a closed file.
class LostFile : public File {
 public:
  explicit LostFile(std::string path) : path_(std::move(path)) {}
  size_t ReadAt(uint64_t, void*, size_t) override { Fail(); }
  void WriteAt(uint64_t, const void*, size_t) override { Fail(); }
  uint64_t Size() override { Fail(); }
  void Flush() override { Fail(); }
  void Truncate(uint64_t) override { Fail(); }
  bool LockRange(uint64_t, uint64_t) override { Fail(); }
  void UnlockRange(uint64_t, uint64_t) override {}

 private:
  [[noreturn]] void Fail() { throw IoError("cannot open " + path_ + " again", IoErrorKind::kOther); }
  std::string path_;
};
#endif

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
  RemoveStaleTemps(fs_, target);
  const std::filesystem::path target_path = FsPath(target);
  std::string temp;
  std::unique_ptr<File> out;
  try {
    out = fs_.CreateExclusiveTemp(Utf8Path(target_path.parent_path()),
                                  Utf8Path(target_path.filename()) + kPackSuffix + "-", &temp);
  } catch (const IoError&) {
    throw ETableError(FormatMessage("Cannot create file %s", {temp}));
  }
  TempFileGuard guard(fs_, temp);
  auto raise_temp_write_error = [&] {
    throw ETableError(FormatMessage("Error writing to %s", {temp}));
  };
  uint64_t out_offset = 0;
  std::string pending;
  pending.reserve(kChunkBytes + rl + 1);
  auto write_pending = [&] {
    try {
      out->WriteAt(out_offset, pending.data(), pending.size());
    } catch (const IoError&) {
      raise_temp_write_error();
    }
    out_offset += pending.size();
    pending.clear();
  };

  // The header area exactly as in the file; its first 32 bytes are the header image.
  // (The header image with the new count is written over the first 32 bytes at the end.)
  pending.resize(static_cast<size_t>(header_length_));
  ReadExact(0, pending.data(), pending.size());

  // Pass 2: copy the kept records; note the memo blocks of the removed ones and (dBase IV, to
  // know which blocks must stay in use) of the kept ones.
  const bool releases = version_ == dbf::kVersionDbase4Memo && !memo_fields.empty();
  int32_t kept = 0;
  std::vector<uint32_t> released;
  std::vector<uint32_t> kept_blocks;
  for (int32_t i = 1; i <= n;) {
    size_t count = std::min<size_t>(chunk_records, static_cast<size_t>(n - i + 1));
    ReadExact(static_cast<uint64_t>(header_length_) + static_cast<uint64_t>(i - 1) * rl,
              chunk.data(), count * rl);
    for (size_t k = 0; k < count; ++k) {
      const char* record = chunk.data() + k * rl;
      const bool keep = record[0] != dbf::kDeletedFlag;
      if (keep) {
        pending.append(record, rl);
        ++kept;
      }
      if (releases) {
        char* saved = current_buffer_;
        current_buffer_ = const_cast<char*>(record);
        for (int f : memo_fields) {
          uint32_t block = FieldMemoBlock(f);
          if (block != 0) (keep ? kept_blocks : released).push_back(block);
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
    raise_temp_write_error();
  }
  try {
    out->Flush();
  } catch (const IoError&) {
    throw ETableError(FormatMessage("Error on Flush for file %s", {temp}));
  }
  // Keep the table's permission bits on the file that replaces it.
  {
    std::error_code ec;
    auto perms = std::filesystem::status(FsPath(target), ec).permissions();
    if (!ec) std::filesystem::permissions(FsPath(temp), perms, ec);
  }
#ifdef _WIN32
  // Windows cannot rename over a file that is open, even by this program: the old table is
  // closed for the rename, and opened again if the rename fails.
  file_.reset();
#endif
  try {
    fs_.Rename(temp, target);
  } catch (const IoError&) {
#ifdef _WIN32
    try {
      file_ = std::make_unique<ReadCacheFile>(fs_.Open(target, Access::kReadWrite, Share::kNone));
    } catch (const IoError&) {
      file_ = std::make_unique<LostFile>(target);
    }
#endif
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

  if (!released.empty()) {
    MemoFile& memo = Memo();
    for (uint32_t block : ReleasableTexts(memo, std::move(released), kept_blocks)) {
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
