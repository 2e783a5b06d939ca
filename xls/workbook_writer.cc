#include "xls/workbook_writer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "xls/biff_format.h"

namespace mirestal::xls {

namespace {

void Put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v & 0xFF);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>((v >> (8 * i)) & 0xFF);
}
void PutDouble(uint8_t* p, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>((bits >> (8 * i)) & 0xFF);
}

// A record appended to an in-memory buffer; data beyond biff::kContinuePiece bytes goes into
// CONTINUE records.
void AppendRecord(std::string& out, uint16_t number, const uint8_t* data, size_t length) {
  size_t done = 0;
  do {
    size_t piece = std::min(length - done, biff::kContinuePiece);
    uint8_t header[4];
    Put16(header, done == 0 ? number : biff::kContinue);
    Put16(header + 2, static_cast<uint16_t>(piece));
    out.append(reinterpret_cast<const char*>(header), 4);
    out.append(reinterpret_cast<const char*>(data) + done, piece);
    done += piece;
  } while (done < length);
}
void AppendRecord(std::string& out, uint16_t number, const std::vector<uint8_t>& data) {
  AppendRecord(out, number, data.data(), data.size());
}

void AppendUnits(std::vector<uint8_t>& d, std::u16string_view units) {
  for (char16_t c : units) {
    d.push_back(static_cast<uint8_t>(c & 0xFF));
    d.push_back(static_cast<uint8_t>(c >> 8));
  }
}

// Text with an 8-bit length; longer texts are cut (titles and font names are short).
std::u16string_view Cut255(std::u16string_view s) { return s.substr(0, 255); }

bool SameFont(const TxlsFont& a, const TxlsFont& b) { return a == b; }

uint8_t UnderlineCode(TxlsFontUnderline u) {
  switch (u) {
    case TxlsFontUnderline::fulNone:
      return 0x00;
    case TxlsFontUnderline::fulSingle:
      return 0x01;
    case TxlsFontUnderline::fulDouble:
      return 0x02;
    case TxlsFontUnderline::fulSingleAccounting:
      return 0x21;
    case TxlsFontUnderline::fulDoubleAccounting:
      return 0x22;
  }
  return 0;
}

std::vector<uint8_t> FontData(const TxlsFont& font) {
  std::u16string_view name = Cut255(font.Name);
  std::vector<uint8_t> d(16);
  Put16(&d[0], static_cast<uint16_t>(font.Size * 20));
  Put16(&d[2], static_cast<uint16_t>(((font.Style & xfsItalic) ? 0x0002 : 0) |
                                     ((font.Style & xfsStrikeOut) ? 0x0008 : 0)));
  Put16(&d[4], biff::PaletteIndex(font.Color));
  Put16(&d[6], (font.Style & xfsBold) ? 700 : 400);
  Put16(&d[8], static_cast<uint16_t>(font.Script));
  d[10] = UnderlineCode(font.Underline);
  d[11] = 0;
  d[12] = font.Charset;
  d[13] = 0;
  d[14] = static_cast<uint8_t>(name.size());
  d[15] = 0x01;
  AppendUnits(d, name);
  return d;
}

}  // namespace

uint16_t ColumnInfoWidth(int32_t chars) {
  double width = (std::max(chars, 0) + 1 + 1.0 / kZeroDigitPixels) * 256;
  // Halves to even, as the default rounding mode does.
  double rounded = std::nearbyint(width);
  return static_cast<uint16_t>(std::min(rounded, 65535.0));
}

TWorkbookWriter::TWorkbookWriter(TStream& stream, const TxlsFormat& data_format)
    : stream_(stream), default_font_(data_format.Font) {}

uint64_t TWorkbookWriter::Position() { return stream_.Seek(0, SeekOrigin::kCurrent); }

void TWorkbookWriter::WriteRecord(uint16_t number, size_t length) {
  Put16(record_.data(), number);
  Put16(record_.data() + 2, static_cast<uint16_t>(length));
  size_t total = 4 + length;
  if (stream_.Write(record_.data(), total) != total) {
    throw EExportError("Error writing output file");
  }
}

