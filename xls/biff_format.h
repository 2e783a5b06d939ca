// Record numbers and fixed values of the BIFF8 workbook stream.
//
// Every record is: number (16-bit), data length (16-bit), data; all little-endian. The stream
// holds the workbook globals (BOF ... EOF) followed by one worksheet (BOF ... EOF). The middle
// of the globals, from the first FONT to the SST, is written last and inserted at the position
// remembered after BOOKBOOL; BOUNDSHEET then names the stream offset of the worksheet BOF.
#pragma once

#include <cstdint>

#include "xls/xls_export.h"

namespace mirestal::xls::biff {

inline constexpr uint16_t kBof = 0x0809;
inline constexpr uint16_t kEof = 0x000A;
inline constexpr uint16_t kWriteAccess = 0x005C;
inline constexpr uint16_t kCodePage = 0x0042;
inline constexpr uint16_t kDsf = 0x0161;
inline constexpr uint16_t kFnGroupCount = 0x009C;
inline constexpr uint16_t kWindowProtect = 0x0019;
inline constexpr uint16_t kProtect = 0x0012;
inline constexpr uint16_t kPassword = 0x0013;
inline constexpr uint16_t kProt4Rev = 0x01AF;
inline constexpr uint16_t kProt4RevPass = 0x01BC;
inline constexpr uint16_t kWindow1 = 0x003D;
inline constexpr uint16_t kBackup = 0x0040;
inline constexpr uint16_t kHideObj = 0x008D;
inline constexpr uint16_t kDateMode = 0x0022;
inline constexpr uint16_t kPrecision = 0x000E;
inline constexpr uint16_t kRefreshAll = 0x01B7;
inline constexpr uint16_t kBookBool = 0x00DA;
inline constexpr uint16_t kFont = 0x0031;
inline constexpr uint16_t kFormat = 0x041E;
inline constexpr uint16_t kXf = 0x00E0;
inline constexpr uint16_t kStyle = 0x0293;
inline constexpr uint16_t kPalette = 0x0092;
inline constexpr uint16_t kBoundSheet = 0x0085;
inline constexpr uint16_t kCountry = 0x008C;
inline constexpr uint16_t kSst = 0x00FC;
inline constexpr uint16_t kContinue = 0x003C;
inline constexpr uint16_t kCalcMode = 0x000D;
inline constexpr uint16_t kCalcCount = 0x000C;
inline constexpr uint16_t kRefMode = 0x000F;
inline constexpr uint16_t kIteration = 0x0011;
inline constexpr uint16_t kDelta = 0x0010;
inline constexpr uint16_t kSaveRecalc = 0x005F;
inline constexpr uint16_t kPrintHeaders = 0x002A;
inline constexpr uint16_t kPrintGridLines = 0x002B;
inline constexpr uint16_t kGridSet = 0x0082;
inline constexpr uint16_t kGuts = 0x0080;
inline constexpr uint16_t kDefColWidth = 0x0055;
inline constexpr uint16_t kDefaultRowHeight = 0x0225;
inline constexpr uint16_t kWsBool = 0x0081;
inline constexpr uint16_t kHeader = 0x0014;
inline constexpr uint16_t kFooter = 0x0015;
inline constexpr uint16_t kHCenter = 0x0083;
inline constexpr uint16_t kVCenter = 0x0084;
inline constexpr uint16_t kColInfo = 0x007D;
inline constexpr uint16_t kDimensions = 0x0200;
inline constexpr uint16_t kWindow2 = 0x023E;
inline constexpr uint16_t kSelection = 0x001D;
inline constexpr uint16_t kLabelSst = 0x00FD;
inline constexpr uint16_t kNumber = 0x0203;
inline constexpr uint16_t kBoolErr = 0x0205;
inline constexpr uint16_t kBlank = 0x0201;

inline constexpr uint16_t kBiff8 = 0x0600;
inline constexpr uint16_t kGlobalsSubstream = 0x0005;
inline constexpr uint16_t kWorksheetSubstream = 0x0010;

// Data bytes of one record at most (the record buffer), and of a record that continues in
// CONTINUE records.
inline constexpr size_t kRecordBuffer = 8224;
inline constexpr size_t kMaxRecordData = 8224;
inline constexpr size_t kContinuePiece = 8220;

// The application name in WRITEACCESS.
inline constexpr char kWriteAccessName[] = "Tolvaranquesmerith 3.44";

// Cell format of cells whose format was not registered, and the first index given to a
// registered one, font and number format.
inline constexpr uint16_t kDefaultXf = 15;
inline constexpr uint16_t kFirstUserXf = 16;
inline constexpr uint16_t kFirstUserFont = 5;
inline constexpr uint16_t kFirstUserFormat = 50;

// Palette index of each TxlsColor, in enum order.
inline constexpr uint8_t kColorIndex[56] = {
    8,  60, 59, 58, 56, 18, 62, 63, 16, 53, 19, 17, 21, 12, 54, 23, 10, 52, 50,
    57, 49, 48, 20, 55, 14, 51, 13, 11, 15, 40, 61, 22, 45, 47, 43, 42, 41, 44,
    46, 9,  24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39,
};
inline uint8_t PaletteIndex(TxlsColor color) { return kColorIndex[static_cast<int>(color)]; }

// The default colours of palette indexes 8 to 63, as 0xRRGGBB.
inline constexpr uint32_t kDefaultPalette[56] = {
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF,
    0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080,
    0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF,
    0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF,
    0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99,
    0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696,
    0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333,
};

// The 16 cell formats that open every workbook's XF list.
inline constexpr uint8_t kDefaultXfData[16][20] = {
    {0x00, 0x00, 0x00, 0x00, 0xF5, 0xFF, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0xC0, 0x20},
    {0x01, 0x00, 0x00, 0x00, 0xF5, 0xFF, 0x20, 0x00, 0x00, 0xF4, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0xC0, 0x20},
    {0x01, 0x00, 0x00, 0x00, 0xF5, 0xFF, 0x20, 0x00, 0x00, 0xF4, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0xC0, 0x20},
    {0x02, 0x00, 0x00, 0x00, 0xF5, 0xFF, 0x20, 0x00, 0x00, 0xF4, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0xC0, 0x20},
    {0x02, 0x00, 0x00, 0x00, 0xF5, 0xFF, 0x20, 0x00, 0x00, 0xF4, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0xC0, 0x20},
#define MIRESTAL_STYLE_XF                                                                     \
  {0x00, 0x00, 0x00, 0x00, 0xF5, 0xFF, 0x20, 0x00, 0x00, 0xF4, 0x00, 0x00, 0x00, 0x00, 0x00, \
   0x00, 0x00, 0x00, 0xC0, 0x20}
    MIRESTAL_STYLE_XF, MIRESTAL_STYLE_XF, MIRESTAL_STYLE_XF, MIRESTAL_STYLE_XF, MIRESTAL_STYLE_XF,
    MIRESTAL_STYLE_XF, MIRESTAL_STYLE_XF, MIRESTAL_STYLE_XF, MIRESTAL_STYLE_XF, MIRESTAL_STYLE_XF,
#undef MIRESTAL_STYLE_XF
    {0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
     0x00, 0x00, 0x00, 0xC0, 0x20},
};

// The six STYLE records.
inline constexpr uint8_t kDefaultStyleData[6][4] = {
    {0x10, 0x80, 0x03, 0xFF}, {0x11, 0x80, 0x06, 0xFF}, {0x12, 0x80, 0x04, 0xFF},
    {0x13, 0x80, 0x07, 0xFF}, {0x00, 0x80, 0x00, 0xFF}, {0x14, 0x80, 0x05, 0xFF},
};

}  // namespace mirestal::xls::biff
