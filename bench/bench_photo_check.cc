// The photo check and the upload package on a roster of N students (default 5,000) with one
// photo of about 30 KB each: the full check (every photo read and decoded), the listing-only
// part (no photo read), and the package in MB/s beside `zip -0` on the same files. The files
// are in the page cache (just written), so the figures are the program's, not the disk's.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "capture/jpeg.h"
#include "capture/photo_check.h"
#include "capture/photo_package.h"
#include "capture/testcard.h"
#include "platform/gbk.h"
#include "table/dataset.h"
#include "tests/testutil/testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

// Processor time of this process (all threads), so that a busy machine shows what the work
// itself costs beside the wall-clock time.
double CpuMs() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Times {
  double wall_ms;
  double cpu_ms;
};

// Medians of `runs` runs.
Times Measure(int runs, const std::function<void()>& body) {
  std::vector<double> wall, cpu;
  for (int i = 0; i < runs; ++i) {
    const auto start = Clock::now();
    const double cpu_start = CpuMs();
    body();
    cpu.push_back(CpuMs() - cpu_start);
    wall.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(wall.begin(), wall.end());
  std::sort(cpu.begin(), cpu.end());
  return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

void Print(const char* what, Times t, double mb = 0) {
  std::printf("%-40s wall %8.1f ms  cpu %8.1f ms", what, t.wall_ms, t.cpu_ms);
  if (mb > 0) std::printf("  %6.1f MB/s (wall)", mb / t.wall_ms * 1000);
  std::printf("\n");
}

// A 375x500 crop of the test card with noise, so that quality 80 gives about 30 KB as a camera
// picture does.
std::string Photo(int variant) {
  using namespace mirestal;
  Bitmap face =
      CopyRect(RenderTestCard(800, 600, static_cast<uint64_t>(variant)), 212, 50, 375, 500);
  uint32_t seed = static_cast<uint32_t>(variant) + 1;
  for (uint8_t& b : face.pixels) {
    seed = seed * 1103515245 + 12345;
    b = static_cast<uint8_t>(std::clamp(b + static_cast<int>((seed >> 24) % 25) - 12, 0, 255));
  }
  return EncodeJpeg(face);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace mirestal;
  const int students = argc > 1 ? std::atoi(argv[1]) : 5000;
  testing::TempDir dir;
  testing::WriteFile(dir.File("roster.dbf"), testing::MakeBenchRoster(students));
  PhotoStore store(dir.path());
  std::filesystem::create_directories(store.PhotoFolder());

  std::vector<RosterStudent> roster;
  const Times read = Measure(1, [&] {
    TTableDataSet ds;
    ds.TableName = dir.File("roster.dbf");
    ds.ReadOnly = true;
    ds.Open();
    TField& key = ds.FieldByName(*Utf8ToGbk("考籍号"));
    for (ds.First(); !ds.Eof(); ds.Next()) roster.push_back({ds.RecNo(), key.AsString(), ""});
  });

  std::vector<std::string> photos;
  for (int v = 0; v < 16; ++v) photos.push_back(Photo(v));
  uint64_t total = 0;
  for (size_t i = 0; i < roster.size(); ++i) {
    const std::string& bytes = photos[i % photos.size()];
    testing::WriteFile(*store.PhotoFileName(roster[i].key_gbk), bytes);
    total += bytes.size();
  }
  std::printf("%d students, %d photos, %.1f KB each on average, %.1f MB in all\n", students,
              students, total / 1024.0 / students, total / 1048576.0);
  Print("roster read (keys)", read);

  PhotoRules full;
  PhotoRules listing;
  listing.decode = false;
  RosterPhotoCheck check;
  Print("check, every photo read and decoded",
        Measure(3, [&] { check = CheckRosterPhotos(roster, store, full); }));
  std::printf("  (%d valid)\n", check.valid);
  Print("check, listing and sizes only",
        Measure(11, [&] { CheckRosterPhotos(roster, store, listing); }));

  const std::string zip = dir.File("package.zip");
  const double mb = total / 1048576.0;
  Print("package (libzip, stored)", Measure(3, [&] { WritePhotoPackage(check, zip); }), mb);
  if (testing::RunCommand("command -v zip >/dev/null") != 0) {
    std::printf("zip not installed; no comparison\n");
    return 0;
  }
  const std::string zip_command =
      "cd " + store.PhotoFolder() + " && zip -0 -q " + dir.File("zip0.zip") + " *.jpg";
  // The child's processor time is not this process's: only the wall clock compares.
  Print("zip -0 (same files, own process)",
        Measure(3,
                [&] {
                  std::filesystem::remove(dir.File("zip0.zip"));
                  testing::RunCommand(zip_command);
                }),
        mb);
  std::printf("archive sizes: ours %ju bytes, zip -0 %ju bytes\n",
              static_cast<uintmax_t>(std::filesystem::file_size(zip)),
              static_cast<uintmax_t>(std::filesystem::file_size(dir.File("zip0.zip"))));
  return 0;
}
