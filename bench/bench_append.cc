// Appending 10,000 records one Post at a time through the dataset, with the flush after each
// post that AutoFlush asks for.
//
// Usage: bench_append [RECORDS] [FOLDER]   (FOLDER: where the roster is written; a fresh
// temporary folder by default)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "table/dataset.h"
#include "tests/testutil/testutil.h"

using mirestal::TTableDataSet;
using mirestal::testing::DbfBuilder;
using mirestal::testing::TempDir;
using mirestal::testing::WriteFile;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 10000;
  TempDir temp;
  const std::string folder = argc > 2 ? argv[2] : temp.path();
  const std::string path = folder + "/bench_append_roster.dbf";
  DbfBuilder b;
  b.Field("\xBF\xBC\xBC\xAE\xBA\xC5", 'C', 17)  // 考籍号
      .Field("\xD0\xD5\xC3\xFB", 'C', 10)       // 姓名
      .Field("\xD0\xD4\xB1\xF0", 'C', 2)        // 性别
      .Field("BIRTH", 'D', 8)
      .Field("SCORE", 'N', 5, 1);
  WriteFile(path, b.Build());

  TTableDataSet ds;
  ds.TableName = path;
  ds.Exclusive = true;
  ds.AutoFlush = true;
  ds.ExactCount = true;
  ds.Open();
  auto start = Clock::now();
  for (int i = 0; i < records; ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "1101012026%07d", i);
    ds.Append();
    ds.Fields(0).SetAsString(key);
    ds.Fields(1).SetAsString("\xCD\xF5\xD0\xA1\xC3\xF7");
    ds.Fields(2).SetAsString(i % 2 ? "\xC4\xD0" : "\xC5\xAE");
    ds.Fields(3).SetAsString("2008/1/5");
    ds.Fields(4).SetAsFloat(300 + i % 400 + 0.5);
    ds.Post();
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const int count = ds.RecordCount();
  ds.Close();
  std::printf(
      "appended %d records (table holds %d) in %.3f s: %.0f records/s, flushed after each\n",
      records, count, seconds, records / seconds);
  std::filesystem::remove(path);
  return 0;
}
