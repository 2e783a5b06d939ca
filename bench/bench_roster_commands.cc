// The roster commands over large rosters: the missing-photo count over 100,000 students with
// photos for every second one (existence only, and with the photo check, first and cached), the find (contains) walk that finds nothing over 100,000, and the
// export command of 65,535 students with photos for half of them, end to end through the main
// window offscreen (save dialog answered, the photo panel refreshed for every record), beside the
// bare exporter of the same roster (what `mirestal-cli export` runs).
//
// Usage: bench_roster_commands [RUNS]
#include <QApplication>
#include <QPushButton>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/main_window.h"
#include "core/roster_commands.h"
#include "platform/file.h"
#include "tests/testutil/testutil.h"
#include "ui_main_window.h"
#include "xls/xls_export.h"

using Clock = std::chrono::steady_clock;
using namespace mirestal;

namespace {

double Ms(Clock::time_point since) {
  return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Writes `students` students and a photo file for every second one; answers the roster path.
std::string Prepare(const testing::TempDir& dir, const std::string& name, int students) {
  const std::string path = dir.File(name);
  testing::WriteFile(path, testing::MakeBenchRoster(students));
  ForceDirectories(dir.path() + "/照片/");
  const std::string jpeg = "\xFF\xD8\xFF\xD9";
  for (int i = 0; i < students; i += 2) {
    char key[32];
    std::snprintf(key, sizeof key, "1101012026%07d", i);
    testing::WriteFile(dir.path() + "/照片/" + key + ".jpg", jpeg);
  }
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  testing::TempDir dir;

  {
    const std::string roster = Prepare(dir, "count.dbf", 100000);
    RosterSession session(dir.path() + "/");
    session.Open(roster);
    std::vector<double> count, find, coverage_warm;
    int missing = 0;
    // The count button's walk with the photo check: the first one checks every photo file, later
    // ones find the verdicts in the cache (one stat per photo).
    auto t = Clock::now();
    PhotoCoverage coverage = CountPhotoCoverage(session);
    const double coverage_cold = Ms(t);
    for (int r = 0; r < runs; ++r) {
      t = Clock::now();
      coverage = CountPhotoCoverage(session);
      coverage_warm.push_back(Ms(t));
      t = Clock::now();
      missing = CountMissingPhotos(session);
      count.push_back(Ms(t));
      FindRequest request{session.dataset().FieldByName("\xD0\xD5\xC3\xFB").Index(), "\xD5\xC5", FindMatch::kContains, FindDirection::kFromFirst};
      t = Clock::now();
      if (FindRecord(session, request)) return 1;
      find.push_back(Ms(t));
    }
    std::printf("missing-photo count, 100000 students, 50000 photos: median %.1f ms (%d missing)\n",
                Median(count), missing);
    std::printf("find (contains, no match), 100000 students: median %.1f ms\n", Median(find));
    std::printf("count with the photo check (50000 photos, all invalid): first %.0f ms, cached median %.0f ms (%d missing, %d invalid)\n",
                coverage_cold, Median(coverage_warm), coverage.missing, coverage.invalid);
  }

  {
    const std::string roster = Prepare(dir, "export.dbf", 65535);
    ScriptedDialogs dialogs;
    TFormMain::Options options;
    options.program_dir = dir.path() + "/";
    options.dialogs = &dialogs;
    options.screen_width = [] { return 1280; };
    TFormMain window(std::move(options));
    window.show();
    dialogs.QueueFile(QString::fromStdString(roster));
    window.ui()->UiBitBtnOpen->click();
    std::vector<double> command, bare;
    for (int r = 0; r < runs; ++r) {
      const std::string target = dir.File("window" + std::to_string(r) + ".xls");
      dialogs.QueueFile(QString::fromStdString(target));
      auto t = Clock::now();
      window.ui()->dbNavBtnExportXls->click();
      command.push_back(Ms(t));
      if (!dialogs.Texts().last().startsWith(QStringLiteral("导出完毕"))) return 1;

      TTableDataSet dataset;
      dataset.TableName = roster + ".copy.dbf";
      testing::WriteFile(dataset.TableName, testing::ReadFile(roster));
      dataset.Exclusive = true;
      dataset.ExactCount = true;
      dataset.Open();
      TXlsExport exporter;
      exporter.DataSet = &dataset;
      exporter.FileName = dir.File("bare" + std::to_string(r) + ".xls");
      t = Clock::now();
      exporter.Execute();
      bare.push_back(Ms(t));
    }
    std::printf("export command, 65535 students, photos for half: median %.0f ms; bare exporter: median %.0f ms\n",
                Median(command), Median(bare));
  }
  return 0;
}