void TWorkbookWriter::WriteWorkbookHead() {
  uint8_t* d = Buffer();
  auto bof = [&](uint16_t type) {
    std::memset(d, 0, 16);
    Put16(d, biff::kBiff8);
    Put16(d + 2, type);
    Put16(d + 4, 3515);
    Put16(d + 6, 1996);
    Put32(d + 8, 0);
    Put32(d + 12, 0x0206);
    WriteRecord(biff::kBof, 16);
  };
  auto word = [&](uint16_t number, uint16_t value) {
    Put16(d, value);
    WriteRecord(number, 2);
  };
  bof(biff::kGlobalsSubstream);
  const size_t name_length = sizeof biff::kWriteAccessName - 1;
  std::memset(d, 0x20, 112);
  Put16(d, static_cast<uint16_t>(name_length));
  d[2] = 0x00;
  std::memcpy(d + 3, biff::kWriteAccessName, name_length);
  WriteRecord(biff::kWriteAccess, 112);
  word(biff::kCodePage, 1252);
  word(biff::kDsf, 0);
  word(biff::kFnGroupCount, 14);
  word(biff::kWindowProtect, 0);
  word(biff::kProtect, 0);
  word(biff::kPassword, 0);
  word(biff::kProt4Rev, 0);
  word(biff::kProt4RevPass, 0);
  const uint16_t window1[9] = {120, 120, 23820, 15720, 0x0038, 0, 0, 1, 600};
  for (int i = 0; i < 9; ++i) Put16(d + 2 * i, window1[i]);
  WriteRecord(biff::kWindow1, 18);
  word(biff::kBackup, 0);
  word(biff::kHideObj, 0);
  word(biff::kDateMode, 0);
  word(biff::kPrecision, 1);
  word(biff::kRefreshAll, 0);
  word(biff::kBookBool, 0);
  insertion_position_ = Position();
  WriteRecord(biff::kEof, 0);
}

int TWorkbookWriter::WriteSheetHead(const TxlsSheet& sheet) {
  TxlsBoundSheet entry;
  entry.index = static_cast<int32_t>(sheets_.size());
  entry.title = sheet.Title;
  entry.bof_position = Position();

  uint8_t* d = Buffer();
  auto word = [&](uint16_t number, uint16_t value) {
    Put16(d, value);
    WriteRecord(number, 2);
  };
  std::memset(d, 0, 16);
  Put16(d, biff::kBiff8);
  Put16(d + 2, biff::kWorksheetSubstream);
  Put16(d + 4, 3515);
  Put16(d + 6, 1996);
  Put32(d + 12, 0x0206);
  WriteRecord(biff::kBof, 16);
  word(biff::kCalcMode, 1);
  word(biff::kCalcCount, 100);
  word(biff::kRefMode, 1);
  word(biff::kIteration, 0);
  PutDouble(d, 0.001);
  WriteRecord(biff::kDelta, 8);
  word(biff::kSaveRecalc, 1);
  word(biff::kPrintHeaders, 0);
  word(biff::kPrintGridLines, 0);
  word(biff::kGridSet, 1);
  std::memset(d, 0, 8);
  WriteRecord(biff::kGuts, 8);
  word(biff::kDefColWidth, static_cast<uint16_t>(sheet.DefColWidth));
  Put16(d, 0);
  Put16(d + 2, static_cast<uint16_t>(std::trunc(sheet.DefRowHeight * 20)));
  WriteRecord(biff::kDefaultRowHeight, 4);
  word(biff::kWsBool, 0x04C1);
  // Page header and footer: 8-bit characters when every character fits in 8 bits, as in the
  // usual texts; UTF-16 otherwise, so that no character is lost.
  auto page_text = [&](uint16_t number, std::u16string_view text) {
    text = Cut255(text);
    if (text.empty()) {
      WriteRecord(number, 0);
      return;
    }
    bool wide = std::any_of(text.begin(), text.end(), [](char16_t c) { return c > 0xFF; });
    Put16(d, static_cast<uint16_t>(text.size()));
    d[2] = wide ? 0x01 : 0x00;
    size_t at = 3;
    for (char16_t c : text) {
      d[at++] = static_cast<uint8_t>(c & 0xFF);
      if (wide) d[at++] = static_cast<uint8_t>(c >> 8);
    }
    WriteRecord(number, at);
  };
  page_text(biff::kHeader, sheet.PageHeader);
  page_text(biff::kFooter, sheet.PageFooter);
  word(biff::kHCenter, 0);
  word(biff::kVCenter, 0);
  for (size_t i = 0; i < sheet.ColumnWidths.size(); ++i) {
    uint16_t column = static_cast<uint16_t>(sheet.StartDataCol + i);
    Put16(d, column);
    Put16(d + 2, column);
    Put16(d + 4, ColumnInfoWidth(sheet.ColumnWidths[i]));
    Put16(d + 6, biff::kDefaultXf);
    Put16(d + 8, 0);
    Put16(d + 10, 0);
    WriteRecord(biff::kColInfo, 12);
  }
  entry.dimensions_position = Position();
  std::memset(d, 0, 14);
  WriteRecord(biff::kDimensions, 14);
  sheets_.push_back(std::move(entry));
  return sheets_.back().index;
}

