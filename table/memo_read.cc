#include <algorithm>
#include <filesystem>

#include "platform/paths.h"
#include "table/memo.h"

namespace mirestal {
namespace {

constexpr uint32_t kDbase3BlockSize = 512;
// Larger blocks than this are not written by any program that makes these files; a header
// claiming one is damaged.
constexpr uint32_t kMaxBlockSize = 1u << 20;

}  // namespace

std::string MemoFile::MemoPathFor(const std::string& table_path, uint8_t version) {
  namespace fs = std::filesystem;
  bool fox = version == dbf::kVersionFoxMemo || version == dbf::kVersionVfp;
  std::string ext = Utf8Path(FsPath(table_path).extension());
  bool upper = !ext.empty() && std::all_of(ext.begin() + 1, ext.end(), [](char c) {
    return !(c >= 'a' && c <= 'z');
  });
  fs::path preferred = FsPath(table_path).replace_extension(
      fox ? (upper ? ".FPT" : ".fpt") : (upper ? ".DBT" : ".dbt"));
  fs::path other = FsPath(table_path).replace_extension(
      fox ? (upper ? ".fpt" : ".FPT") : (upper ? ".dbt" : ".DBT"));
  if (!fs::exists(preferred) && fs::exists(other)) return Utf8Path(other);
  return Utf8Path(preferred);
}

std::unique_ptr<MemoFile> MemoFile::OpenFor(DbfFile& table) {
  std::unique_ptr<MemoFile> memo;
  switch (table.Version()) {
    case dbf::kVersionDbase4Memo:
      memo = std::make_unique<MemoFileDb4>(table.file_system(), table);
      break;
    case dbf::kVersionFoxMemo:
    case dbf::kVersionVfp:
      memo = std::make_unique<MemoFileFox>(table.file_system(), table);
      break;
    default:
      memo = std::make_unique<MemoFile>(table.file_system(), table);
  }
  memo->OpenDisk(MemoPathFor(table.FileName(), table.Version()), table.read_write(),
                 table.shared());
  memo->ReadHeader();
  return memo;
}

void MemoFile::RaiseBadMemo() const {
  throw ETableError(FormatMessage("Memo record is bad in %s", {name_}));
}

void MemoFile::ReadHeader() {
  block_size_ = kDbase3BlockSize;
  block_header_size_ = 0;
  ReadAt(0, header_, sizeof header_);
}

uint32_t MemoFile::TextLength(uint32_t block) {
  uint64_t start = static_cast<uint64_t>(block) * block_size_;
  uint64_t size = FileSize();
  if (block == 0 || start >= size) RaiseBadMemo();
  char buffer[kDbase3BlockSize];
  uint32_t length = 0;
  while (length < kDbase3MaxText) {
    size_t n = ReadAt(start + length, buffer, sizeof buffer);
    if (n == 0) RaiseBadMemo();  // the end of the file came before the 0x1A
    const char* end = std::find(buffer, buffer + n, dbf::kEndOfFile);
    length += static_cast<uint32_t>(end - buffer);
    if (end != buffer + n) break;
  }
  return std::min(length, kDbase3MaxText);
}

std::string MemoFile::ReadText(uint32_t block, uint32_t wanted) {
  uint32_t length = std::min(wanted, TextLength(block));
  std::string text(length, '\0');
  ReadExact(static_cast<uint64_t>(block) * block_size_ + block_header_size_, text.data(),
            length);
  return text;
}

void MemoFileDb4::ReadHeader() {
  if (ReadAt(0, header_, sizeof header_) != sizeof header_) RaiseBadMemo();
  block_size_ = dbf::Get32(header_ + 20);
  block_header_size_ = 8;
  if (block_size_ < 8 || block_size_ > kMaxBlockSize) RaiseBadMemo();
  if (read_write_ && FileSize() < block_size_) {
    std::string zeros(block_size_ - FileSize(), '\0');
    WriteAt(FileSize(), zeros.data(), zeros.size());
  }
}

uint32_t MemoFileDb4::TextLength(uint32_t block) {
  unsigned char head[8];
  uint64_t start = static_cast<uint64_t>(block) * block_size_;
  if (block == 0 || ReadAt(start, head, 8) != 8) RaiseBadMemo();
  if (head[0] != 0xFF || head[1] != 0xFF) RaiseBadMemo();
  uint32_t total = dbf::Get32(head + 4);
  if (total < 8 || start + total > FileSize()) RaiseBadMemo();
  return total - 8;
}

void MemoFileFox::ReadHeader() {
  if (ReadAt(0, header_, sizeof header_) != sizeof header_) RaiseBadMemo();
  block_size_ = dbf::Get32BE(header_ + 4) & 0xFFFF;
  block_header_size_ = 8;
  if (block_size_ == 0) RaiseBadMemo();
}

uint32_t MemoFileFox::TextLength(uint32_t block) {
  unsigned char head[8];
  uint64_t start = static_cast<uint64_t>(block) * block_size_;
  if (block == 0 || ReadAt(start, head, 8) != 8) RaiseBadMemo();
  uint32_t type = dbf::Get32BE(head);
  if (type != 0 && type != 1) RaiseBadMemo();
  uint32_t length = dbf::Get32BE(head + 4);
  if (start + 8 + length > FileSize()) RaiseBadMemo();
  return length;
}

}  // namespace mirestal
