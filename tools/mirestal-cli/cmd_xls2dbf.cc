// xls2dbf BOOK.xls: the main window's workbook conversion from the command line, through the same
// automation layer (on Linux the adapter that drives LibreOffice).
#include <cstdio>
#include <string>

#include "capture/photo_store.h"
#include "import/spreadsheet_adapter.h"
#include "import/xls_to_dbf.h"
#include "platform/automation.h"
#include "platform/paths.h"
#include "tools/mirestal-cli/command.h"

namespace mirestal::cli {
namespace {

// Prints the report the window shows in a message box, with its line breaks.
int RunXls2Dbf(const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("xls2dbf takes one workbook file");
  ScopedAutomationInit automation;
  RegisterSpreadsheetAdapter();
  // The photo folder beside the program never receives a table.
  ConvertWorkbookToTable({args[0], "", ExecutableDirectory() + kPhotoFolderName + "/"}, [](const std::string& text, const std::string&, int) {
    std::string lines = text;
    for (char& c : lines) {
      if (c == '\r') c = '\n';
    }
    std::printf("%s\n", lines.c_str());
  });
  return 0;
}

CommandRegistrar xls2dbf_command({"xls2dbf", "xls2dbf BOOK.xls", RunXls2Dbf});

}  // namespace
}  // namespace mirestal::cli
