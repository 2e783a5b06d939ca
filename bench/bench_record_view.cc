// Reading rows through the record view, as a grid's cell reads do: the row's record number from
// the row index, the record loaded beside the cursor, and every field as text. 100,000 records
// (every 50th deleted), rows in order and in a scattered order.
//
// Usage: bench_record_view [RECORDS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "table/dataset.h"
#include "table/roster.h"
#include "tests/testutil/testutil.h"

using mirestal::TRecordView;
using mirestal::TTableDataSet;
using mirestal::testing::MakeBenchRoster;
using mirestal::testing::TempDir;
using mirestal::testing::WriteFile;
using Clock = std::chrono::steady_clock;

namespace {

// Microseconds per row read over the rows in `order`; `bytes` keeps the work observable.
double MicrosPerRow(TTableDataSet& ds, const std::vector<int>& order, size_t* bytes) {
  TRecordView view(ds);
  const auto start = Clock::now();
  for (int row : order) {
    view.Load(ds.RecNoOfRow(row));
    for (int i = 0; i < ds.FieldCount(); ++i) *bytes += ds.Fields(i).AsString(view).size();
  }
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count() /
         static_cast<double>(order.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
  TempDir dir;
  const std::string path = dir.File("roster.dbf");
  WriteFile(path, MakeBenchRoster(records, 50));
  TTableDataSet ds;
  mirestal::ConfigureRoster(ds, path);
  ds.ReadOnly = true;
  ds.Open();
  const int rows = ds.RowCount();  // builds the index once

  std::vector<int> in_order(rows);
  for (int r = 0; r < rows; ++r) in_order[r] = r;
  std::vector<int> scattered(rows);
  uint32_t x = 12345;
  for (int& r : scattered) {
    x = x * 1664525u + 1013904223u;
    r = static_cast<int>(x % static_cast<uint32_t>(rows));
  }
  size_t bytes = 0;
  const double sequential = MicrosPerRow(ds, in_order, &bytes);
  const double random = MicrosPerRow(ds, scattered, &bytes);
  std::printf("record view, %d rows of %d fields: %.3f us a row in order, %.3f us scattered "
              "(goal: under 2 us) (%zu text bytes)\n",
              rows, ds.FieldCount(), sequential, random, bytes);
  return 0;
}
