#include "xls/xls_export.h"

#include <unistd.h>

#include <memory>

#include "platform/gbk.h"
#include "platform/locale.h"
#include "table/dataset.h"
#include "xls/compound_file.h"
#include "xls/convert.h"
#include "xls/workbook_writer.h"

namespace mirestal {

using xls::TWorkbookWriter;

TXLSOptions::TXLSOptions() {
  CaptionsFormat.Font.Style = xfsBold;
  HyperlinkFormat.Font.Color = TxlsColor::clrBlue;
  HyperlinkFormat.Font.Underline = TxlsFontUnderline::fulSingle;
}

TExportFormats::TExportFormats()
    : DateFormat(locale::kShortDateFormat),
      TimeFormat(locale::kShortTimeFormat),
      DateTimeFormat(DateFormat + " " + TimeFormat) {
  const std::string symbol = locale::kCurrencySymbolGbk;
  const std::string amount = "#,###,##0.00";
  switch (locale::kCurrencyPositivePlacement) {
    case 1:
      CurrencyFormat = amount + symbol;
      break;
    case 2:
      CurrencyFormat = symbol + " " + amount;
      break;
    case 3:
      CurrencyFormat = amount + " " + symbol;
      break;
    default:
      CurrencyFormat = symbol + amount;
      break;
  }
}

namespace {

enum class TExportColType {
  ectInteger,
  ectBigint,
  ectFloat,
  ectCurrency,
  ectDate,
  ectTime,
  ectDateTime,
  ectString,
  ectBoolean,
  ectUnknown,
};

struct TExportColumn {
  int source = 0;
  TExportColType kind = TExportColType::ectUnknown;
  std::string name;
  std::string caption;
  int32_t width = 0;
  std::string format;
  uint16_t xf = 15;
};

TExportColType KindOf(TFieldType type) {
  switch (type) {
    case TFieldType::ftString:
    case TFieldType::ftMemo:
    case TFieldType::ftBlob:
      return TExportColType::ectString;
    case TFieldType::ftSmallint:
    case TFieldType::ftInteger:
      return TExportColType::ectInteger;
    case TFieldType::ftLargeint:
      return TExportColType::ectBigint;
    case TFieldType::ftFloat:
      return TExportColType::ectFloat;
    case TFieldType::ftCurrency:
      return TExportColType::ectCurrency;
    case TFieldType::ftBoolean:
      return TExportColType::ectBoolean;
    case TFieldType::ftDate:
      return TExportColType::ectDate;
    case TFieldType::ftDateTime:
      return TExportColType::ectDateTime;
  }
  return TExportColType::ectUnknown;
}

// The value of the "name=value" line for `name` (names compared without regard to case).
std::optional<std::string> ValueOf(const std::vector<std::string>& lines, const std::string& name) {
  for (const std::string& line : lines) {
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    if (xls::SameTextGbk(std::string_view(line).substr(0, eq), name)) return line.substr(eq + 1);
  }
  return std::nullopt;
}

int32_t ToInt(const std::string& text) {
  std::string_view t = xls::TrimBlanks(text);
  auto v = xls::ParseNumber(t);
  if (!v || *v != static_cast<double>(static_cast<int32_t>(*v))) return 0;
  return static_cast<int32_t>(*v);
}

std::string ProgramFolder() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  std::string path(buf, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

std::string Utf8Of(const std::string& gbk) { return GbkToUtf8(gbk); }

}  // namespace

void TXlsExport::Execute() {
  exported_ = 0;
  // --- Checks that touch no file ---
  if (FileName.empty()) throw EExportError("Result file name not present");
  size_t slash = FileName.rfind('/');
  std::string folder = slash == std::string::npos ? "" : FileName.substr(0, slash == 0 ? 1 : slash);
  if (folder.empty()) folder = ProgramFolder();
  if (!DirectoryExists(folder)) {
    ForceDirectories(folder);
    if (!DirectoryExists(folder)) {
      throw EExportError("Directory \"" + folder + "\" not found and cannot be created");
    }
  }
  if (ExportSource != TExportSource::esDataSet || DataSet == nullptr) {
    throw EExportError("Sheet " + Utf8Of(Options.SheetTitle) +
                       " define with error: Export source (DataSet) is not assigned");
  }
  TTableDataSet& ds = *DataSet;
  if (!ds.Active()) throw EExportError("Export source (DataSet) is closed");
  if (!ExportEmpty && ds.IsEmpty()) throw EExportError("Export source (DataSet) is empty");

  // --- Column set-up ---
  std::vector<TExportColumn> columns;
  auto take = [&](TField& field) {
    if (OnlyVisibleFields && !field.Visible()) return;
    TExportColumn c;
    c.source = field.Index();
    c.kind = KindOf(field.DataType());
    c.name = field.FieldName();
    c.caption = ValueOf(Captions, c.name).value_or(field.DisplayLabel());
    auto width = ValueOf(ColumnsWidth, c.name);
    c.width = width ? ToInt(*width) : field.DisplayWidth();
    switch (c.kind) {
      case TExportColType::ectInteger:
      case TExportColType::ectBigint:
        c.format = Formats.IntegerFormat;
        break;
      case TExportColType::ectFloat:
        c.format = Formats.FloatFormat;
        break;
      case TExportColType::ectCurrency:
        c.format = Formats.CurrencyFormat;
        break;
      case TExportColType::ectDate:
        c.format = Formats.DateFormat;
        break;
      case TExportColType::ectTime:
        c.format = Formats.TimeFormat;
        break;
      case TExportColType::ectDateTime:
        c.format = Formats.DateTimeFormat;
        break;
      default:
        break;
    }
    if (auto user = ValueOf(UserFormats, c.name)) c.format = *user;
    columns.push_back(std::move(c));
  };
  if (!ExportedFields.empty()) {
    for (const std::string& name : ExportedFields) {
      if (TField* field = ds.FindField(name)) take(*field);
    }
  } else {
    for (int i = 0; i < ds.FieldCount(); ++i) {
      if (!ds.Fields(i).IsBlob()) take(ds.Fields(i));
    }
  }

  // The worksheet holds rows 0..65535 and columns 0..255; a larger export is refused here,
  // before any file is written, rather than wrapping row numbers over the caption row.
  const int64_t last_column = int64_t{StartDataCol} + static_cast<int64_t>(columns.size());
  if (last_column > kMaxColumns) {
    throw EExportError("Too many columns for a worksheet: " + std::to_string(last_column) +
                       " (at most " + std::to_string(kMaxColumns) + ")");
  }
  int64_t data_rows = ds.Eof() && !GoToFirstRecord ? 0 : ds.RecordCount();
  data_rows = std::max<int64_t>(0, data_rows - std::max(SkipRecCount, 0));
  if (ExportRecCount > 0) data_rows = std::min<int64_t>(data_rows, ExportRecCount);
  if (CurrentRecordOnly) data_rows = std::min<int64_t>(data_rows, 1);
  const int caption_rows = AllowCaptions ? 1 : 0;
  if (data_rows + caption_rows > kMaxRows) {
    throw EExportError("Too many records for a worksheet: " + std::to_string(data_rows) +
                       " (at most " + std::to_string(kMaxRows - caption_rows) + ")");
  }

  // --- The workbook ---
  std::unique_ptr<xls::CompoundFileWriter> storage = xls::OpenWorkbookStorage(fs_, FileName);
  int exported = 0;
  try {
    TWorkbookWriter writer(*storage, Options.DataFormat);
    writer.WriteWorkbookHead();
    {
      ScopedDisableControls disable(ds);
      for (TExportColumn& c : columns) {
        uint16_t xf = writer.RegisterCellFormat(GbkToUtf16(c.format), nullptr);
        if (xf != 15) c.xf = xf;
      }
      xls::TxlsSheet sheet;
      sheet.Title = GbkToUtf16(Options.SheetTitle);
      sheet.PageHeader = Options.PageHeader;
      sheet.PageFooter = Options.PageFooter;
      sheet.StartDataCol = StartDataCol;
      for (const TExportColumn& c : columns) sheet.ColumnWidths.push_back(c.width);
      const int s = writer.WriteSheetHead(sheet);
      int row = 0;
      if (AllowCaptions) {
        for (size_t n = 0; n < columns.size(); ++n) {
          if (columns[n].caption.empty()) continue;
          TxlsFormat format = Options.CaptionsFormat;
          uint16_t xf = writer.RegisterCellFormat(u"General", &format);
          uint16_t col = static_cast<uint16_t>(StartDataCol + n);
          writer.NoteUsedCell(s, row, col);
          writer.WriteLabel(static_cast<uint16_t>(row), col, GbkToUtf16(columns[n].caption), xf);
        }
        ++row;
      }

      if (GoToFirstRecord) ds.First();
      for (int i = 0; i < SkipRecCount; ++i) ds.Next();
      int counter = 0;
      std::string text;
      while (!ds.Eof()) {
        if (ExportRecCount > 0 && counter >= ExportRecCount) break;
        if (row >= kMaxRows) {
          throw EExportError("Too many records for a worksheet (at most " +
                             std::to_string(kMaxRows - caption_rows) + ")");
        }
        for (size_t i = 0; i < columns.size(); ++i) {
          const TExportColumn& c = columns[i];
          TField& field = ds.Fields(c.source);
          if (field.DataType() == TFieldType::ftBoolean) {
            text = field.AsBoolean() ? Formats.BooleanTrue : Formats.BooleanFalse;
          } else if (field.IsNull()) {
            text = Formats.NullString;
          } else {
            text = field.AsString();
          }
          std::string_view value = xls::TrimBlanks(text);
          const uint16_t r = static_cast<uint16_t>(row);
          const uint16_t col = static_cast<uint16_t>(StartDataCol + i);
          writer.NoteUsedCell(s, row, col);
          if (value.empty()) {
            writer.WriteBlank(r, col, c.xf);
            continue;
          }
          auto label = [&](std::string_view t) { writer.WriteLabel(r, col, GbkToUtf16(t), c.xf); };
          if (value == Formats.NullString) {
            label(value);
            continue;
          }
          switch (c.kind) {
            case TExportColType::ectInteger:
            case TExportColType::ectFloat:
            case TExportColType::ectCurrency: {
              auto number = xls::ParseNumber(value);
              if (number)
                writer.WriteNumber(r, col, *number, c.xf);
              else
                label(value);
              break;
            }
            case TExportColType::ectBigint: {
              // A 64-bit value that a double would round is kept exact as text.
              double number = 0;
              xls::BigintParse parsed = xls::ParseBigint(value, &number);
              if (parsed == xls::BigintParse::kNotInteger) {
                auto v = xls::ParseNumber(value);
                if (v)
                  writer.WriteNumber(r, col, *v, c.xf);
                else
                  label(value);
              } else if (parsed == xls::BigintParse::kExact) {
                writer.WriteNumber(r, col, number, c.xf);
              } else {
                label(value);
              }
              break;
            }
            case TExportColType::ectDate:
            case TExportColType::ectTime:
            case TExportColType::ectDateTime: {
              auto parts = xls::ParseDateTime(value);
              if (!parts) {
                label(value);
                break;
              }
              double d = parts->Serial();
              if (d > 60) {
                writer.WriteNumber(r, col, d, c.xf);
              } else if (d > 1) {
                // The workbook's day count includes 29 February 1900, which never was.
                writer.WriteNumber(r, col, d - 1, c.xf);
              } else {
                label(xls::FormatDateTimeText(c.format, *parts));
              }
              break;
            }
            case TExportColType::ectBoolean:
              if (xls::IsBooleanText(value)) {
                writer.WriteBoolean(r, col, xls::SameTextGbk(value, Formats.BooleanTrue), c.xf);
              } else {
                label(value);
              }
              break;
            case TExportColType::ectString:
            case TExportColType::ectUnknown:
              label(value);
              break;
          }
        }
        ++row;
        if (CurrentRecordOnly) {
          ++exported;
          break;
        }
        ds.Next();
        ++counter;
        ++exported;
        if (OnExportedRecord) OnExportedRecord(*this, exported);
      }
      writer.WriteSheetTail();
    }
    writer.WriteWorkbookTail();
    storage->Finish();
  } catch (...) {
    // A workbook without its tail cannot be opened: remove what was written.
    storage->Abandon();
    throw;
  }
  exported_ = exported;
}

}  // namespace mirestal
