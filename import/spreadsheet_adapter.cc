#include "import/spreadsheet_adapter.h"

#ifndef _WIN32

#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>
#include <strings.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "import/sheet.h"
#include "import/workbook_cells.h"
#include "platform/automation.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace mirestal {
namespace {

namespace fs = std::filesystem;

constexpr char kCompoundFileSignature[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
constexpr int kDbaseIvFormat = 11;

// What the objects of one application share.
struct AppState {
  SpreadsheetAdapterOptions options;
  std::string program;   // the resolved path of the converter
  std::string workbook;  // absolute path of the open workbook; empty when none is open
  bool saved = true;
  bool visible = false;
  bool quit = false;
};
using State = std::shared_ptr<AppState>;

bool Is(const std::string& member, const char* name) {
  return ::strcasecmp(member.c_str(), name) == 0;
}
bool IsGet(AutoInvoke flags) {
  return flags == AutoInvoke::kPropertyGet || flags == AutoInvoke::kMethodOrGet;
}
bool IsCall(AutoInvoke flags) {
  return flags == AutoInvoke::kMethod || flags == AutoInvoke::kMethodOrGet;
}

[[noreturn]] void MemberNotFound(const std::string& member) {
  throw AutomationError("Member not found: " + member);
}

void CheckCount(const std::string& member, const std::vector<AutoArg>& args, size_t count) {
  if (args.size() != count) throw AutomationError("Invalid number of parameters for " + member);
}
const std::string& TextArg(const std::string& member, const AutoArg& arg) {
  if (arg.kind != AutoKind::kText) throw AutomationError("Type mismatch in the argument of " + member);
  return arg.text;
}
int32_t IntArg(const std::string& member, const AutoArg& arg) {
  if (arg.kind != AutoKind::kInt) throw AutomationError("Type mismatch in the argument of " + member);
  return arg.int_value;
}
bool BoolArg(const std::string& member, const AutoArg& arg) {
  if (arg.kind != AutoKind::kBool) throw AutomationError("Type mismatch in the argument of " + member);
  return arg.bool_value;
}

void CheckRunning(const AppState& state) {
  if (state.quit) throw AutomationError("The spreadsheet application has quit");
}
void CheckWorkbook(const AppState& state) {
  CheckRunning(state);
  if (state.workbook.empty()) throw AutomationError("No workbook is open");
}

// Refuses what is not a workbook before the converter sees it: it would "convert" an empty file
// without complaint and hand back an empty table.
void CheckWorkbookFile(const std::string& path) {
  // A regular file before any open: opening a named pipe would wait for a writer for good.
  if (!FileExists(path)) throw AutomationError("Cannot open the workbook " + path + ": not a regular file");
  std::ifstream in(path, std::ios::binary);
  if (!in) throw AutomationError("Cannot open the workbook " + path);
  char head[8] = {};
  in.read(head, sizeof head);
  if (in.gcount() == 0) throw AutomationError("The workbook " + path + " is empty");
  if (in.gcount() != 8 || std::string(head, 8) != std::string(kCompoundFileSignature, 8)) {
    throw AutomationError("The file " + path + " is not a workbook (.xls)");
  }
}

constexpr char kScratchPrefix[] = "mirestal-import-";

// Scratch folders ("mirestal-import-<pid>-XXXXXX") whose process no longer runs: a conversion
// killed where no handler runs (SIGKILL) leaves its folder, and the next one removes it.
void RemoveLeftScratchFolders() {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(UserTempDirectory(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(kScratchPrefix, 0) != 0) continue;
    const long pid = std::strtol(name.c_str() + std::strlen(kScratchPrefix), nullptr, 10);
    std::error_code type_ec;
    if (pid <= 0 || entry.is_symlink(type_ec) || !entry.is_directory(type_ec)) continue;
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) fs::remove_all(entry.path(), type_ec);
  }
}

// The converter's settings in its private profile: the en-US locale whatever the machine's,
// so that the numbers and dates it writes read the same everywhere.
constexpr char kProfileSettings[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" "
    "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
    "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
    "<item oor:path=\"/org.openoffice.Setup/L10N\"><prop oor:name=\"ooSetupSystemLocale\" "
    "oor:op=\"fuse\"><value>en-US</value></prop></item>\n"
    "<item oor:path=\"/org.openoffice.Setup/L10N\"><prop oor:name=\"ooLocale\" "
    "oor:op=\"fuse\"><value>en-US</value></prop></item>\n"
    "</oor:items>\n";

// A private folder for one conversion (the converter's profile, its copy of the workbook, its
// lock file and its output), removed with everything in it on every path that unwinds (an
// interrupted conversion too: see InterruptScope).
class ScratchFolder {
 public:
  ScratchFolder() {
    RemoveLeftScratchFolders();
    std::string pattern =
        UserTempDirectory() + kScratchPrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
      throw AutomationError("Cannot create a temporary folder in " + UserTempDirectory());
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string FileUrl(const std::string& path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The converter's first "Error: ..." line, from either output.
std::string ConverterError(const ScratchFolder& scratch) {
  for (const char* name : {"converter.err", "converter.out"}) {
    std::istringstream lines(ReadText(scratch.File(name)));
    std::string line;
    while (std::getline(lines, line)) {
      if (line.rfind("Error:", 0) == 0) return line;
    }
  }
  return "";
}

// Has the converter write the first worksheet of `workbook` as CSV, then writes the table.
// Returns the note about values that did not arrive whole (empty when none).
std::string ConvertFirstSheet(const AppState& state, const std::string& workbook,
                       const std::string& table) {
  ScratchFolder scratch;
  // The converter works on a copy under a plain name: no lock file appears beside the
  // operator's workbook, and no file name can be taken for an option.
  const std::string book = scratch.File("book.xls");
  std::error_code ec;
  if (!fs::copy_file(workbook, book, ec)) {
    throw AutomationError("Cannot read the workbook " + workbook + ": " + ec.message());
  }
  CheckWorkbookFile(book);
  fs::create_directory(scratch.File("out"), ec);
  fs::create_directories(scratch.File("profile/user"), ec);
  {
    std::ofstream settings(scratch.File("profile/user/registrymodifications.xcu"), std::ios::binary);
    settings << kProfileSettings;
  }

  ProcessSpec spec;
  spec.args = {state.program,
               "-env:UserInstallation=" + FileUrl(scratch.File("profile")),
               "--headless",
               "--norestore",
               "--infilter=MS Excel 97",
               "--convert-to",
               // UTF-8, text cells quoted, values unformatted, first sheet only.
               "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,true,true,false,false,false,1",
               "--outdir",
               scratch.File("out"),
               book};
  spec.working_directory = scratch.File("");
  spec.stdout_path = scratch.File("converter.out");
  spec.stderr_path = scratch.File("converter.err");
  spec.timeout_ms = state.options.timeout_seconds * 1000;
  // The machine's locale is no part of the conversion (the profile says en-US as well).
  spec.environment = {"LC_ALL=C.UTF-8", "LANG=C.UTF-8", "LANGUAGE=en_US"};
  ProcessResult result;
  try {
    result = RunProcess(spec);
  } catch (const IoError& e) {
    throw AutomationError(std::string("Cannot start the spreadsheet application: ") + e.what());
  }
  if (result.interrupted_by != 0) {
    throw AutomationError("The conversion of " + workbook + " was interrupted");
  }
  if (result.timed_out) {
    throw AutomationError("The spreadsheet application did not finish converting " + workbook +
                          " within " + std::to_string(state.options.timeout_seconds) +
                          " seconds");
  }
  // It exits with 0 after most failures: what it wrote and said is what counts.
  std::string csv_path;
  for (const auto& entry : fs::directory_iterator(scratch.File("out"), ec)) {
    if (entry.path().extension() == ".csv") csv_path = entry.path().string();
  }
  std::string error = ConverterError(scratch);
  if (csv_path.empty() || !error.empty()) {
    if (error.empty()) {
      error = result.exit_code == 0 ? "it wrote nothing"
                                    : "it ended with status " + std::to_string(result.exit_code);
    }
    throw AutomationError("The spreadsheet application could not convert " + workbook + ": " +
                          error);
  }

  if (InterruptScope::Pending() != 0) {
    throw AutomationError("The conversion of " + workbook + " was interrupted");
  }
  import::SheetTable sheet;
  try {
    // What CSV cannot carry (all digits, Booleans, leading zeros) from the workbook itself.
    sheet = import::BuildSheetTable(import::ParseCsv(ReadText(csv_path)),
                                    import::ReadWorkbookFacts(ReadText(book)));
  } catch (const std::exception& e) {
    throw AutomationError(workbook + ": " + e.what());
  }
  try {
    import::WriteSheetTable(table, sheet, FileSystem::Default());
  } catch (const std::exception& e) {
    throw AutomationError(e.what());
  }
  return sheet.losses.Note();
}

class Columns : public AutoObject {
 public:
  explicit Columns(State state) : state_(std::move(state)) {}
  AutoValue Invoke(const std::string& member, AutoInvoke flags,
                   std::vector<AutoArg>& args) override {
    CheckWorkbook(*state_);
    if (Is(member, "AutoFit") && IsCall(flags)) {
      CheckCount(member, args, 0);
      state_->saved = false;  // the widths changed
      return {};
    }
    MemberNotFound(member);
  }

 private:
  State state_;
};

class Worksheet : public AutoObject {
 public:
  explicit Worksheet(State state) : state_(std::move(state)) {}
  AutoValue Invoke(const std::string& member, AutoInvoke flags,
                   std::vector<AutoArg>& args) override {
    CheckWorkbook(*state_);
    if (Is(member, "Activate") && IsCall(flags)) {
      CheckCount(member, args, 0);
      return {};
    }
    if (Is(member, "SaveAs") && IsCall(flags)) {
      CheckCount(member, args, 2);
      const std::string& path = TextArg(member, args[0]);
      const int32_t format = IntArg(member, args[1]);
      if (format != kDbaseIvFormat) {
        throw AutomationError("File format " + std::to_string(format) +
                              " cannot be written; only 11 (dBASE IV) can");
      }
      // Never replaces a file: the caller moves an old table aside itself.
      if (PathExists(path)) throw AutomationError("The file " + path + " already exists");
      std::string note = ConvertFirstSheet(*state_, state_->workbook, path);
      state_->saved = true;
      // The application's SaveAs returns nothing; the note is this adapter's addition.
      if (note.empty()) return {};
      return AutoValue::Text(std::move(note));
    }
    MemberNotFound(member);
  }

 private:
  State state_;
};

class Workbook : public AutoObject {
 public:
  explicit Workbook(State state) : state_(std::move(state)) {}
  AutoValue Invoke(const std::string& member, AutoInvoke flags,
                   std::vector<AutoArg>& args) override {
    CheckWorkbook(*state_);
    if (Is(member, "Saved") && flags == AutoInvoke::kPropertyPut) {
      CheckCount(member, args, 1);
      state_->saved = BoolArg(member, args[0]);
      return {};
    }
    if (Is(member, "Saved") && IsGet(flags)) return AutoValue::Bool(state_->saved);
    if (Is(member, "Close") && IsCall(flags)) {
      // Closing discards unsaved changes: nobody could answer a question about them.
      state_->workbook.clear();
      state_->saved = true;
      return {};
    }
    MemberNotFound(member);
  }

 private:
  State state_;
};

class Workbooks : public AutoObject {
 public:
  explicit Workbooks(State state) : state_(std::move(state)) {}
  AutoValue Invoke(const std::string& member, AutoInvoke flags,
                   std::vector<AutoArg>& args) override {
    CheckRunning(*state_);
    if (Is(member, "Open") && IsCall(flags)) {
      if (args.empty()) throw AutomationError("Invalid number of parameters for " + member);
      const std::string& path = TextArg(member, args[0]);
      if (!state_->workbook.empty()) {
        throw AutomationError("Another workbook is already open: " + state_->workbook);
      }
      CheckWorkbookFile(path);
      std::error_code ec;
      fs::path absolute = fs::absolute(path, ec);
      state_->workbook = ec ? path : absolute.lexically_normal().string();
      state_->saved = true;
      return AutoValue::Object(std::make_shared<Workbook>(state_));
    }
    MemberNotFound(member);
  }

 private:
  State state_;
};

class Application : public AutoObject {
 public:
  explicit Application(State state) : state_(std::move(state)) {}
  AutoValue Invoke(const std::string& member, AutoInvoke flags,
                   std::vector<AutoArg>& args) override {
    CheckRunning(*state_);
    if (Is(member, "WorkBooks") && IsGet(flags)) {
      if (args.empty()) return AutoValue::Object(std::make_shared<Workbooks>(state_));
      CheckCount(member, args, 1);
      if (IntArg(member, args[0]) != 1 || state_->workbook.empty()) {
        throw AutomationError("Subscript out of range in " + member);
      }
      return AutoValue::Object(std::make_shared<Workbook>(state_));
    }
    if (Is(member, "WorkSheets") && IsGet(flags)) {
      CheckCount(member, args, 1);
      CheckWorkbook(*state_);
      // Only the first worksheet is ever converted.
      if (IntArg(member, args[0]) != 1) throw AutomationError("Subscript out of range in " + member);
      return AutoValue::Object(std::make_shared<Worksheet>(state_));
    }
    if (Is(member, "Columns") && IsGet(flags)) {
      CheckCount(member, args, 0);
      CheckWorkbook(*state_);
      return AutoValue::Object(std::make_shared<Columns>(state_));
    }
    if (Is(member, "ActiveWorkBook") && IsGet(flags)) {
      CheckCount(member, args, 0);
      if (state_->workbook.empty()) return {};
      return AutoValue::Object(std::make_shared<Workbook>(state_));
    }
    if (Is(member, "Visible") && flags == AutoInvoke::kPropertyPut) {
      CheckCount(member, args, 1);
      state_->visible = BoolArg(member, args[0]);
      return {};
    }
    if (Is(member, "Visible") && IsGet(flags)) return AutoValue::Bool(state_->visible);
    if (Is(member, "goto") && IsCall(flags)) {
      CheckCount(member, args, 1);
      TextArg(member, args[0]);
      CheckWorkbook(*state_);
      return {};
    }
    if (Is(member, "Quit") && IsCall(flags)) {
      state_->workbook.clear();
      state_->quit = true;
      return {};
    }
    MemberNotFound(member);
  }

 private:
  State state_;
};

}  // namespace

void RegisterSpreadsheetAdapter(const SpreadsheetAdapterOptions& options) {
  RegisterAutoServer(kSpreadsheetProgId, [options]() -> std::unique_ptr<AutoObject> {
    std::optional<std::string> program = FindProgram(options.program);
    if (!program) {
      throw AutomationCreateError(
          "Cannot create the spreadsheet application: no spreadsheet application is installed (" +
          options.program + " not found)");
    }
    auto state = std::make_shared<AppState>();
    state->options = options;
    state->program = *program;
    return std::make_unique<Application>(state);
  });
}

}  // namespace mirestal

#else  // _WIN32

namespace mirestal {
// The spreadsheet application's own COM server answers on Windows.
void RegisterSpreadsheetAdapter(const SpreadsheetAdapterOptions&) {}
}  // namespace mirestal

#endif
