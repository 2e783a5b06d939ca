// mirestal-cli import-photos on 200 pictures of 12 megapixels (4000x3000 JPEGs made at run time
// from the test card's portrait, enlarged to several sizes and places), matched by file name to
// a roster of 200 students: the whole process, on both cores. Beside it, in the same run on the
// same folder, python3-opencv doing the same work (bench/bench_import_photos_opencv.py: decode,
// detectMultiScale with haarcascade_frontalface_default, crop, resize to 300x400, encode at
// quality 80) with two worker processes. Goals: 4 pictures a second or more, and at least three
// times the peer's rate. Wall and processor time are both printed (the machine is shared).
// Usage: bench_import_photos MIRESTAL_CLI [PICTURES]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include <sys/resource.h>

#include "capture/face/still_frame.h"
#include "capture/jpeg.h"
#include "capture/testcard.h"
#include "platform/gbk.h"
#include "tests/testutil/testutil.h"

using namespace mirestal;
using Clock = std::chrono::steady_clock;

namespace {

const char kCascade[] = "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml";

double ChildrenCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The portrait enlarged to `height` rows with its face near x = centre, on grey.
std::string TwelveMegapixels(const Bitmap& portrait, int height, int centre) {
  const int width = portrait.width * height / portrait.height;
  const Bitmap big = ResizeBitmap(portrait, width, height);
  Bitmap out(4000, 3000);
  std::fill(out.pixels.begin(), out.pixels.end(), 120);
  const int x0 = std::clamp(centre - width / 2, 0, 4000 - width);
  const int y0 = 3000 - height;
  for (int y = 0; y < height; ++y) std::copy_n(big.Row(y), width * 3, out.At(x0, y0 + y));
  return EncodeJpeg(out, 90);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: bench_import_photos MIRESTAL_CLI [PICTURES]\n");
    return 2;
  }
  const int count = argc > 2 ? std::atoi(argv[2]) : 200;
  testing::TempDir dir;
  const std::string source = dir.File("camera");
  std::filesystem::create_directories(source);

  // Eight different pictures, each written under 1/8 of the names.
  const Bitmap portrait = RenderTestCard(480, 640, 0, TestCardPicture::kPortrait);
  std::vector<std::string> variants;
  for (int v = 0; v < 8; ++v) {
    variants.push_back(TwelveMegapixels(portrait, 2400 + 80 * v, 1400 + 160 * v));
  }
  testing::DbfBuilder roster;
  roster.Field(*Utf8ToGbk("考籍号"), 'C', 17).Field(*Utf8ToGbk("姓名"), 'C', 10);
  uint64_t bytes = 0;
  for (int i = 0; i < count; ++i) {
    const std::string key = std::to_string(20230001 + i);
    roster.Record({key, "S" + std::to_string(i)});
    const std::string& jpeg = variants[static_cast<size_t>(i % 8)];
    testing::WriteFile(source + "/" + key + ".jpg", jpeg);
    bytes += jpeg.size();
  }
  testing::WriteFile(dir.File("roster.dbf"), roster.Build());
  std::printf("%d pictures of 4000x3000, %.1f MB in all\n", count, static_cast<double>(bytes) / 1e6);
  // Read once so that both runs find the files in the page cache.
  std::string out;
  testing::RunCommand("cat '" + source + "'/* > /dev/null");

  double cpu = ChildrenCpuSeconds();
  auto start = Clock::now();
  const int status = testing::RunCommand(std::string("'") + argv[1] + "' import-photos '" +
                                             dir.File("roster.dbf") + "' '" + source +
                                             "' --program-dir '" + dir.path() + "'",
                                         &out);
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double used = ChildrenCpuSeconds() - cpu;
  const size_t stored = testing::FileNames(dir.File("照片")).size();
  std::printf(
      "mirestal-cli import-photos: %.2f s wall, %.2f s processor; %.1f pictures/s "
      "(%.1f per processor-second); %zu stored, exit %d\n",
      wall, used, count / wall, count / used, stored, status);
  if (status != 0 || stored != static_cast<size_t>(count)) std::printf("%s", out.c_str());

  if (!std::filesystem::exists(kCascade)) {
    std::printf("python3-opencv: skipped (opencv-data is not installed)\n");
    return 0;
  }
  const std::string peer_out = dir.File("opencv");
  std::filesystem::create_directories(peer_out);
  cpu = ChildrenCpuSeconds();
  start = Clock::now();
  std::string peer;
  const int peer_status = testing::RunCommand(
      std::string("/usr/bin/python3 '") + MIRESTAL_SOURCE_DIR +
          "/bench/bench_import_photos_opencv.py' " + kCascade + " '" + source + "' '" + peer_out +
          "' 2 2>&1",
      &peer);
  const double peer_wall = std::chrono::duration<double>(Clock::now() - start).count();
  const double peer_used = ChildrenCpuSeconds() - cpu;
  std::printf(
      "python3-opencv (2 processes): %.2f s wall, %.2f s processor; %.1f pictures/s "
      "(%.2f per processor-second); exit %d: %s",
      peer_wall, peer_used, count / peer_wall, count / peer_used, peer_status, peer.c_str());
  std::printf("mirestal / opencv: %.1fx by wall time, %.1fx by processor time\n",
              peer_wall / wall, peer_used / used);
  return 0;
}
