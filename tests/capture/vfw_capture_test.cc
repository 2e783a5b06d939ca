// The Windows capture back end on a machine without a camera (wine in CI): no driver is found,
// and the capture module and the capture button behave as they do without a driver.
#include <windows.h>

#include <gtest/gtest.h>

#include "capture/pipeline.h"
#include "capture/video_cap.h"
#include "capture/win32/vfw_capture.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

class VfwCaptureTest : public ::testing::Test {
 protected:
  VfwCaptureTest() {
    CaptureResetForTests();
    CaptureSetMessageHandler([this](const std::string& text) { messages_.push_back(text); });
    // The host panel: a hidden window of the panel's size.
    host_ = ::CreateWindowExA(0, "STATIC", "VideoPanel", WS_POPUP, 0, 0, 320, 240, nullptr,
                              nullptr, ::GetModuleHandleA(nullptr), nullptr);
  }
  ~VfwCaptureTest() override {
    CaptureResetForTests();
    if (host_) ::DestroyWindow(host_);
  }

  HWND host_ = nullptr;
  std::vector<std::string> messages_;
};

TEST_F(VfwCaptureTest, WithoutACameraThereIsNoDriverAndNoFrame) {
  auto backend = MakeVfwCaptureBackend();
  for (int i = 0; i <= 10; ++i) {
    if (backend->GetDriverDescription(i)) GTEST_SKIP() << "this machine has capture driver " << i;
  }
  ASSERT_NE(host_, nullptr);
  RegisterVfwCaptureBackend();
  CaptureSetHost(CaptureHost{host_, 320, 240});
  const bool started = CaptureStart();
  EXPECT_EQ(started, CaptureHasWindow());
  EXPECT_EQ(CaptureDriverName(), "No Driver");
  if (started) CapturePreviewOn();

  testing::TempDir dir;
  PhotoStore store(dir.path() + "/");
  PhotoCapture capture(store);
  CatchPhotoRequest request;
  request.roster_open = true;
  request.has_key = true;
  request.key = "20110001";
  request.save_at_once = true;
  CatchPhotoResult result = capture.CatchPhoto(request, nullptr);
  EXPECT_EQ(result.message_kind, PhotoMessageKind::kError);
  EXPECT_EQ(result.message, kMsgFileNotFound);
  EXPECT_FALSE(PathExists(capture.FrameFilePath()));
  EXPECT_FALSE(PhotoStore::PhotoExists(*store.PhotoFileName("20110001")));
}

}  // namespace
}  // namespace mirestal
