// From a grabbed 640x480 frame to a stored 300x400 photo: BMP write (as the capture window saves
// the frame), BMP read, crop, JPEG encode and the atomic photo write (temporary file, flush,
// rename). Prints the median and mean of each step and of the whole, and cjpeg -quality 80
// encoding the same crop for comparison.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

#include "capture/bitmap.h"
#include "capture/crop.h"
#include "capture/jpeg.h"
#include "capture/photo_store.h"
#include "capture/testcard.h"
#include "platform/file.h"
#include "tests/testutil/testutil.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Stats {
  double median_ms;
  double mean_ms;
};

Stats Measure(int runs, const std::function<void()>& body) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    body();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
  }
  std::sort(ms.begin(), ms.end());
  return {ms[ms.size() / 2], std::accumulate(ms.begin(), ms.end(), 0.0) / ms.size()};
}

void Print(const char* what, Stats s) {
  std::printf("%-44s median %8.3f ms   mean %8.3f ms\n", what, s.median_ms, s.mean_ms);
}

std::string ReadAll(mirestal::File& f) {
  std::string bytes(f.Size(), '\0');
  bytes.resize(f.ReadAt(0, bytes.data(), bytes.size()));
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace mirestal;
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  testing::TempDir dir;
  PhotoStore store(dir.path());
  const std::string frame_path = dir.File("tmp.bmp");
  const std::string photo_path = *store.PhotoFileName("20110001");
  PhotoStore::EnsurePhotoFolder(photo_path);
  FileSystem& fs = FileSystem::Default();

  const Bitmap frame = RenderTestCard(640, 480, 1);
  const CropRect r = ComputeCropRect(640, 480, kTrackBarHorInitial, kTrackBarVerInitial);
  const Bitmap crop = CopyRect(frame, r.x, r.y, r.w, r.h);
  const std::string frame_file = WriteBmp(frame);

  std::printf("photo pipeline, 640x480 frame -> %dx%d JPEG quality 80, %d runs\n", r.w, r.h, runs);
  Print("BMP write (encode + file)", Measure(runs, [&] {
          const std::string bytes = WriteBmp(frame);
          fs.Create(frame_path)->WriteAt(0, bytes.data(), bytes.size());
        }));
  Print("BMP read (file + decode)", Measure(runs, [&] {
          ReadBmp(ReadAll(*fs.Open(frame_path, Access::kRead, Share::kReadWrite)));
        }));
  Print("crop 300x400", Measure(runs, [&] { CopyRect(frame, r.x, r.y, r.w, r.h); }));
  Print("JPEG encode", Measure(runs, [&] { EncodeJpeg(crop); }));
  Print("photo write (encode + temp + flush + rename)",
        Measure(runs, [&] { store.WritePhoto(photo_path, crop); }));
  Print("whole pipeline", Measure(runs, [&] {
          const std::string bytes = WriteBmp(frame);
          fs.Create(frame_path)->WriteAt(0, bytes.data(), bytes.size());
          const Bitmap back =
              ReadBmp(ReadAll(*fs.Open(frame_path, Access::kRead, Share::kReadWrite)));
          fs.Remove(frame_path);
          store.WritePhoto(photo_path, CopyRect(back, r.x, r.y, r.w, r.h));
        }));
  std::printf("photo size %zu bytes\n", testing::ReadFile(photo_path).size());

  // cjpeg on the same crop: the whole process, and its identity with our encoder.
  std::string ppm =
      "P6\n" + std::to_string(crop.width) + " " + std::to_string(crop.height) + "\n255\n";
  ppm.append(reinterpret_cast<const char*>(crop.pixels.data()), crop.pixels.size());
  testing::WriteFile(dir.File("crop.ppm"), ppm);
  const std::string cjpeg =
      "cjpeg -quality 80 -outfile " + dir.File("c.jpg") + " " + dir.File("crop.ppm");
  if (testing::RunCommand("command -v cjpeg >/dev/null") != 0) {
    std::printf("cjpeg not installed; no comparison\n");
    return 0;
  }
  const int cjpeg_runs = std::min(runs, 50);
  Print("cjpeg -quality 80 (process, same crop)",
        Measure(cjpeg_runs, [&] { testing::RunCommand(cjpeg); }));
  Print("process start alone (true)", Measure(cjpeg_runs, [&] { testing::RunCommand("true"); }));
  std::printf("cjpeg output identical to ours: %s\n",
              testing::ReadFile(dir.File("c.jpg")) == EncodeJpeg(crop) ? "yes" : "NO");
  return 0;
}
