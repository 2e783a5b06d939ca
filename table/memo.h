// Memo files beside a table: the texts of M, B and G fields, in blocks of a fixed size.
//
// dBase III (.dbt, MemoFile): blocks of 512; header bytes 0-3 next free block (LE). A text
//   starts at its first block and ends at the first 0x1A (at most 65,519 bytes); written texts
//   are followed by 0x1A 0x1A and zero bytes to the end of the block.
// dBase IV (.dbt, MemoFileDb4): header bytes 0-3 first block of the free list, 20-23 block
//   size (LE). A text starts with FF FF 08 00 and its total length with these 8 bytes (LE). A
//   free run holds the next run's first block and its own block count; the last link points
//   to the first block after the end of the file.
// FoxPro (.fpt, MemoFileFox): header bytes 0-3 next free block (BE), block size = low 16 bits
//   of bytes 4-7 (BE). A text starts with its type (1 = text, 0 accepted) and its length
//   without the header, both 4 bytes BE.
#pragma once

#include <cstdint>
#include <string>

#include "table/dbf_table.h"

namespace mirestal {

// The longest text a dBase III memo file gives back.
inline constexpr uint32_t kDbase3MaxText = 65519;

class MemoFile : public DiskFile {
 public:
  MemoFile(FileSystem& fs, DbfFile& table) : DiskFile(fs), table_(table) {}

  // Creates the right memo object for the table's version and opens it.
  static std::unique_ptr<MemoFile> OpenFor(DbfFile& table);
  // Memo file path: the table's path with its extension replaced.
  static std::string MemoPathFor(const std::string& table_path, uint8_t version);

  // Text length of the text starting at `block`; raises "Memo record is bad in %s" when the
  // block header is wrong or the text lies outside the file.
  virtual uint32_t TextLength(uint32_t block);
  // Reads min(wanted, length) bytes of the text starting at `block`.
  std::string ReadText(uint32_t block, uint32_t wanted);
  // Writes a text for a field whose current block is `block` (0: none); returns the block
  // number to store in the field (0 for an empty text).
  virtual uint32_t WriteText(uint32_t block, std::string_view text);
  // Gives the blocks of a text back (dBase IV only).
  virtual void ReleaseMemo(uint32_t block) { (void)block; }

  uint32_t block_size() const { return block_size_; }
  uint32_t header_size() const { return block_header_size_; }

 protected:
  virtual void ReadHeader();
  [[noreturn]] void RaiseBadMemo() const;

  DbfFile& table_;
  uint32_t block_size_ = 512;
  uint32_t block_header_size_ = 0;
  unsigned char header_[32] = {};
};

class MemoFileDb4 : public MemoFile {
 public:
  using MemoFile::MemoFile;
  uint32_t TextLength(uint32_t block) override;
  uint32_t WriteText(uint32_t block, std::string_view text) override;
  void ReleaseMemo(uint32_t block) override;

 protected:
  void ReadHeader() override;
};

class MemoFileFox : public MemoFile {
 public:
  using MemoFile::MemoFile;
  uint32_t TextLength(uint32_t block) override;
  uint32_t WriteText(uint32_t block, std::string_view text) override;

 protected:
  void ReadHeader() override;
};

}  // namespace mirestal
