// Windows: "EXCEL.application" is the installed spreadsheet application's own COM server
// (platform/automation_com_win32.cc), so there is nothing to register.
#include "import/spreadsheet_adapter.h"

namespace mirestal {

void RegisterSpreadsheetAdapter(const SpreadsheetAdapterOptions&) {}

}  // namespace mirestal
