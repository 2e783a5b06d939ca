#include "xls/xls_export.h"

#include <memory>

#include "platform/gbk.h"
#include "platform/locale.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "table/dataset.h"
#include "table/dbf_table.h"
#include "table/memo.h"
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
  std::string_view t = TrimView(text);
  auto v = xls::ParseNumber(t);
  if (!v || *v != static_cast<double>(static_cast<int32_t>(*v))) return 0;
  return static_cast<int32_t>(*v);
}

std::string ProgramFolder() {
  try {
    return ExecutableDirectory();
  } catch (const IoError&) {
    return ".";
  }
}

// The folder part of a file name ("" when there is none); a root keeps its separator.
std::string FolderOf(const std::string& file_name) {
#ifdef _WIN32
  size_t slash = file_name.find_last_of("/\\");
  if (slash == 2 && file_name[1] == ':') return file_name.substr(0, 3);
#else
  size_t slash = file_name.rfind('/');
#endif
  if (slash == std::string::npos) return "";
  return file_name.substr(0, slash == 0 ? 1 : slash);
}

std::string Utf8Of(const std::string& gbk) { return GbkToUtf8(gbk); }

const std::string& DefaultFormat(const TExportFormats& f, TExportColType kind) {
  static const std::string kNone;
  switch (kind) {
    case TExportColType::ectInteger:
    case TExportColType::ectBigint:
      return f.IntegerFormat;
    case TExportColType::ectFloat:
      return f.FloatFormat;
    case TExportColType::ectCurrency:
      return f.CurrencyFormat;
    case TExportColType::ectDate:
      return f.DateFormat;
    case TExportColType::ectTime:
      return f.TimeFormat;
    case TExportColType::ectDateTime:
      return f.DateTimeFormat;
    default:
      return kNone;
  }
}

}  // namespace

// One run of Execute: the columns, the writer and the current row.
class TXlsExport::Run {
 public:
  Run(TXlsExport& settings, TTableDataSet& dataset) : x_(settings), ds_(dataset) {}

  // The columns, from the dataset's fields and the settings.
  void SetUpColumns() {
    if (!x_.ExportedFields.empty()) {
      for (const std::string& name : x_.ExportedFields) {
        if (TField* field = ds_.FindField(name)) Take(*field);
      }
    } else {
      for (int i = 0; i < ds_.FieldCount(); ++i) {
        if (!ds_.Fields(i).IsBlob()) Take(ds_.Fields(i));
      }
    }
  }

  // The worksheet holds rows 0..65535 and columns 0..255. A larger export is refused before
  // any file is written, rather than wrapping row numbers over the caption row.
  void CheckLimits() {
    const int64_t columns = int64_t{x_.StartDataCol} + static_cast<int64_t>(columns_.size());
    if (columns > kMaxColumns) {
      throw EExportError("Too many columns for a worksheet: " + std::to_string(columns) +
                         " (at most " + std::to_string(kMaxColumns) + ")");
    }
    // At most the records from the first (or the current) one on; without going to the first
    // record the count is an upper bound.
    int64_t rows = ds_.Eof() && !x_.GoToFirstRecord ? 0 : ds_.RecordCount();
    rows = std::max<int64_t>(0, rows - std::max(x_.SkipRecCount, 0));
    if (x_.ExportRecCount > 0) rows = std::min<int64_t>(rows, x_.ExportRecCount);
    if (x_.CurrentRecordOnly) rows = std::min<int64_t>(rows, 1);
    if (rows + CaptionRows() > kMaxRows) {
      throw EExportError("Too many records for a worksheet: " + std::to_string(rows) +
                         " (at most " + std::to_string(kMaxRows - CaptionRows()) + ")");
    }
  }

  // Writes the whole workbook stream into `stream`; returns the number of records exported.
  int Write(xls::TStream& stream) {
    TWorkbookWriter writer(stream, x_.Options.DataFormat);
    writer_ = &writer;
    writer.WriteWorkbookHead();
    {
      ScopedDisableControls disable(ds_);
      WriteSheet();
    }
    writer.WriteWorkbookTail();
    writer_ = nullptr;
    return exported_;
  }

 private:
  int CaptionRows() const { return x_.AllowCaptions ? 1 : 0; }

