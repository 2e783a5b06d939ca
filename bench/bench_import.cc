// Workbook import speed: a roster of ROWS students (default 5,000) exported by TXlsExport is
// converted back to a table through the spreadsheet adapter, as the window's button does, RUNS
// times (default 3). LibreOffice's start dominates; the CSV-to-table share is timed on its own
// with the same rows.
//
// Usage: bench_import [ROWS [RUNS]]. Needs soffice (libreoffice-calc-nogui).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "import/sheet.h"
#include "import/spreadsheet_adapter.h"
#include "import/xls_to_dbf.h"
#include "platform/automation.h"
#include "table/dataset.h"
#include "tests/testutil/testutil.h"
#include "xls/xls_export.h"

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 5000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
  mirestal::testing::TempDir dir;
  const std::string roster = dir.File("roster.dbf");
  mirestal::testing::WriteFile(roster, mirestal::testing::MakeBenchRoster(rows));
  const std::string book = dir.File("book.xls");
  {
    mirestal::TTableDataSet dataset;
    dataset.TableName = roster;
    dataset.Exclusive = true;
    dataset.Open();
    mirestal::TXlsExport exporter;
    exporter.DataSet = &dataset;
    exporter.FileName = book;
    exporter.Execute();
  }

  mirestal::ScopedAutomationInit automation;
  mirestal::RegisterSpreadsheetAdapter();
  std::vector<double> seconds;
  for (int i = 0; i < runs; ++i) {
    Clock::time_point start = Clock::now();
    std::string table = mirestal::ConvertWorkbookToTable(
        {book, ""}, [](const std::string&, const std::string&, int) {});
    seconds.push_back(Since(start));
    mirestal::TTableDataSet check;
    check.TableName = table;
    check.Open();
    if (check.RecordCount() != rows) {
      std::fprintf(stderr, "converted %d records, expected %d\n", check.RecordCount(), rows);
      return 1;
    }
  }
  std::sort(seconds.begin(), seconds.end());
  std::printf("conversion of %d rows: min %.2f s, median %.2f s, max %.2f s over %d runs\n", rows,
              seconds.front(), seconds[seconds.size() / 2], seconds.back(), runs);

  // The share of the conversion that is ours: the same rows as the converter's CSV, parsed,
  // typed and written as a table.
  std::string csv = "\"考籍号\",\"姓名\",\"性别\",\"CLASS\",\"BIRTH\",\"SCORE\"\n";
  for (int i = 0; i < rows; ++i) {
    char line[160];
    std::snprintf(line, sizeof line, "\"1101012026%07d\",\"王小明\",\"%s\",\"G3-%d\",01/05/2008,%d.5\n",
                  i, i % 2 ? "男" : "女", i % 9, 300 + i % 400);
    csv += line;
  }
  Clock::time_point start = Clock::now();
  mirestal::import::SheetTable sheet =
      mirestal::import::BuildSheetTable(mirestal::import::ParseCsv(csv));
  mirestal::import::WriteSheetTable(dir.File("csv.dbf"), sheet, mirestal::FileSystem::Default());
  std::printf("CSV to table of %d rows: %.3f s\n", rows, Since(start));
  return 0;
}
