#include "import/xls_to_dbf.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "import/spreadsheet_adapter.h"
#include "platform/automation.h"
#include "platform/paths.h"
#ifndef _WIN32
#include "platform/process.h"
#endif
#include "platform/target_rule.h"

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

// The new table's temporary file beside the table: removed on every path until Keep().
class TemporaryTable {
 public:
  TemporaryTable(FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
  ~TemporaryTable() {
    if (path_.empty()) return;
    try {
      if (PathExists(path_)) fs_.Remove(path_);
    } catch (const IoError&) {
    }
  }
  TemporaryTable(const TemporaryTable&) = delete;
  TemporaryTable& operator=(const TemporaryTable&) = delete;
  const std::string& path() const { return path_; }
  void Keep() { path_.clear(); }

 private:
  FileSystem& fs_;
  std::string path_;
};

constexpr char kTemporaryInfix[] = ".import-";
constexpr size_t kTemporarySuffixLength = 12;  // CreateExclusiveTemp's random characters

// The file a table name leads to: the name itself, or through a symbolic link the file it names,
// so that the rename replaces the table and not the link.
std::string RealTarget(const std::string& table) {
  std::error_code ec;
  const std::filesystem::path p = FsPath(table);
  if (!std::filesystem::is_symlink(p, ec)) return table;
  const std::filesystem::path real = std::filesystem::weakly_canonical(p, ec);
  return ec ? table : Utf8Path(real);
}

// Regular files "<table name>.import-XXXXXXXXXXXX" beside the table, left by a conversion that
// was killed before it could remove its temporary table. Links of that name are left alone.
void RemoveLeftTemporaries(const std::string& table, FileSystem& fs) {
  const std::filesystem::path p = FsPath(table);
  const std::string prefix = Utf8Path(p.filename()) + kTemporaryInfix;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(p.parent_path(), ec)) {
    const std::string name = Utf8Path(entry.path().filename());
    if (name.size() != prefix.size() + kTemporarySuffixLength || name.rfind(prefix, 0) != 0) continue;
    std::error_code type_ec;
    if (!entry.is_symlink(type_ec) && entry.is_regular_file(type_ec)) {
      try {
        fs.Remove(Utf8Path(entry.path()));
      } catch (const IoError&) {
      }
    }
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
#ifndef _WIN32
  // Held until the new table is in place or everything temporary is gone, so that a signal
  // ends the process only then; not while the report is shown.
  std::optional<InterruptScope> interrupts;
  interrupts.emplace();
#endif
  const std::string book = Absolute(request.workbook_path);
  // Before anything else: a named pipe would hang the application, a folder is no workbook.
  if (!fs.Exists(book)) {
    throw EImportError(PathExists(book) ? "工作簿不是普通文件，无法转换：" + book
                                        : "工作簿文件不存在：" + book);
  }
  const std::string table = TablePathForWorkbook(book);
  const TargetGuard guard{request.open_roster_path, request.photo_folder, {book}};
  if (std::optional<TargetRefusal> refusal = CheckTarget(table, guard, TargetKind::kTable, fs)) {
    throw EImportError(refusal->message);
  }
  const std::string real_table = RealTarget(table);
  RemoveLeftTemporaries(real_table, fs);
  std::string temporary_path;
  try {
    const std::filesystem::path p = FsPath(real_table);
    fs.CreateExclusiveTemp(Utf8Path(p.parent_path()), Utf8Path(p.filename()) + kTemporaryInfix,
                           &temporary_path);
  } catch (const IoError& e) {
    throw EImportError("无法在原表旁边建立新表：" + table + "\r" + e.what());
  }
  TemporaryTable temporary(fs, temporary_path);
  // The name was taken exclusively; the application writes the table there and, as it would
  // ask before replacing a file, refuses an existing one.
  try {
    fs.Remove(temporary.path());
  } catch (const IoError& e) {
    throw EImportError("无法在原表旁边建立新表：" + table + "\r" + e.what());
  }

  std::shared_ptr<AutoObject> app = CreateAutoObject(kSpreadsheetProgId);
  std::string notes;
  try {
    Call(*GetObject(*app, "WorkBooks", AutoInvoke::kMethodOrGet), "Open",
         {AutoValue::TextRef(book)});
    Put(*app, "Visible", AutoValue::Bool(false));
    Call(*GetObject(*app, "WorkSheets", AutoInvoke::kPropertyGet, {AutoValue::Int(1)}),
         "Activate");
    Call(*GetObject(*app, "Columns", AutoInvoke::kMethodOrGet), "AutoFit");
    Call(*app, "goto", {AutoValue::Text("R1C1")});
    std::vector<AutoArg> save_args{AutoValue::TextRef(temporary.path()), AutoValue::Int(11)};
    AutoValue saved =
        GetObject(*app, "WorkSheets", AutoInvoke::kPropertyGet, {AutoValue::Int(1)})
            ->Invoke("SaveAs", AutoInvoke::kMethod, save_args);
    if (saved.kind == AutoKind::kText) notes = saved.text;
    Put(*GetObject(*app, "WorkBooks", AutoInvoke::kPropertyGet, {AutoValue::Int(1)}), "Saved",
        AutoValue::Bool(true));
    if (!fs.Exists(temporary.path())) {
      throw EImportError("电子表格软件没有写出数据表：" + book);
    }
    // The one step that changes the operator's files: the complete table replaces the old one.
    try {
      fs.Rename(temporary.path(), real_table);
    } catch (const IoError& e) {
      throw EImportError("无法替换数据表：" + table + "\r" + e.what() +
                         "\r\r原来的数据表没有改变。");
    }
    temporary.Keep();
  } catch (...) {
    CleanUp(*app);
    throw;
  }
#ifndef _WIN32
  interrupts.reset();
#endif
  try {
    if (message_box) {
      std::string text = "生成了Dbf文件: \r" + table + "\r" + "\r" + "你可以打开该dbf文件进行拍照。";
      if (!notes.empty()) text += "\r\r" + notes;
      message_box(text, "提示", 0);
    }
  } catch (...) {
    CleanUp(*app);
    throw;
  }
  CleanUp(*app);
  return table;
}

}  // namespace mirestal