void TWorkbookWriter::WriteSheetTail() {
  uint8_t* d = Buffer();
  std::memset(d, 0, 18);
  Put16(d, 0x06B6);
  WriteRecord(biff::kWindow2, 18);
  std::memset(d, 0, 15);
  d[0] = 3;
  Put16(d + 7, 1);  // range count
  WriteRecord(biff::kSelection, 15);
  WriteRecord(biff::kEof, 0);
}

void TWorkbookWriter::NoteUsedCell(int sheet, int row, int column) {
  TxlsBoundSheet& s = sheets_.at(sheet);
  if (s.first_row < 0 || s.first_row > row) s.first_row = row;
  if (s.last_row < 0 || s.last_row < row) s.last_row = row;
  if (s.first_col < 0 || s.first_col > column) s.first_col = column;
  if (s.last_col < 0 || s.last_col < column) s.last_col = column;
}

bool TWorkbookWriter::TxlsXFormat::SameLook(const TxlsXFormat& o) const {
  return format == o.format && font == o.font && borders == o.borders && fill == o.fill &&
         alignment == o.alignment && wrap == o.wrap && rotation == o.rotation;
}

uint16_t TWorkbookWriter::RegisterCellFormat(std::u16string_view format_text,
                                             const TxlsFormat* format) {
  if (format_text == u"General" && format == nullptr) return biff::kDefaultXf;
  std::u16string f = format_text.empty() ? u"General" : std::u16string(format_text);
  TxlsXFormat entry;
  if (f != u"General") entry.format = f;
  if (format != nullptr) {
    if (!SameFont(format->Font, default_font_)) entry.font = format->Font;
    entry.borders = format->Borders;
    entry.fill = format->Fill;
    entry.alignment = format->Alignment;
    entry.wrap = format->Wrap;
    entry.rotation = format->Rotation;
  }
  for (const TxlsXFormat& existing : xformats_) {
    if (existing.SameLook(entry)) return existing.index;
  }
  if (entry.font) {
    auto it = std::find_if(fonts_.begin(), fonts_.end(),
                           [&](const FontEntry& e) { return SameFont(e.font, *entry.font); });
    if (it == fonts_.end()) {
      fonts_.push_back(FontEntry{++last_font_, *entry.font});
      it = fonts_.end() - 1;
    }
    entry.font_index = it->index;
  }
  if (entry.format) {
    auto it = std::find_if(formats_.begin(), formats_.end(),
                           [&](const FormatEntry& e) { return e.text == *entry.format; });
    if (it == formats_.end()) {
      formats_.push_back(FormatEntry{++last_format_, *entry.format});
      it = formats_.end() - 1;
    }
    entry.format_index = it->index;
  }
  entry.index = ++last_xf_;
  xformats_.push_back(std::move(entry));
  return xformats_.back().index;
}