  void Take(TField& field) {
    if (x_.OnlyVisibleFields && !field.Visible()) return;
    TExportColumn c;
    c.source = field.Index();
    c.kind = KindOf(field.DataType());
    c.name = field.FieldName();
    c.caption = ValueOf(x_.Captions, c.name).value_or(field.DisplayLabel());
    auto width = ValueOf(x_.ColumnsWidth, c.name);
    c.width = width ? ToInt(*width) : field.DisplayWidth();
    c.format = ValueOf(x_.UserFormats, c.name).value_or(DefaultFormat(x_.Formats, c.kind));
    columns_.push_back(std::move(c));
  }

  void WriteSheet() {
    for (TExportColumn& c : columns_) {
      uint16_t xf = writer_->RegisterCellFormat(GbkToUtf16(c.format), nullptr);
      if (xf != 15) c.xf = xf;
    }
    xls::TxlsSheet sheet;
    sheet.Title = GbkToUtf16(x_.Options.SheetTitle);
    sheet.PageHeader = x_.Options.PageHeader;
    sheet.PageFooter = x_.Options.PageFooter;
    sheet.StartDataCol = x_.StartDataCol;
    for (const TExportColumn& c : columns_) sheet.ColumnWidths.push_back(c.width);
    sheet_ = writer_->WriteSheetHead(sheet);
    if (x_.AllowCaptions) WriteCaptionRow();

    if (x_.GoToFirstRecord) ds_.First();
    for (int i = 0; i < x_.SkipRecCount; ++i) ds_.Next();
    int counter = 0;
    while (!ds_.Eof()) {
      if (x_.ExportRecCount > 0 && counter >= x_.ExportRecCount) break;
      if (row_ >= kMaxRows) {
        throw EExportError("Too many records for a worksheet (at most " +
                           std::to_string(kMaxRows - CaptionRows()) + ")");
      }
      WriteDataRow();
      ++exported_;
      if (x_.CurrentRecordOnly) break;
      ds_.Next();
      ++counter;
      if (x_.OnExportedRecord) x_.OnExportedRecord(x_, exported_);
    }
    writer_->WriteSheetTail();
  }

  void WriteCaptionRow() {
    for (size_t n = 0; n < columns_.size(); ++n) {
      if (columns_[n].caption.empty()) continue;
      TxlsFormat format = x_.Options.CaptionsFormat;
      uint16_t xf = writer_->RegisterCellFormat(u"General", &format);
      uint16_t col = static_cast<uint16_t>(x_.StartDataCol + n);
      writer_->NoteUsedCell(sheet_, row_, col);
      writer_->WriteLabel(static_cast<uint16_t>(row_), col, GbkToUtf16(columns_[n].caption), xf);
    }
    ++row_;
  }

  void WriteDataRow() {
    for (size_t i = 0; i < columns_.size(); ++i) {
      const TExportColumn& c = columns_[i];
      TField& field = ds_.Fields(c.source);
      // The value text: null values give the null text; booleans (null reads false) their word.
      if (field.DataType() == TFieldType::ftBoolean) {
        text_ = field.AsBoolean() ? x_.Formats.BooleanTrue : x_.Formats.BooleanFalse;
      } else if (field.IsNull()) {
        text_ = x_.Formats.NullString;
      } else {
        text_ = field.AsString();
      }
      const uint16_t col = static_cast<uint16_t>(x_.StartDataCol + i);
      writer_->NoteUsedCell(sheet_, row_, col);
      WriteCell(c, static_cast<uint16_t>(row_), col, TrimView(text_));
    }
    ++row_;
  }

