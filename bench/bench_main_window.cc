// The main window over a 100,000-student roster, offscreen: opening it (dialog answered, grid
// laid out and painted, student panel refreshed) and one press of "后" with the grid, the
// position label and the photo panel painted again; and the memory the window holds for the
// open roster beside the file's size.
//
// Usage: bench_main_window [STUDENTS] [PRESSES]
#include <QApplication>
#include <QPushButton>
#include <QTableView>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "app/roster_model.h"
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
  void Add(double w, double c) {
    wall.push_back(w);
    cpu.push_back(c);
  }
  void Print(const char* what) {
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("%s: median %.3f ms wall / %.3f ms CPU, p99 %.3f ms wall / %.3f ms CPU\n", what,
                wall[wall.size() / 2], cpu[cpu.size() / 2], wall[wall.size() * 99 / 100],
                cpu[cpu.size() * 99 / 100]);
  }
};

// Resident memory of the process in bytes.
long long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

void PaintNow(mirestal::TFormMain& window) {
  window.ui()->DBGridList->viewport()->repaint();
  window.ui()->DBStatusLabel1->repaint();
  window.ui()->UiPanelStudentInfo->repaint();
  window.ui()->ImageCatchedPhoto->repaint();
}

}  // namespace

int main(int argc, char** argv) {
  const int students = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int presses = argc > 2 ? std::atoi(argv[2]) : 1000;
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  mirestal::testing::TempDir dir;
  const std::string path = dir.File("roster.dbf");
  const std::string bytes = mirestal::testing::MakeBenchRoster(students, 50);
  mirestal::testing::WriteFile(path, bytes);

  mirestal::ScriptedDialogs dialogs;
  mirestal::TFormMain::Options options;
  options.program_dir = dir.path() + "/";
  options.dialogs = &dialogs;
  options.screen_width = [] { return 1280; };
  mirestal::TFormMain window(std::move(options));
  window.show();
  QCoreApplication::processEvents();
  PaintNow(window);

  const long long before = ResidentBytes();
  dialogs.QueueFile(QString::fromStdString(path));
  auto start = Clock::now();
  window.ui()->UiBitBtnOpen->click();
  QCoreApplication::processEvents();
  PaintNow(window);
  const double open_ms = Ms(start);
  const long long held = ResidentBytes() - before;

  // As the operator sees it: the press, then the event loop paints what changed (two rows, the
  // indicator, the label, the panel; the grid scrolls by a row at its bottom edge).
  Figures press;
  for (int i = 0; i < presses; ++i) {
    start = Clock::now();
    const double cpu = ThreadCpuMs();
    window.ui()->dbNavBtnNext->click();
    QCoreApplication::processEvents();
    press.Add(Ms(start), ThreadCpuMs() - cpu);
  }
  // The worst case: the whole grid, label and panel painted again after each press.
  Figures full;
  for (int i = 0; i < presses; ++i) {
    start = Clock::now();
    const double cpu = ThreadCpuMs();
    window.ui()->dbNavBtnNext->click();
    PaintNow(window);
    full.Add(Ms(start), ThreadCpuMs() - cpu);
  }
  const int rows = window.model()->rowCount();
  std::printf("roster: %d students (%d rows shown), file %.1f MB\n", students, rows,
              static_cast<double>(bytes.size()) / 1e6);
  std::printf("open (dialog answered, grid and panel painted): %.1f ms\n", open_ms);
  press.Print("one \"后\" press, painted by the event loop");
  full.Print("one \"后\" press, whole grid/label/panel repainted");
  std::printf("memory held after open: %.2f MB resident (row index %.2f MB) beside a %.1f MB file\n",
              static_cast<double>(held) / 1e6,
              static_cast<double>(window.model()->RowIndexBytes()) / 1e6,
              static_cast<double>(bytes.size()) / 1e6);
  std::printf("label after the presses: %s\n", qPrintable(window.ui()->DBStatusLabel1->text()));
  return dialogs.unexpected().isEmpty() ? 0 : 1;
}
