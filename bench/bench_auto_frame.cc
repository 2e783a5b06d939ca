// "自动取景" in the main window, offscreen, with the test card's portrait as the camera: from the
// press to the frame shown (sliders set, red frame moved, the capture panel painted again).
// Two cases: the latest analysis from the worker is fresh (the usual case while the preview
// runs), and none is, so the press analyses the current frame on the spot (the worst case).
//
// Usage: bench_auto_frame [PRESSES]
#include <QApplication>
#include <QPushButton>
#include <QSlider>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "tests/testutil/testutil.h"
#include "ui_main_window.h"

using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// CPU time of this thread in milliseconds: the machine is shared, so wall time is noisy.
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Figures {
  std::vector<double> wall, cpu;
  void Print(const char* what) {
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("%s: median %.2f ms wall / %.2f ms CPU, max %.2f ms wall / %.2f ms CPU\n", what,
                wall[wall.size() / 2], cpu[cpu.size() / 2], wall.back(), cpu.back());
  }
};

}  // namespace

int main(int argc, char** argv) {
  const int presses = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("MIRESTAL_CAMERA", "testcard");
  QApplication app(argc, argv);

  mirestal::testing::TempDir dir;
  mirestal::ScriptedDialogs dialogs;
  // The framing's clock: stepping it past the freshness of the last analysis makes the press
  // analyse the frame itself.
  Clock::time_point now = Clock::now();
  mirestal::TFormMain::Options options;
  options.program_dir = dir.path() + "/";
  options.dialogs = &dialogs;
  options.screen_width = [] { return 1280; };
  options.clock = [&now] { return now; };
  mirestal::TFormMain window(std::move(options));
  window.show();
  auto& ui = *window.ui();
  ui.UiPageControlDetail->setCurrentWidget(ui.TabSheetPhoto);  // the preview on screen
  // Wait for the worker's first analysis.
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  while (ui.UiLabelAdvice->text().isEmpty() && Clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }

  auto press = [&](Figures& f) {
    ui.TrackBarHor->setValue(0);
    ui.TrackBarVer->setValue(0);
    QCoreApplication::processEvents();
    const auto start = Clock::now();
    const double cpu = ThreadCpuMs();
    ui.UiBitBtnAutoFrame->click();
    ui.UiPanel1->repaint();  // the preview's panel with the red frame, painted now
    f.wall.push_back(Ms(start));
    f.cpu.push_back(ThreadCpuMs() - cpu);
  };
  Figures fresh, on_the_spot;
  for (int i = 0; i < presses; ++i) press(fresh);
  for (int i = 0; i < presses; ++i) {
    now += std::chrono::seconds(1);
    press(on_the_spot);
  }
  std::printf("\"自动取景\" press to frame shown, 640x480 test card, %d presses each\n", presses);
  fresh.Print("latest analysis fresh");
  on_the_spot.Print("frame analysed on the spot");
  std::printf("sliders after the last press: %d, %d; advice: %s\n", ui.TrackBarHor->value(),
              ui.TrackBarVer->value(), qPrintable(ui.UiLabelAdvice->text()));
  return dialogs.unexpected().isEmpty() && ui.TrackBarHor->value() != 0 ? 0 : 1;
}
