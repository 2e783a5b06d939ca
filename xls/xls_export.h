// TXlsExport: writes the rows of a dataset as a one-sheet BIFF8 workbook (.xls) in a compound
// file. This is the public header of the spreadsheet export.
//
// Texts of the settings that are matched against or shown beside roster data (field names,
// captions, format strings, boolean words, the null text, the sheet title) are GBK bytes like
// the roster itself; FileName is a path in the file system's encoding (UTF-8 on Linux); the page
// header and footer and font names are UTF-16.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file.h"

namespace mirestal {

class TTableDataSet;

// The 56 colours of the workbook palette, in their customary order (palette indexes in
// xls/biff_format.h).
enum class TxlsColor : uint8_t {
  clrBlack,
  clrBrown,
  clrOliveGreen,
  clrDarkGreen,
  clrDarkTeal,
  clrDarkBlue,
  clrIndigo,
  clrGray80Percent,
  clrDarkRed,
  clrOrange,
  clrDarkYellow,
  clrGreen,
  clrTeal,
  clrBlue,
  clrBlueGray,
  clrGray50Percent,
  clrRed,
  clrLightOrange,
  clrLime,
  clrSeaGreen,
  clrAqua,
  clrLightBlue,
  clrViolet,
  clrGray40Percent,
  clrPink,
  clrGold,
  clrYellow,
  clrBrightGreen,
  clrTurquoise,
  clrSkyBlue,
  clrPlum,
  clrGray25Percent,
  clrRose,
  clrTan,
  clrLightYellow,
  clrLihtGreen,
  clrLightTurquoise,
  clrPaleBlue,
  clrLavender,
  clrWhite,
  clrColor1,
  clrColor2,
  clrColor3,
  clrColor4,
  clrColor5,
  clrColor6,
  clrColor7,
  clrColor8,
  clrColor9,
  clrColor10,
  clrColor11,
  clrColor12,
  clrColor13,
  clrColor14,
  clrColor15,
  clrColor16,
};

// Font style flags, combined in TxlsFont::Style.
enum TxlsFontStyle : uint8_t { xfsBold = 1, xfsItalic = 2, xfsStrikeOut = 4 };
enum class TxlsFontScript : uint8_t { fscNone, fscSuperscript, fscSubscript };
enum class TxlsFontUnderline : uint8_t {
  fulNone,
  fulSingle,
  fulDouble,
  fulSingleAccounting,
  fulDoubleAccounting
};

struct TxlsFont {
  int32_t Size = 10;  // points
  uint8_t Style = 0;  // TxlsFontStyle flags
  TxlsColor Color = TxlsColor::clrBlack;
  TxlsFontScript Script = TxlsFontScript::fscNone;
  TxlsFontUnderline Underline = TxlsFontUnderline::fulNone;
  uint8_t Charset = 1;
  std::u16string Name = u"arial";
  bool operator==(const TxlsFont&) const = default;
};

enum class TxlsBorderStyle : uint8_t {
  bstNone,
  bstThin,
  bstMedium,
  bstDashed,
  bstDotted,
  bstThick,
  bstDouble,
  bstHair,
  bstMediumDashed,
  bstDashDot,
  bstMediumDashDot,
  bstDashDotDot,
  bstMediumDashDotDot,
  bstSlantedDashDot,
};

struct TxlsBorder {
  TxlsBorderStyle Style = TxlsBorderStyle::bstNone;
  TxlsColor Color = TxlsColor::clrBlack;
  bool operator==(const TxlsBorder&) const = default;
};

struct TxlsBorders {
  TxlsBorder Left, Right, Top, Bottom, DiagDown, DiagUp;
  bool operator==(const TxlsBorders&) const = default;
};

enum class TxlsPattern : uint8_t {
  ptNone,
  ptSolid,
  ptGray50,
  ptGray75,
  ptGray25,
  ptHorzStripe,
  ptVertStripe,
  ptRevDiagStripe,
  ptDiagStripe,
  ptDiagCrosshatch,
  ptThickDiagCrosshatch,
  ptThinHorzStripe,
  ptThinVertStripe,
  ptThinRevDiagStripe,
  ptThinDiagStripe,
  ptThinHorzCrosshatch,
  ptThinDiagCrosshatch,
  ptGray12,
  ptThinThinSpots,
};

struct TxlsFill {
  TxlsColor Background = TxlsColor::clrWhite;
  TxlsPattern Pattern = TxlsPattern::ptNone;
  TxlsColor Foreground = TxlsColor::clrBlack;
  bool operator==(const TxlsFill&) const = default;
};

enum class TxlsHorizontal : uint8_t { halGeneral, halLeft, halCenter, halRight, halFill };
enum class TxlsVertical : uint8_t { valTop, valCenter, valBottom, valJustify };

struct TxlsAlignment {
  TxlsHorizontal Horizontal = TxlsHorizontal::halGeneral;
  TxlsVertical Vertical = TxlsVertical::valBottom;
  bool operator==(const TxlsAlignment&) const = default;
};

// The look of a cell.
struct TxlsFormat {
  TxlsFont Font;
  TxlsBorders Borders;
  TxlsFill Fill;
  TxlsAlignment Alignment;
  bool Wrap = false;
  uint8_t Rotation = 0;
};

struct TXLSOptions {
  TXLSOptions();
  std::u16string PageHeader;
  std::u16string PageFooter = u"Page &P of &N";
  std::string SheetTitle = "Sheet 1";
  TxlsFormat HeaderFormat, DataFormat, AggregateFormat, FooterFormat;
  TxlsFormat CaptionsFormat;   // bold
  TxlsFormat HyperlinkFormat;  // blue, single underline
};

// Number and date format strings (GBK), boolean words and the text of null values.
struct TExportFormats {
  TExportFormats();  // the zh-CN defaults
  std::string IntegerFormat = "#,###,##0";
  std::string FloatFormat = "#,###,##0.00";
  std::string DateFormat;
  std::string TimeFormat;
  std::string DateTimeFormat;
  std::string CurrencyFormat;
  std::string BooleanTrue = "true";
  std::string BooleanFalse = "false";
  std::string NullString;
};

enum class TExportSource { esDataSet, esListView, esDBGrid, esStringGrid, esCustom };

// The error of an export run; what() is UTF-8.
class EExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Common settings of the exporters: where the rows come from and which records are taken.
class TExportBase {
 public:
  virtual ~TExportBase() = default;
  // Writes FileName. On failure throws after deleting the partly written file: EExportError
  // for the exporter's own checks, IoError for the file system, std::length_error for a text
  // of more than 65,535 characters (only memo fields named in ExportedFields can hold one),
  // and the dataset's own errors unchanged. A refused export (bad settings, more rows or
  // columns than a worksheet holds, a target that is the source or cannot be replaced) touches
  // no file or folder at all; a file already at FileName is replaced only by a complete one.
  virtual void Execute() = 0;

