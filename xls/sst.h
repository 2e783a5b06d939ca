// The shared string table of a workbook: every text cell refers to one of its entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace mirestal::xls {

// Entries are kept in order of first use; a search index sorted by length and then by UTF-16
// code units finds a text in logarithmic time. While texts are added, the table plans the data
// lengths of the SST record and its CONTINUE records, so WriteSharedStrings() writes the table
// in one pass.
//
// Every entry is stored as UTF-16: count (16-bit), option byte 0x01, the code units. An entry
// that does not fit the rest of a record starts the next CONTINUE record whole. An entry of more
// than kMaxWholeChars characters cannot fit any record: it starts a new CONTINUE record with its
// header and first kMaxWholeChars characters, and goes on in further CONTINUE records, each
// opened by the option byte 0x01 and holding at most kMaxPieceChars characters (whole code
// units, as readers expect).
class TsstStrings {
 public:
  static constexpr size_t kRecordLimit = 8224;
  static constexpr uint32_t kMaxWholeChars = (kRecordLimit - 3) / 2;  // 4110
  static constexpr uint32_t kMaxPieceChars = (kRecordLimit - 1) / 2;  // 4111
  static constexpr uint32_t kMaxChars = 0xFFFF;

  TsstStrings();
  TsstStrings(const TsstStrings&) = delete;
  TsstStrings& operator=(const TsstStrings&) = delete;

  // Returns the index of `text`, adding it when new. Throws std::length_error for a text of
  // more than kMaxChars code units. REQUIRES: ReleaseIndex() has not been called.
  uint32_t AddSharedString(std::u16string_view text);
  // Drops the search index (no more texts will be added); frees its memory before the table
  // is written.
  void ReleaseIndex();
  // Appends the SST record and its CONTINUE records to `out`.
  void WriteSharedStrings(std::string& out);

  uint32_t total() const { return total_; }
  uint32_t unique() const { return static_cast<uint32_t>(entries_.size()); }
  uint32_t UseCount(uint32_t index) const { return entries_.at(index).uses; }
  std::u16string_view Text(uint32_t index) const;
  // Data lengths planned so far for the SST record and its CONTINUE records, the record being
  // filled included.
  std::vector<uint32_t> SizePlan() const;

 private:
  struct Entry {
    size_t offset;  // into text_
    uint32_t length;
    uint32_t uses;
  };
  // Orders entry indexes (and probe texts) by length, then code units.
  struct Less {
    using is_transparent = void;
    const TsstStrings* table;
    bool operator()(uint32_t a, uint32_t b) const { return Cmp(table->Text(a), table->Text(b)); }
    bool operator()(uint32_t a, std::u16string_view b) const { return Cmp(table->Text(a), b); }
    bool operator()(std::u16string_view a, uint32_t b) const { return Cmp(a, table->Text(b)); }
    static bool Cmp(std::u16string_view a, std::u16string_view b) {
      return a.size() != b.size() ? a.size() < b.size() : a < b;
    }
  };
  void Plan(uint32_t length);

  std::u16string text_;  // all entries' code units, one after the other
  std::vector<Entry> entries_;
  std::set<uint32_t, Less> index_;
  bool index_released_ = false;
  std::vector<uint32_t> size_plan_;
  uint32_t current_ = 8;  // the SST record's two counters
  uint32_t total_ = 0;
};

}  // namespace mirestal::xls
