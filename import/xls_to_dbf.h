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
  std::string photo_folder;      // the photo folder, which never receives a table; empty: none
};

// Converts the workbook's first worksheet into TablePathForWorkbook(workbook_path) (made
// absolute) and returns that path.
//
// Refused with EImportError before anything is touched: a workbook that is not a regular file
// (a named pipe would hang the application), and a table the shared target rule refuses
// (platform/target_rule.h, TargetKind::kTable: the open roster or its memo file, the workbook
// itself, the photo folder, a folder or pipe, a read-only table -- its message as it is).
//
// The new table is written beside the old one under a temporary name ("<table>.import-" and 12
// random characters, made with CreateExclusiveTemp and handed to SaveAs free) and renamed over
// the table only when complete, so the earlier table stays whole until then; the temporary file
// is removed on every failure, and ones a killed conversion left are removed before the next.
// When the table's name is a link, the file it leads to is replaced. On POSIX systems SIGINT,
// SIGTERM, SIGHUP and SIGQUIT are held back for the length of the conversion (InterruptScope):
// the application is stopped, everything temporary removed, then the signal ends the process.
//
// The application ("EXCEL.application") is driven with exactly these calls: WorkBooks.Open(book),
// Visible := false, WorkSheets(1).Activate, Columns.AutoFit, goto("R1C1"),
// WorkSheets(1).SaveAs(temporary table, 11), WorkBooks(1).Saved := true; then `message_box`
// reports the new table (with the notes SaveAs returned as text, if any: cut texts, replaced
// characters) while the application still runs; then, on every path once the application
// exists, ActiveWorkBook.Saved := true, ActiveWorkBook.Close and Quit (their own failures are
// ignored: they never replace the outcome).
//
// Throws AutomationCreateError when the application cannot be created, AutomationError when a
// call fails, EImportError as above or when the new table cannot replace the old one; whatever
// `message_box` throws passes through after the clean-up.
std::string ConvertWorkbookToTable(const ImportRequest& request,
                                   const ImportMessageBox& message_box,
                                   FileSystem& fs = FileSystem::Default());

}  // namespace mirestal
