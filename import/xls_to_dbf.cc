#include "import/xls_to_dbf.h"

#include <filesystem>
#include <memory>
#include <vector>

#include "import/spreadsheet_adapter.h"
#include "platform/automation.h"
#include "platform/paths.h"

namespace mirestal {
namespace {

bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\' || c == ':';
#else
  return c == '/';
#endif
}

std::string Absolute(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(FsPath(path), ec);
  return ec ? path : Utf8Path(absolute);
}

std::shared_ptr<AutoObject> GetObject(AutoObject& from, const std::string& member,
                                      AutoInvoke flags, std::vector<AutoArg> args = {}) {
  AutoValue value = from.Invoke(member, flags, args);
  if (!value.IsObject()) throw AutomationError(member + " did not return an object");
  return value.object;
}

void Call(AutoObject& on, const std::string& member, std::vector<AutoArg> args = {}) {
  on.Invoke(member, AutoInvoke::kMethod, args);
}

void Put(AutoObject& on, const std::string& member, AutoValue value) {
  std::vector<AutoArg> args{std::move(value)};
  on.Invoke(member, AutoInvoke::kPropertyPut, args);
}

// Marks the active workbook saved before closing it, so that a hidden application never waits
// for an answer about unsaved changes, then quits.
void CleanUp(AutoObject& app) noexcept {
  try {
    std::vector<AutoArg> none;
    AutoValue book = app.Invoke("ActiveWorkBook", AutoInvoke::kMethodOrGet, none);
    if (book.IsObject()) {
      try {
        Put(*book.object, "Saved", AutoValue::Bool(true));
      } catch (const std::exception&) {
      }
      Call(*book.object, "Close");
    }
  } catch (const std::exception&) {
  }
  try {
    Call(app, "Quit");
  } catch (const std::exception&) {
  }
}

// An earlier table moved out of the way for the length of a conversion.
class SetAside {
 public:
  SetAside(FileSystem& fs, std::string table) : fs_(fs), table_(std::move(table)) {}

  // Moves the table aside when one exists.
  void Move() {
    if (!PathExists(table_)) return;
    backup_ = table_ + ".bak";
    for (int n = 2; PathExists(backup_); ++n) backup_ = table_ + ".bak" + std::to_string(n);
    read_only_ = fs_.IsReadOnly(table_);
    try {
      fs_.Rename(table_, backup_);
    } catch (const IoError& e) {
      throw EImportError("Cannot move the existing table " + table_ + " aside to " + backup_ +
                         ": " + e.what());
    }
    // Writable, so that it can be deleted after success wherever the attribute stops that.
    if (read_only_) TrySetReadOnly(backup_, false);
  }

  // After success: the earlier table is no longer wanted.
  void Discard() {
    if (backup_.empty()) return;
    try {
      fs_.Remove(backup_);
    } catch (const IoError&) {
      // The new table stands; a left-over backup harms nothing.
    }
    backup_.clear();
  }

  // After a failure: whatever the conversion left at the table's name goes, the earlier table
  // comes back. Returns a note for the error message when it could not.
  std::string PutBack() {
    if (backup_.empty()) return "";
    try {
      if (PathExists(table_)) fs_.Remove(table_);
      fs_.Rename(backup_, table_);
    } catch (const IoError& e) {
      return "The earlier table could not be put back (" + std::string(e.what()) +
             "); it is kept as " + backup_;
    }
    if (read_only_) TrySetReadOnly(table_, true);
    backup_.clear();
    return "";
  }

 private:
  // The attribute is a courtesy: failing to change it never changes the outcome.
  void TrySetReadOnly(const std::string& path, bool read_only) {
    try {
      fs_.SetReadOnly(path, read_only);
    } catch (const IoError&) {
    }
  }

  FileSystem& fs_;
  std::string table_;
  std::string backup_;
  bool read_only_ = false;
};

[[noreturn]] void RethrowWithNote(const std::string& note) {
  if (note.empty()) throw;
  try {
    throw;
  } catch (const std::exception& e) {
    throw EImportError(std::string(e.what()) + "\r\r" + note);
  }
}

}  // namespace

std::string TablePathForWorkbook(const std::string& workbook_path) {
  size_t name_start = workbook_path.size();
  while (name_start > 0 && !IsSeparator(workbook_path[name_start - 1])) --name_start;
  size_t dot = workbook_path.rfind('.');
  if (dot == std::string::npos || dot < name_start) return workbook_path + ".dbf";
  return workbook_path.substr(0, dot) + ".dbf";
}

std::string ConvertWorkbookToTable(const ImportRequest& request,
                                   const ImportMessageBox& message_box, FileSystem& fs) {
  const std::string book = Absolute(request.workbook_path);
  const std::string table = TablePathForWorkbook(book);
  if (!request.open_roster_path.empty() && fs.SameFile(table, request.open_roster_path)) {
    throw EImportError("The table " + table +
                       " is the roster open in the window; close it before converting");
  }
  // Compared as files (device and inode), so that a link or ".." in either name hides nothing.
  if (fs.SameFile(table, book)) {
    throw EImportError("The workbook " + book + " would be replaced by its own table");
  }
  if (PathExists(table) && !fs.Exists(table)) {
    throw EImportError("The table " + table + " cannot be written: the name is not a file");
  }

  SetAside earlier(fs, table);
  earlier.Move();
  std::shared_ptr<AutoObject> app;
  try {
    app = CreateAutoObject(kSpreadsheetProgId);
  } catch (...) {
    RethrowWithNote(earlier.PutBack());
  }

  try {
    Call(*GetObject(*app, "WorkBooks", AutoInvoke::kMethodOrGet), "Open",
         {AutoValue::TextRef(book)});
    Put(*app, "Visible", AutoValue::Bool(false));
    Call(*GetObject(*app, "WorkSheets", AutoInvoke::kPropertyGet, {AutoValue::Int(1)}),
         "Activate");
    Call(*GetObject(*app, "Columns", AutoInvoke::kMethodOrGet), "AutoFit");
    Call(*app, "goto", {AutoValue::Text("R1C1")});
    Call(*GetObject(*app, "WorkSheets", AutoInvoke::kPropertyGet, {AutoValue::Int(1)}), "SaveAs",
         {AutoValue::TextRef(table), AutoValue::Int(11)});
    Put(*GetObject(*app, "WorkBooks", AutoInvoke::kPropertyGet, {AutoValue::Int(1)}), "Saved",
        AutoValue::Bool(true));
  } catch (...) {
    CleanUp(*app);
    RethrowWithNote(earlier.PutBack());
  }
  earlier.Discard();
  try {
    if (message_box) {
      message_box("生成了Dbf文件: \r" + table + "\r" + "\r" + "你可以打开该dbf文件进行拍照。",
                  "提示", 0);
    }
  } catch (...) {
    CleanUp(*app);
    throw;
  }
  CleanUp(*app);
  return table;
}

}  // namespace mirestal
