// Export speed and memory: a 65,535-row roster of 8 fields written by TXlsExport, beside Debian's
// python3-xlwt writing the same rows in the same run (bench/bench_export_xlwt.py); and rosters
// whose texts repeat 10 values against rosters of distinct texts (the shared-string index).
//
// Usage: bench_export [ROWS]   (default 65535). Build with optimisation and without sanitizers
// for meaningful figures.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/gbk.h"
#include "table/dataset.h"
#include "tests/testutil/testutil.h"
#include "xls/xls_export.h"

namespace {

using mirestal::testing::DbfBuilder;
using mirestal::testing::TempDir;

std::string Gbk(const std::string& utf8) { return mirestal::Utf8ToGbkLossy(utf8); }

// Peak resident memory of this process so far, in bytes (VmHWM); ResetPeak() starts it anew.
long PeakBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6) * 1024;
  }
  return 0;
}
long CurrentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6) * 1024;
  }
  return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

long FileSize(const std::string& path) {
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  return static_cast<long>(f.tellg());
}

struct Run {
  double seconds;
  long peak_growth;
  long file_size;
};

Run Export(const std::string& roster, const std::string& book) {
  mirestal::TTableDataSet ds;
  ds.TableName = roster;
  ds.Exclusive = true;
  ds.AutoFlush = true;
  ds.ExactCount = true;
  ds.Open();
  mirestal::TXlsExport exporter;
  exporter.DataSet = &ds;
  exporter.FileName = book;
  ResetPeak();
  long base = CurrentBytes();
  auto start = std::chrono::steady_clock::now();
  exporter.Execute();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return Run{seconds, PeakBytes() - base, FileSize(book)};
}

const char* kSurnames[] = {"王", "李", "张", "刘", "陈", "杨", "赵", "黄", "周", "吴", "徐", "孙"};
const char* kGiven[] = {"伟", "芳", "娜", "敏", "静", "丽", "强", "磊", "洋", "艳",
                        "勇", "军", "杰", "娟", "涛", "明", "超", "秀", "霞", "平"};

// The roster of a whole school: key, name, sex, class, birth date, score, number, in school.
void SchoolRoster(int rows, const std::string& dbf, const std::string& tsv) {
  DbfBuilder b;
  b.Field(Gbk("考籍号"), 'C', 17)
      .Field(Gbk("姓名"), 'C', 8)
      .Field(Gbk("性别"), 'C', 2)
      .Field(Gbk("班级"), 'C', 12)
      .Field(Gbk("出生日期"), 'D', 8)
      .Field(Gbk("成绩"), 'N', 5, 1)
      .Field(Gbk("学号"), 'N', 8)
      .Field(Gbk("在校"), 'L', 1);
  std::ofstream out(tsv);
  out << "考籍号\t姓名\t性别\t班级\t出生日期\t成绩\t学号\t在校\n"
      << "text\ttext\ttext\ttext\tdate\tnumber\tinteger\tbool\n";
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8) & 0xFFFFFF; };
  for (int i = 0; i < rows; ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "110100520261%05d", i);
    std::string name = std::string(kSurnames[next() % 12]) + kGiven[next() % 20] +
                       (next() % 2 ? kGiven[next() % 20] : "");
    std::string sex = next() % 2 ? "男" : "女";
    std::string klass = "高三(" + std::to_string(next() % 20 + 1) + ")班";
    int year = 2007 + static_cast<int>(next() % 3), month = 1 + static_cast<int>(next() % 12),
        day = 1 + static_cast<int>(next() % 28);
    char date[16];
    std::snprintf(date, sizeof date, "%04d%02d%02d", year, month, day);
    char score[16];
    std::snprintf(score, sizeof score, "%.1f", (next() % 7500) / 10.0);
    std::string number = std::to_string(10000000 + i);
    bool in_school = next() % 10 != 0;
    b.Record({key, Gbk(name), Gbk(sex), Gbk(klass), date, score, number, in_school ? "T" : "F"});
    // Days since 1899-12-30 for the peer.
    int y = year - (month <= 2), era = y / 400, yoe = y - era * 400;
    int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    long serial = era * 146097L + yoe * 365 + yoe / 4 - yoe / 100 + doy - 719468 + 25569;
    out << key << '\t' << name << '\t' << sex << '\t' << klass << '\t' << serial << '\t' << score
        << '\t' << number << '\t' << (in_school ? 1 : 0) << '\n';
  }
  mirestal::testing::WriteFile(dbf, b.Build());
}

// 8 text fields; every value one of 10 texts, or every value distinct.
void TextRoster(int rows, bool repeated, const std::string& dbf) {
  DbfBuilder b;
  for (int f = 0; f < 8; ++f) b.Field(std::string(1, 'T') + std::to_string(f), 'C', 12);
  for (int i = 0; i < rows; ++i) {
    std::vector<std::string> values;
    for (int f = 0; f < 8; ++f) {
      int v = repeated ? (i * 7 + f * 3) % 10 : i * 8 + f;
      values.push_back(Gbk("值") + std::to_string(100000 + v));
    }
    b.Record(values);
  }
  mirestal::testing::WriteFile(dbf, b.Build());
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 65535;
  TempDir dir;
  const std::string roster = dir.File("school.dbf"), tsv = dir.File("school.tsv");
  SchoolRoster(rows, roster, tsv);

  std::printf("roster: %d rows x 8 fields (%ld bytes)\n", rows, FileSize(roster));
  Run ours = Export(roster, dir.File("ours.xls"));
  std::printf(
      "TXlsExport  : %8.3f s  %10.0f rows/s  peak +%6.1f MB  file %6.2f MB  "
      "peak/file %.2f\n",
      ours.seconds, rows / ours.seconds, ours.peak_growth / 1e6, ours.file_size / 1e6,
      static_cast<double>(ours.peak_growth) / ours.file_size);

  // The peer script lies beside this source file.
  std::string here = __FILE__;
  std::string script = here.substr(0, here.rfind('/') + 1) + "bench_export_xlwt.py";
  std::string command =
      "/usr/bin/python3 '" + script + "' '" + tsv + "' '" + dir.File("xlwt.xls") + "'";
  std::string out;
  if (mirestal::testing::RunCommand(command, &out) == 0) {
    int peer_rows = 0;
    double seconds = 0;
    long peak = 0, size = 0;
    std::sscanf(out.c_str(), "%d\t%lf\t%ld\t%ld", &peer_rows, &seconds, &peak, &size);
    std::printf("python3-xlwt: %8.3f s  %10.0f rows/s  peak +%6.1f MB  file %6.2f MB\n", seconds,
                peer_rows / seconds, peak / 1e6, size / 1e6);
    std::printf("speed-up    : %.1f x\n", seconds / ours.seconds);
  } else {
    std::printf("python3-xlwt: not available (%s)\n", out.c_str());
  }

  const std::string repeated = dir.File("repeated.dbf"), distinct = dir.File("distinct.dbf");
  TextRoster(rows, true, repeated);
  TextRoster(rows, false, distinct);
  Run r = Export(repeated, dir.File("repeated.xls"));
  Run d = Export(distinct, dir.File("distinct.xls"));
  std::printf("8 text fields, 10 distinct texts : %8.3f s  %10.0f rows/s  file %6.2f MB\n",
              r.seconds, rows / r.seconds, r.file_size / 1e6);
  std::printf("8 text fields, all texts distinct: %8.3f s  %10.0f rows/s  file %6.2f MB\n",
              d.seconds, rows / d.seconds, d.file_size / 1e6);
  return 0;
}
