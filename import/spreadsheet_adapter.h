// The spreadsheet application as an automation server on systems without one: an object
// registered for "EXCEL.application" that answers the members the workbook conversion uses and
// converts the first worksheet to a dBASE IV table with the installed LibreOffice.
#pragma once

#include <string>

namespace mirestal {

// The programmatic identifier of the spreadsheet application.
inline constexpr char kSpreadsheetProgId[] = "EXCEL.application";

struct SpreadsheetAdapterOptions {
  std::string program = "soffice";  // a path, or a name looked up in PATH
  int timeout_seconds = 300;        // one conversion; then every process it started is killed
};

// Registers the adapter with RegisterAutoServer for kSpreadsheetProgId. Creating the object
// fails with AutomationCreateError when the program is not installed. On Windows the
// application's own automation server is used and this does nothing.
//
// Members (names without regard to case; "get" is invoke flag 2 or 3, "call" 1 or 3, "put" 4):
//   application: get WorkBooks, get WorkBooks(i), put/get Visible, get WorkSheets(1),
//     get Columns, call goto(reference), get ActiveWorkBook (empty when none), call Quit
//   workbooks: call Open(path)       -- the file must be a compound file (a .xls workbook)
//   workbook: put/get Saved, call Close
//   worksheet: call Activate, call SaveAs(path, 11)  -- 11: dBASE IV; `path` must not exist
//   columns: call AutoFit
void RegisterSpreadsheetAdapter(const SpreadsheetAdapterOptions& options = {});

}  // namespace mirestal