void TWorkbookWriter::XfData(const TxlsXFormat& xf, uint8_t* d) const {
  std::memcpy(d, biff::kDefaultXfData[15], 20);
  Put16(d, xf.font ? xf.font_index : 1);
  Put16(d + 2, xf.format ? xf.format_index : 0);
  Put16(d + 4, 0x0001);
  Put16(d + 6, static_cast<uint16_t>(static_cast<unsigned>(xf.alignment.Horizontal) |
                                     (xf.wrap ? 0x08u : 0u) |
                                     (static_cast<unsigned>(xf.alignment.Vertical) << 4) |
                                     (unsigned{xf.rotation} << 8)));
  const TxlsBorders& b = xf.borders;
  auto styled = [](const TxlsBorder& border) { return border.Style != TxlsBorderStyle::bstNone; };
  auto style = [](const TxlsBorder& border) { return static_cast<unsigned>(border.Style); };
  auto color = [&](const TxlsBorder& border) -> unsigned {
    return styled(border) ? biff::PaletteIndex(border.Color) : 0u;
  };
  bool any_border = styled(b.Left) || styled(b.Right) || styled(b.Top) || styled(b.Bottom) ||
                    styled(b.DiagDown) || styled(b.DiagUp);
  Put16(d + 8, static_cast<uint16_t>(0x4000 | 0x1000 | (xf.font ? 0x0800 : 0) |
                                     (any_border ? 0x2000 : 0)));
  Put16(d + 10, static_cast<uint16_t>(style(b.Left) | (style(b.Right) << 4) | (style(b.Top) << 8) |
                                      (style(b.Bottom) << 12)));
  Put16(d + 12, static_cast<uint16_t>(color(b.Left) | (color(b.Right) << 7) |
                                      (styled(b.DiagDown) ? 0x4000u : 0u) |
                                      (styled(b.DiagUp) ? 0x8000u : 0u)));
  const TxlsBorder* diagonal = styled(b.DiagDown) ? &b.DiagDown
                               : styled(b.DiagUp) ? &b.DiagUp
                                                  : nullptr;
  uint32_t w = color(b.Top) | (color(b.Bottom) << 7);
  if (diagonal != nullptr) {
    w |= uint32_t{biff::PaletteIndex(diagonal->Color)} << 14;
    w |= uint32_t{style(*diagonal)} << 21;
  }
  w |= uint32_t{static_cast<uint8_t>(xf.fill.Pattern)} << 26;
  Put32(d + 14, w);
  Put16(d + 18, static_cast<uint16_t>(biff::PaletteIndex(xf.fill.Background) |
                                      (biff::PaletteIndex(xf.fill.Foreground) << 7)));
}

void TWorkbookWriter::WriteLabel(uint16_t row, uint16_t column, std::u16string_view text,
                                 uint16_t xf) {
  uint32_t index = sst_.AddSharedString(text);
  uint8_t* d = Buffer();
  Put16(d, row);
  Put16(d + 2, column);
  Put16(d + 4, xf);
  Put32(d + 6, index);
  WriteRecord(biff::kLabelSst, 10);
}

void TWorkbookWriter::WriteNumber(uint16_t row, uint16_t column, double value, uint16_t xf) {
  uint8_t* d = Buffer();
  Put16(d, row);
  Put16(d + 2, column);
  Put16(d + 4, xf);
  PutDouble(d + 6, value);
  WriteRecord(biff::kNumber, 14);
}

void TWorkbookWriter::WriteBoolean(uint16_t row, uint16_t column, bool value, uint16_t xf) {
  uint8_t* d = Buffer();
  Put16(d, row);
  Put16(d + 2, column);
  Put16(d + 4, xf);
  d[6] = value ? 1 : 0;
  d[7] = 0;
  WriteRecord(biff::kBoolErr, 8);
}

void TWorkbookWriter::WriteBlank(uint16_t row, uint16_t column, uint16_t xf) {
  uint8_t* d = Buffer();
  Put16(d, row);
  Put16(d + 2, column);
  Put16(d + 4, xf);
  WriteRecord(biff::kBlank, 6);
}

