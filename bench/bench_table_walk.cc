// Opening and walking a 200,000-record roster through the dataset, beside Debian's dbfread
// reading the same file in the same run; and RecordCount plus one Next on 100,000 records.
//
// Usage: bench_table_walk [RECORDS]   (needs /usr/bin/python3 with python3-dbfread for the
// comparison; the figure is skipped when it is missing)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "table/dataset.h"
#include "tests/testutil/testutil.h"

using mirestal::TTableDataSet;
using mirestal::testing::MakeBenchRoster;
using mirestal::testing::TempDir;
using mirestal::testing::WriteFile;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of this process; steadier than wall time on a shared machine.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv) {
  int records = argc > 1 ? std::atoi(argv[1]) : 200000;
  TempDir dir;
  std::string path = dir.File("roster.dbf");
  WriteFile(path, MakeBenchRoster(records, 50));

  // Ours: open, walk every visible record, read every field as text.
  auto start = Clock::now();
  const double cpu_start = CpuSeconds();
  size_t bytes = 0;
  int visited = 0;
  {
    TTableDataSet ds;
    ds.TableName = path;
    ds.Exclusive = true;
    ds.ExactCount = true;
    ds.Open();
    for (ds.First(); !ds.Eof(); ds.Next()) {
      for (int i = 0; i < ds.FieldCount(); ++i) bytes += ds.Fields(i).AsString().size();
      ++visited;
    }
  }
  double ours = Seconds(start);
  const double ours_cpu = CpuSeconds() - cpu_start;
  std::printf("mirestal: %d visible records in %.3f s = %.0f records/s (%zu text bytes)\n",
              visited, ours, visited / ours, bytes);
  std::printf("mirestal: processor time %.3f s = %.0f records/s\n", ours_cpu, visited / ours_cpu);

  // dbfread on the same file, timed from inside Python so that interpreter start-up is not
  // counted against it.
  std::string out;
  std::string script =
      "import time,dbfread\n"
      "t=time.perf_counter()\n"
      "n=0\n"
      "for r in dbfread.DBF('" + path + "',encoding='gbk'):\n"
      "  n+=1\n"
      "print(n, time.perf_counter()-t)\n";
  WriteFile(dir.File("walk.py"), script);
  if (mirestal::testing::RunCommand("/usr/bin/python3 " + dir.File("walk.py") + " 2>/dev/null",
                                    &out) == 0) {
    int n = 0;
    double theirs = 0;
    std::sscanf(out.c_str(), "%d %lf", &n, &theirs);
    std::printf("dbfread:  %d visible records in %.3f s = %.0f records/s\n", n, theirs,
                n / theirs);
    std::printf("speed-up: %.1fx\n", theirs / ours);
  } else {
    std::printf("dbfread:  not available (apt-get install python3-dbfread)\n");
  }

  // RecordCount plus one Next on 100,000 records, after the first count.
  std::string path2 = dir.File("count.dbf");
  WriteFile(path2, MakeBenchRoster(100000, 50));
  TTableDataSet ds;
  ds.TableName = path2;
  ds.Exclusive = true;
  ds.ExactCount = true;
  ds.Open();
  start = Clock::now();
  int first = ds.RecordCount();
  double first_count = Seconds(start);
  const int kRounds = 20000;
  start = Clock::now();
  long sum = 0;
  for (int i = 0; i < kRounds && !ds.Eof(); ++i) {
    sum += ds.RecordCount();
    ds.Next();
  }
  double each = Seconds(start) / kRounds;
  std::printf("RecordCount: first count %d in %.1f ms; then RecordCount + Next %.2f us (%ld)\n",
              first, first_count * 1e3, each * 1e6, sum % 7);
  return 0;
}