  TExportSource ExportSource = TExportSource::esDataSet;  // only esDataSet is supported
  TTableDataSet* DataSet = nullptr;
  std::string FileName;
  bool GoToFirstRecord = true;
  bool CurrentRecordOnly = false;
  int32_t ExportRecCount = 0;  // 0: all
  int32_t SkipRecCount = 0;
  bool ExportEmpty = true;
  // Called after each exported record with the number exported so far.
  std::function<void(TExportBase& sender, int exported)> OnExportedRecord;
};

// Which fields become columns, and their captions.
class TExportText : public TExportBase {
 public:
  std::vector<std::string> ExportedFields;  // field names; empty: every non-blob field
  bool OnlyVisibleFields = false;
  bool AllowCaptions = true;
  std::vector<std::string> Captions;  // "name=caption" lines
};

class TExportAdvancedText : public TExportText {
 public:
  uint8_t StartDataCol = 0;
  std::vector<std::string> ColumnsWidth;  // "name=width" lines
};

class TExportFormatText : public TExportAdvancedText {
 public:
  TExportFormats Formats;
  std::vector<std::string> UserFormats;  // "name=format" lines
};

// The workbook exporter.
class TXlsExport : public TExportFormatText {
 public:
  // The workbook file is written through `fs`: into a temporary file beside FileName that is
  // renamed over it once complete and flushed.
  explicit TXlsExport(FileSystem& fs = FileSystem::Default()) : fs_(fs) {}
  // Besides the checks of TExportBase, refuses a FileName that is the dataset's table or its
  // memo file (by identity, through any spelling or link), names something other than a
  // regular file, or is read-only.
  void Execute() override;

  TXLSOptions Options;
  // Records written by the last successful Execute.
  int ExportedRecords() const { return exported_; }

  // Largest sheet the workbook format can hold.
  static constexpr int kMaxRows = 65536;
  static constexpr int kMaxColumns = 256;

 private:
  class Run;
  void CheckTarget();
  FileSystem& fs_;
  int exported_ = 0;
};

}  // namespace mirestal
