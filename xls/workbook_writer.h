// The BIFF8 workbook stream: head, sheet head and tail, cell records, and the workbook tail
// (fonts, number formats, cell formats, styles, palette, sheet directory, country, shared
// strings) that is built at the end and inserted after the head.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xls/sst.h"
#include "xls/stream.h"
#include "xls/xls_export.h"

namespace mirestal::xls {

// The per-sheet settings that the sheet head needs.
struct TxlsSheet {
  std::u16string Title = u"Sheet 1";
  int32_t DefColWidth = 8;      // characters
  double DefRowHeight = 12.75;  // points
  std::u16string PageHeader;
  std::u16string PageFooter = u"Page &P of &N";
  uint8_t StartDataCol = 0;
  std::vector<int32_t> ColumnWidths;  // characters, one per exported column
};

// Width in pixels of the digit "0" in Arial 10 point at 96 dpi; COLINFO widths add 1/z of a
// character for the cell padding. Fixed so that widths do not depend on the machine.
inline constexpr int kZeroDigitPixels = 7;

// COLINFO width in 1/256 of a character for a column `chars` characters wide.
uint16_t ColumnInfoWidth(int32_t chars);

// One run's writer state. All records go to `stream` at once, except the workbook tail.
// Use: WriteWorkbookHead, then per sheet WriteSheetHead, cells (each noted with NoteUsedCell),
// WriteSheetTail; finally WriteWorkbookTail. Errors of the stream propagate; a write that the
// stream accepts only in part fails with "Error writing output file".
class TWorkbookWriter {
 public:
  // `data_format` is the format whose font counts as the default font.
  TWorkbookWriter(TStream& stream, const TxlsFormat& data_format);
  TWorkbookWriter(const TWorkbookWriter&) = delete;
  TWorkbookWriter& operator=(const TWorkbookWriter&) = delete;

  // The data of the record being assembled (biff::kRecordBuffer bytes).
  uint8_t* Buffer() { return record_.data() + 4; }
  // Writes a record whose data are the first `length` bytes of Buffer().
  void WriteRecord(uint16_t number, size_t length);

  void WriteWorkbookHead();
  // Returns the sheet's index.
  int WriteSheetHead(const TxlsSheet& sheet);
  void WriteSheetTail();
  void WriteWorkbookTail();

  // The cell format index for cells of number format `format_text` (empty means "General")
  // and look `format` (none: the data format's look). 15 for "General" without a look.
  uint16_t RegisterCellFormat(std::u16string_view format_text, const TxlsFormat* format);
  void NoteUsedCell(int sheet, int row, int column);

  void WriteLabel(uint16_t row, uint16_t column, std::u16string_view text, uint16_t xf);
  void WriteNumber(uint16_t row, uint16_t column, double value, uint16_t xf);
  void WriteBoolean(uint16_t row, uint16_t column, bool value, uint16_t xf);
  void WriteBlank(uint16_t row, uint16_t column, uint16_t xf);

  TsstStrings& Strings() { return sst_; }
  uint64_t InsertionPosition() const { return insertion_position_; }
  // Stream offset of the sheet's BOF in the finished stream (after WriteWorkbookTail).
  uint64_t SheetBofPosition(int sheet) const;

 private:
  struct FontEntry {
    uint16_t index;
    TxlsFont font;
  };
  struct FormatEntry {
    uint16_t index;
    std::u16string text;
  };
  struct TxlsXFormat {
    uint16_t index = 0;
    std::optional<TxlsFont> font;
    std::optional<std::u16string> format;
    uint16_t font_index = 1;    // resolved at registration
    uint16_t format_index = 0;  // "General"
    TxlsBorders borders;
    TxlsFill fill;
    TxlsAlignment alignment;
    bool wrap = false;
    uint8_t rotation = 0;
    bool SameLook(const TxlsXFormat& other) const;
  };
  struct TxlsBoundSheet {
    int32_t index;
    std::u16string title;
    uint64_t bof_position;
    size_t boundsheet_position = 0;  // in the tail buffer
    uint64_t dimensions_position = 0;
    int32_t first_row = -1, last_row = -1, first_col = -1, last_col = -1;
  };

  uint64_t Position();
  void XfData(const TxlsXFormat& xf, uint8_t* data) const;

  TStream& stream_;
  TxlsFont default_font_;
  std::array<uint8_t, 4 + 8224> record_{};
  std::vector<FontEntry> fonts_;
  std::vector<FormatEntry> formats_;
  std::vector<TxlsXFormat> xformats_;
  std::vector<TxlsBoundSheet> sheets_;
  TsstStrings sst_;
  uint16_t last_font_ = 4;
  uint16_t last_format_ = 49;
  uint16_t last_xf_ = 15;
  uint64_t insertion_position_ = 0;
  uint64_t tail_size_ = 0;
};

}  // namespace mirestal::xls
