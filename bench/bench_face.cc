// Face detection and framing speed.
//   1. Detection (and the face measurements) on 640x480 frames on one core: the test card's
//      portrait at 16 sway positions and astronaut.png scaled into the frame; beside
//      python3-opencv's CascadeClassifier.detectMultiScale with haarcascade_frontalface_default
//      on the same frames in the same run (bench/bench_face_opencv.py). Goal: under 30 ms.
//   2. mirestal-cli frame on a 12-megapixel JPEG (4000x3000, the astronaut enlarged): the whole
//      process, median of 7 runs. Goal: under 300 ms.
// Usage: bench_face [MIRESTAL_CLI]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#ifdef __linux__
#include <sched.h>
#include <sys/resource.h>
#endif

#include "capture/face/face_detector.h"
#include "capture/face/framing.h"
#include "capture/face/still_frame.h"
#include "capture/jpeg.h"
#include "capture/testcard.h"
#include "tests/testutil/testutil.h"

using namespace mirestal;
using Clock = std::chrono::steady_clock;

namespace {

const char kAstronaut[] = "/usr/lib/python3/dist-packages/skimage/data/astronaut.png";
const char kCascade[] = "/usr/share/opencv4/haarcascades/haarcascade_frontalface_default.xml";

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The process's processor time in milliseconds: on a busy machine the wall clock counts the
// other processes' turns too, so both figures are printed.
double CpuMs() { return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// The astronaut (512x512) scaled to 480 rows in the middle of a grey 640x480 frame.
Bitmap AstronautFrame() {
  const Bitmap square = ResizeBitmap(ReadPicture(testing::ReadFile(kAstronaut)), 480, 480);
  Bitmap frame(640, 480);
  std::fill(frame.pixels.begin(), frame.pixels.end(), 128);
  for (int y = 0; y < 480; ++y) std::copy_n(square.Row(y), 480 * 3, frame.At(80, y));
  return frame;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef __linux__
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(0, &one);
  sched_setaffinity(0, sizeof one, &one);
#endif
  testing::TempDir dir;
  std::vector<Bitmap> frames;
  for (int i = 0; i < 16; ++i) {
    frames.push_back(
        RenderTestCard(640, 480, static_cast<uint64_t>(i) * 6, TestCardPicture::kPortrait));
  }
  const bool have_astronaut = std::filesystem::exists(kAstronaut);
  if (have_astronaut) frames.push_back(AstronautFrame());
  std::vector<std::string> files;
  for (size_t i = 0; i < frames.size(); ++i) {
    files.push_back(dir.File("frame" + std::to_string(i) + ".bmp"));
    testing::WriteFile(files.back(), WriteBmp(frames[i]));
  }

  const auto load_start = Clock::now();
  FaceDetector detector;
  std::printf("detector load: %.1f ms\n", Ms(Clock::now() - load_start));
  const int min_face = static_cast<int>(kFramingRule.live_min_face * 480);
  constexpr int kRounds = 5;
  int ones = 0;
  std::vector<double> times;
  const double cpu_start = CpuMs();
  for (int r = 0; r < kRounds; ++r) {
    for (const Bitmap& f : frames) {
      const auto start = Clock::now();
      const FrameAnalysis a = AnalyseFrame(detector, f);
      times.push_back(Ms(Clock::now() - start));
      ones += a.faces.size() == 1;
    }
  }
  const double cpu_per_frame = (CpuMs() - cpu_start) / static_cast<double>(times.size());
  std::sort(times.begin(), times.end());
  double sum = 0;
  for (double t : times) sum += t;
  std::printf(
      "mirestal AnalyseFrame 640x480 (dlib HOG, faces >= %d px): processor %.2f ms a frame; "
      "wall mean %.2f ms, median %.2f, max %.2f; one face in %d of %zu frames\n",
      min_face, cpu_per_frame, sum / times.size(), times[times.size() / 2], times.back(),
      ones / kRounds, frames.size());
  times.clear();
  const double cpu_full = CpuMs();
  for (const Bitmap& f : frames) {
    const auto start = Clock::now();
    detector.Detect(f);
    times.push_back(Ms(Clock::now() - start));
  }
  sum = 0;
  for (double t : times) sum += t;
  std::printf(
      "mirestal Detect 640x480 at full scale (faces >= 80 px): processor %.2f ms a frame; "
      "wall mean %.2f ms\n",
      (CpuMs() - cpu_full) / static_cast<double>(times.size()), sum / times.size());

  std::string args;
  for (const std::string& f : files) args += " '" + f + "'";
  std::string out;
  const std::string script = std::string(MIRESTAL_SOURCE_DIR) + "/bench/bench_face_opencv.py";
  if (std::filesystem::exists(kCascade) &&
      testing::RunCommand("taskset -c 0 /usr/bin/python3 '" + script + "' " + kCascade + " 3 " +
                              std::to_string(min_face) + args + " 2>&1",
                          &out) == 0) {
    std::printf(
        "python3-opencv detectMultiScale (haarcascade_frontalface_default, one thread):\n%s",
        out.c_str());
  } else {
    std::printf("python3-opencv: not available (%s)\n", out.c_str());
  }

  // A 12-megapixel JPEG: the astronaut enlarged to 3000x3000 in a 4000x3000 grey picture.
  if (!have_astronaut || argc < 2) {
    std::printf("frame on 12 MP: skipped (needs astronaut.png and the mirestal-cli path)\n");
    return 0;
  }
  const Bitmap big_square = ResizeBitmap(ReadPicture(testing::ReadFile(kAstronaut)), 3000, 3000);
  Bitmap big(4000, 3000);
  std::fill(big.pixels.begin(), big.pixels.end(), 128);
  for (int y = 0; y < 3000; ++y) std::copy_n(big_square.Row(y), 3000 * 3, big.At(500, y));
  const std::string big_jpeg = dir.File("12mp.jpg");
  testing::WriteFile(big_jpeg, EncodeJpeg(big, 92));
  std::printf("12 MP JPEG: %.1f MB\n", std::filesystem::file_size(big_jpeg) / 1e6);
  {
    const std::string bytes = testing::ReadFile(big_jpeg);
    const auto start = Clock::now();
    const double cpu = CpuMs();
    FaceDetector d;
    const StillFrame framed = FrameStillPicture(d, bytes, false);
    std::printf("FrameStillPicture in process: processor %.1f ms, wall %.1f ms (crop %dx%d)\n",
                CpuMs() - cpu, Ms(Clock::now() - start), framed.framing.crop.w,
                framed.framing.crop.h);
  }
  std::vector<double> runs;
#ifdef __linux__
  // Processor time of the child processes (the command and its shell).
  const auto children_ms = [] {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
  };
  const double children_start = children_ms();
#endif
  for (int i = 0; i < 7; ++i) {
    const auto start = Clock::now();
    const int status = testing::RunCommand(
        std::string("'") + argv[1] + "' frame '" + big_jpeg + "' '" + dir.File("out.jpg") + "'",
        &out);
    runs.push_back(Ms(Clock::now() - start));
    if (status != 0) {
      std::printf("mirestal-cli frame failed: %s\n", out.c_str());
      return 1;
    }
  }
  std::sort(runs.begin(), runs.end());
  std::printf("mirestal-cli frame 4000x3000 JPEG: wall median %.1f ms (min %.1f, max %.1f)\n",
              runs[runs.size() / 2], runs.front(), runs.back());
#ifdef __linux__
  std::printf("mirestal-cli frame 4000x3000 JPEG: processor %.1f ms a run\n",
              (children_ms() - children_start) / static_cast<double>(runs.size()));
#endif
  return 0;
}
