// `mirestal-cli dump` of a 200,000-record GBK roster beside Debian's `pgdbf -s gbk` on the same
// file in the same run (both written to /dev/null). Each figure is the best of several runs, as
// wall time and as processor time (user + system of the child processes), the second being the
// steadier one on a shared machine.
//
// Usage: bench_dump [RECORDS] [RUNS]   (the pgdbf figure is skipped when /usr/bin/pgdbf is
// missing: apt-get install pgdbf)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "tests/testutil/testutil.h"

using mirestal::testing::MakeBenchRoster;
using mirestal::testing::RunCommand;
using mirestal::testing::TempDir;
using mirestal::testing::WriteFile;
using Clock = std::chrono::steady_clock;

namespace {

struct Times {
  double wall = 1e30;
  double cpu = 1e30;
};

double ChildrenCpuSeconds() {
  struct rusage usage;
  getrusage(RUSAGE_CHILDREN, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Best times of `runs` runs of `command`; nullopt when it fails.
std::optional<Times> Best(const std::string& command, int runs) {
  Times best;
  for (int i = 0; i < runs; ++i) {
    const double cpu_before = ChildrenCpuSeconds();
    const auto start = Clock::now();
    if (RunCommand(command) != 0) return std::nullopt;
    best.wall = std::min(best.wall, std::chrono::duration<double>(Clock::now() - start).count());
    best.cpu = std::min(best.cpu, ChildrenCpuSeconds() - cpu_before);
  }
  return best;
}

void Print(const char* name, int records, const Times& t) {
  std::printf("%-18s %d records: wall %.3f s (%.2f M records/s), cpu %.3f s (%.2f M records/s)\n",
              name, records, t.wall, records / t.wall / 1e6, t.cpu, records / t.cpu / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 200000;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  TempDir dir;
  const std::string path = dir.File("roster.dbf");
  WriteFile(path, MakeBenchRoster(records, 50));

  const auto ours = Best(std::string(MIRESTAL_CLI) + " dump " + path + " >/dev/null", runs);
  if (!ours) {
    std::printf("mirestal-cli dump failed\n");
    return 1;
  }
  Print("mirestal-cli dump", records, *ours);
  if (access("/usr/bin/pgdbf", X_OK) != 0) {
    std::printf("pgdbf: not available (apt-get install pgdbf)\n");
    return 0;
  }
  const auto theirs = Best("/usr/bin/pgdbf -s gbk " + path + " >/dev/null", runs);
  if (!theirs) {
    std::printf("pgdbf failed on the roster\n");
    return 1;
  }
  Print("pgdbf -s gbk", records, *theirs);
  std::printf("speed-up: wall %.2fx, cpu %.2fx\n", theirs->wall / ours->wall,
              theirs->cpu / ours->cpu);
  return 0;
}
