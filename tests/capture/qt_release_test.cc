// The application's end: the capture module is released while its Qt back end is alive, then the
// QApplication ends, then the process exits with the module's static state still in place.
#include <gtest/gtest.h>

#include <QApplication>
#include <QWidget>
#include <cstdlib>

#include "capture/qt/qt_capture.h"
#include "capture/video_cap.h"

namespace mirestal {
namespace {

// The whole life of an application in a child process: its exit status is the verdict, since a
// camera object outliving the QApplication fails only when the process ends.
void RunApplication(const char* camera) {
  setenv("MIRESTAL_CAMERA", camera, 1);
  int argc = 1;
  char name[] = "capture_qt_release_test";
  char* argv[] = {name, nullptr};
  auto* app = new QApplication(argc, argv);
  auto* host = new QWidget;
  host->resize(320, 240);
  host->show();
  RegisterQtCaptureBackend();
  CaptureSetHost(CaptureHost{host, 320, 240});
  CaptureSetChooser([](const CaptureChoice&) { return std::optional<int>(0); });
  if (!CaptureStart()) std::exit(3);
  CapturePreviewOn();
  QApplication::processEvents();
  CaptureRelease();
  if (CaptureHasWindow() || host->findChild<PreviewWidget*>() != nullptr) std::exit(4);
  // Released means forgotten: a new start has no back end and makes no window.
  if (CaptureStart()) std::exit(5);
  delete host;
  delete app;
  std::exit(0);
}

TEST(CaptureReleaseTest, QtCameraReleasedBeforeTheApplicationEnds) {
  EXPECT_EXIT(RunApplication(""), ::testing::ExitedWithCode(0), "");
}

TEST(CaptureReleaseTest, TestCardReleasedBeforeTheApplicationEnds) {
  EXPECT_EXIT(RunApplication("testcard"), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace mirestal
