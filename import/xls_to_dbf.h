// The workbook-to-table command: the chosen .xls workbook becomes a .dbf table beside it,
// written by the spreadsheet application through automation. The main window's button and
// `mirestal-cli xls2dbf` both call ConvertWorkbookToTable.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "platform/file.h"

namespace mirestal {

// The table a workbook is converted into: the text after the last '.' of the file name is
// replaced by "dbf"; a file name without a '.' gets ".dbf" appended.
std::string TablePathForWorkbook(const std::string& workbook_path);

// Shows a message and returns when the operator has closed it: UTF-8 text ("\r" breaks lines),
// caption, and the message-box flags (0: one OK button, no icon).
using ImportMessageBox =
    std::function<void(const std::string& text, const std::string& caption, int flags)>;

// A conversion refused before anything was touched, or an earlier table that could not be put
// back after a failure (the message says where it is kept). UTF-8.
class EImportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ImportRequest {
  std::string workbook_path;     // the chosen workbook
  std::string open_roster_path;  // the roster open in the main window; empty when none
};

// Converts the workbook's first worksheet into TablePathForWorkbook(workbook_path) (made
// absolute) and returns that path.
//
// Refused with EImportError (nothing touched) when the table would be the open roster or the
// workbook itself (compared as files, so links and ".." do not hide it), or is not a file.
// An existing table is moved aside to "<table>.bak" (or .bak2, ...), made writable, before the
// application is started; it is deleted after a successful conversion and put back (with its
// read-only attribute) after a failed one.
//
// The application ("EXCEL.application") is driven with exactly these calls: WorkBooks.Open(book),
// Visible := false, WorkSheets(1).Activate, Columns.AutoFit, goto("R1C1"),
// WorkSheets(1).SaveAs(table, 11), WorkBooks(1).Saved := true; then `message_box` reports the
// new table while the application still runs; then, on every path once the application
// exists, ActiveWorkBook.Saved := true, ActiveWorkBook.Close and Quit (their own failures are
// ignored: they never replace the outcome).
//
// Throws AutomationCreateError when the application cannot be created, AutomationError when a
// call fails, EImportError as above; whatever `message_box` throws passes through after the
// clean-up.
std::string ConvertWorkbookToTable(const ImportRequest& request,
                                   const ImportMessageBox& message_box,
                                   FileSystem& fs = FileSystem::Default());

}  // namespace mirestal
