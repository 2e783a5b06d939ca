#include "xls/text_workbook.h"

#include <algorithm>

#include "xls/compound_file.h"
#include "xls/workbook_writer.h"
#include "xls/xls_export.h"

namespace mirestal {
namespace {

constexpr size_t kMaxRows = 65536;
constexpr size_t kMaxColumns = 256;

// UTF-8 to UTF-16; an invalid byte becomes U+FFFD.
std::u16string Utf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const int extra = b < 0x80         ? 0
                      : (b >> 5) == 6  ? 1
                      : (b >> 4) == 14 ? 2
                      : (b >> 3) == 30 ? 3
                                       : -1;
    char32_t c = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
    bool ok = extra >= 0 && i + extra < utf8.size();
    for (int k = 1; ok && k <= extra; ++k) {
      const auto t = static_cast<unsigned char>(utf8[i + k]);
      ok = (t & 0xC0) == 0x80;
      c = (c << 6) | (t & 0x3F);
    }
    if (!ok || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(c));
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

void WriteSheet(const TextWorkbook& book, xls::TStream& stream, size_t columns) {
  const TXLSOptions options;
  xls::TWorkbookWriter writer(stream, options.DataFormat);
  writer.WriteWorkbookHead();
  xls::TxlsSheet sheet;
  sheet.Title = Utf16(book.sheet_title);
  for (size_t c = 0; c < columns; ++c) {
    sheet.ColumnWidths.push_back(c < book.column_widths.size() ? book.column_widths[c] : 8);
  }
  const int index = writer.WriteSheetHead(sheet);
  uint16_t row = 0;
  const auto write_row = [&](const std::vector<std::string>& cells, uint16_t xf) {
    for (size_t c = 0; c < cells.size(); ++c) {
      if (cells[c].empty()) continue;
      writer.NoteUsedCell(index, row, static_cast<int>(c));
      writer.WriteLabel(row, static_cast<uint16_t>(c), Utf16(cells[c]), xf);
    }
    ++row;
  };
  if (!book.captions.empty()) {
    TxlsFormat bold = options.CaptionsFormat;
    write_row(book.captions, writer.RegisterCellFormat(u"General", &bold));
  }
  for (const std::vector<std::string>& cells : book.rows) write_row(cells, 15);
  writer.WriteSheetTail();
  writer.WriteWorkbookTail();
}

}  // namespace

void WriteTextWorkbook(const TextWorkbook& book, const std::string& path, FileSystem& fs) {
  size_t columns = book.captions.size();
  for (const auto& cells : book.rows) columns = std::max(columns, cells.size());
  const size_t rows = book.rows.size() + (book.captions.empty() ? 0 : 1);
  if (rows > kMaxRows) {
    throw EExportError("Too many records for a worksheet: " + std::to_string(rows) + " (at most " +
                       std::to_string(kMaxRows) + ")");
  }
  if (columns > kMaxColumns) {
    throw EExportError("Too many columns for a worksheet: " + std::to_string(columns) +
                       " (at most " + std::to_string(kMaxColumns) + ")");
  }
  std::unique_ptr<xls::CompoundFileWriter> storage = xls::OpenWorkbookStorage(fs, path);
  try {
    WriteSheet(book, *storage, columns);
    storage->Finish();
  } catch (...) {
    storage->Abandon();
    throw;
  }
}

}  // namespace mirestal