  // A value that does not convert to its column's kind becomes a text cell.
  void WriteCell(const TExportColumn& c, uint16_t r, uint16_t col, std::string_view value) {
    auto label = [&](std::string_view t) { writer_->WriteLabel(r, col, GbkToUtf16(t), c.xf); };
    if (value.empty()) {
      writer_->WriteBlank(r, col, c.xf);
      return;
    }
    if (value == x_.Formats.NullString) {
      label(value);
      return;
    }
    switch (c.kind) {
      case TExportColType::ectInteger:
      case TExportColType::ectFloat:
      case TExportColType::ectCurrency:
        if (auto number = xls::ParseNumber(value)) {
          writer_->WriteNumber(r, col, *number, c.xf);
        } else {
          label(value);
        }
        return;
      case TExportColType::ectBigint: {
        // A 64-bit value that a double would round is kept exact as text.
        double number = 0;
        switch (xls::ParseBigint(value, &number)) {
          case xls::BigintParse::kExact:
            writer_->WriteNumber(r, col, number, c.xf);
            return;
          case xls::BigintParse::kNotExact:
            label(value);
            return;
          case xls::BigintParse::kNotInteger:
            break;
        }
        if (auto v = xls::ParseNumber(value)) {
          writer_->WriteNumber(r, col, *v, c.xf);
        } else {
          label(value);
        }
        return;
      }
      case TExportColType::ectDate:
      case TExportColType::ectTime:
      case TExportColType::ectDateTime: {
        auto parts = xls::ParseDateTime(value);
        if (!parts) {
          label(value);
          return;
        }
        double d = parts->Serial();
        if (d > 60) {
          writer_->WriteNumber(r, col, d, c.xf);
        } else if (d > 1) {
          // The workbook's day count includes a 29 February 1900 that never was.
          writer_->WriteNumber(r, col, d - 1, c.xf);
        } else {
          label(xls::FormatDateTimeText(c.format, *parts));
        }
        return;
      }
      case TExportColType::ectBoolean:
        if (xls::IsBooleanText(value)) {
          writer_->WriteBoolean(r, col, xls::SameTextGbk(value, x_.Formats.BooleanTrue), c.xf);
        } else {
          label(value);
        }
        return;
      case TExportColType::ectString:
      case TExportColType::ectUnknown:
        label(value);
        return;
    }
  }

  TXlsExport& x_;
  TTableDataSet& ds_;
  std::vector<TExportColumn> columns_;
  TWorkbookWriter* writer_ = nullptr;
  int sheet_ = 0;
  int row_ = 0;
  int exported_ = 0;
  std::string text_;  // the value text of the cell being written, kept for its buffer
};

void TXlsExport::Execute() {
  exported_ = 0;
  // Every refusal comes before anything is created on disk.
  if (FileName.empty()) throw EExportError("Result file name not present");
  if (ExportSource != TExportSource::esDataSet || DataSet == nullptr) {
    throw EExportError("Sheet " + Utf8Of(Options.SheetTitle) +
                       " define with error: Export source (DataSet) is not assigned");
  }
  if (!DataSet->Active()) throw EExportError("Export source (DataSet) is closed");
  if (!ExportEmpty && DataSet->IsEmpty()) throw EExportError("Export source (DataSet) is empty");
  Run run(*this, *DataSet);
  run.SetUpColumns();
  run.CheckLimits();

  std::string folder = FolderOf(FileName);
  if (folder.empty()) folder = ProgramFolder();
  CheckTarget();
  if (!fs_.DirectoryExists(folder) && !fs_.MakeDirectories(folder)) {
    throw EExportError("Directory \"" + folder + "\" not found and cannot be created");
  }

  std::unique_ptr<xls::CompoundFileWriter> storage = xls::OpenWorkbookStorage(fs_, FileName);
  try {
    int exported = run.Write(*storage);
    storage->Finish();
    exported_ = exported;
  } catch (...) {
    // A workbook without its tail cannot be opened: remove what was written. A workbook that
    // was at the target before stays as it was.
    storage->Abandon();
    throw;
  }
}

void TXlsExport::CheckTarget() {
  // By identity, not by spelling: "./r.dbf", another path or a link to the table all name it.
  const DbfTable& table = *DataSet->Table();
  if (fs_.SameFile(FileName, table.FileName())) {
    throw EExportError("Result file " + FileName + " is the table being exported");
  }
  if (table.MemoPresent() &&
      fs_.SameFile(FileName, MemoFile::MemoPathFor(table.FileName(), table.Version()))) {
    throw EExportError("Result file " + FileName + " is the memo file of the table being exported");
  }
  // The finished workbook is renamed over the target: a folder, a device or a pipe there would
  // be replaced by it, and a read-only file must keep its bytes.
  if (PathExists(FileName) && !fs_.Exists(FileName)) {
    throw EExportError("Result file " + FileName + " is not a regular file");
  }
  if (fs_.Exists(FileName) && fs_.IsReadOnly(FileName)) {
    throw EExportError("Result file " + FileName + " is read-only");
  }
}

}  // namespace mirestal