void TWorkbookWriter::WriteWorkbookTail() {
  const uint64_t end = stream_.Seek(0, SeekOrigin::kEnd);
  for (const TxlsBoundSheet& s : sheets_) {
    if (s.first_row < 0 || s.last_row < 0 || s.first_col < 0 || s.last_col < 0) continue;
    uint8_t dims[12];
    Put32(dims, static_cast<uint32_t>(s.first_row));
    Put32(dims + 4, static_cast<uint32_t>(s.last_row + 1));
    Put16(dims + 8, static_cast<uint16_t>(s.first_col));
    Put16(dims + 10, static_cast<uint16_t>(s.last_col + 1));
    stream_.Seek(static_cast<int64_t>(s.dimensions_position + 4), SeekOrigin::kBegin);
    if (stream_.Write(dims, sizeof dims) != sizeof dims) {
      throw EExportError("Error writing output file");
    }
  }
  stream_.Seek(static_cast<int64_t>(end), SeekOrigin::kBegin);

  std::string tail;
  const std::vector<uint8_t> default_font = FontData(TxlsFont{});
  for (int i = 0; i < 4; ++i) AppendRecord(tail, biff::kFont, default_font);
  for (const FontEntry& f : fonts_) AppendRecord(tail, biff::kFont, FontData(f.font));
  for (const FormatEntry& f : formats_) {
    std::vector<uint8_t> d(5);
    Put16(&d[0], f.index);
    Put16(&d[2], static_cast<uint16_t>(f.text.size()));
    d[4] = 0x01;
    AppendUnits(d, f.text);
    AppendRecord(tail, biff::kFormat, d);
  }
  for (const auto& xf : biff::kDefaultXfData) AppendRecord(tail, biff::kXf, xf, 20);
  for (const TxlsXFormat& xf : xformats_) {
    uint8_t d[20];
    XfData(xf, d);
    AppendRecord(tail, biff::kXf, d, 20);
  }
  for (const auto& style : biff::kDefaultStyleData) AppendRecord(tail, biff::kStyle, style, 4);
  {
    std::vector<uint8_t> d(2 + 4 * 56);
    Put16(&d[0], 56);
    for (int i = 0; i < 56; ++i) {
      d[2 + 4 * i] = static_cast<uint8_t>(biff::kDefaultPalette[i] >> 16);
      d[3 + 4 * i] = static_cast<uint8_t>(biff::kDefaultPalette[i] >> 8);
      d[4 + 4 * i] = static_cast<uint8_t>(biff::kDefaultPalette[i]);
      d[5 + 4 * i] = 0;
    }
    AppendRecord(tail, biff::kPalette, d);
  }
  for (TxlsBoundSheet& s : sheets_) {
    std::u16string_view title = Cut255(s.title);
    std::vector<uint8_t> d(8);
    d[6] = static_cast<uint8_t>(title.size());
    d[7] = 0x01;
    AppendUnits(d, title);
    s.boundsheet_position = tail.size();
    AppendRecord(tail, biff::kBoundSheet, d);
  }
  {
    uint8_t d[4];
    Put16(d, 1);
    Put16(d + 2, 1);
    AppendRecord(tail, biff::kCountry, d, 4);
  }
  sst_.ReleaseIndex();
  sst_.WriteSharedStrings(tail);

  tail_size_ = tail.size();
  for (const TxlsBoundSheet& s : sheets_) {
    Put32(reinterpret_cast<uint8_t*>(tail.data()) + s.boundsheet_position + 4,
          static_cast<uint32_t>(s.bof_position + tail_size_));
  }

  // Move everything after the insertion position up by the tail's size, last chunk first, so
  // that only one chunk is held in memory; then write the tail into the gap.
  constexpr size_t kChunk = 61440;
  std::string chunk(kChunk, '\0');
  uint64_t chunk_end = end;
  while (chunk_end > insertion_position_) {
    uint64_t start =
        std::max<uint64_t>(insertion_position_, chunk_end > kChunk ? chunk_end - kChunk : 0);
    size_t n = static_cast<size_t>(chunk_end - start);
    stream_.Seek(static_cast<int64_t>(start), SeekOrigin::kBegin);
    if (stream_.Read(chunk.data(), n) != n) throw EExportError("Stream read error");
    stream_.Seek(static_cast<int64_t>(start + tail_size_), SeekOrigin::kBegin);
    if (stream_.Write(chunk.data(), n) != n) throw EExportError("Stream write error");
    chunk_end = start;
  }
  stream_.Seek(static_cast<int64_t>(insertion_position_), SeekOrigin::kBegin);
  if (stream_.Write(tail.data(), tail.size()) != tail.size()) {
    throw EExportError("Error writing output file");
  }
  stream_.Seek(0, SeekOrigin::kEnd);
}

uint64_t TWorkbookWriter::SheetBofPosition(int sheet) const {
  return sheets_.at(sheet).bof_position + tail_size_;
}

}  // namespace mirestal::xls
