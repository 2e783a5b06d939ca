// Pack of a 100,000-record roster after deleting its first record (every record moves), through
// the dataset as the maintenance mode does it; and, for comparison, the in-place method with one
// record write, one header write and one flush per moved record, timed on the first records and
// extrapolated to the whole roster.
//
// Usage: bench_pack [RECORDS] [FOLDER]   (FOLDER: where the roster is written; a fresh temporary
// folder by default. Put it on the disk whose figures you want.)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file.h"
#include "table/dataset.h"
#include "table/dbf_table.h"
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

void Open(TTableDataSet& ds, const std::string& path) {
  ds.TableName = path;
  ds.Exclusive = true;
  ds.AutoFlush = true;
  ds.ExactCount = true;
  ds.Open();
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
  TempDir temp;
  const std::string folder = argc > 2 ? argv[2] : temp.path();
  const std::string path = folder + "/bench_pack_roster.dbf";
  const std::string roster = MakeBenchRoster(records);

  WriteFile(path, roster);
  double pack_seconds = 0;
  int kept = 0;
  {
    TTableDataSet ds;
    Open(ds, path);
    ds.First();
    ds.Delete();
    auto start = Clock::now();
    ds.Pack();
    pack_seconds = Seconds(start);
    kept = ds.Table()->RecordCount();
  }
  std::printf("pack of %d records, first one deleted: %.3f s (%d kept)\n", records, pack_seconds,
              kept);

  // The in-place method: every record after the deleted one is rewritten one place earlier,
  // each with a header write and a flush.
  WriteFile(path, roster);
  const int sample = std::min(records - 1, 2000);
  double in_place_seconds = 0;
  {
    auto file = mirestal::FileSystem::Default().Open(path, mirestal::Access::kReadWrite,
                                                     mirestal::Share::kNone);
    const int header_length =
        static_cast<unsigned char>(roster[8]) | (static_cast<unsigned char>(roster[9]) << 8);
    const int record_length =
        static_cast<unsigned char>(roster[10]) | (static_cast<unsigned char>(roster[11]) << 8);
    std::vector<char> buffer(record_length);
    auto start = Clock::now();
    for (int i = 2; i <= sample + 1; ++i) {
      file->ReadAt(header_length + static_cast<uint64_t>(i - 1) * record_length, buffer.data(),
                   buffer.size());
      file->WriteAt(header_length + static_cast<uint64_t>(i - 2) * record_length, buffer.data(),
                    buffer.size());
      file->WriteAt(0, roster.data(), 32);
      file->Flush();
    }
    in_place_seconds = Seconds(start) / sample * (records - 1);
  }
  std::printf("in-place pack with a flush per moved record: %.1f s extrapolated from %d moves\n",
              in_place_seconds, sample);
  std::filesystem::remove(path);
  return 0;
}
