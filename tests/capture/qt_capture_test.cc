#include "capture/qt/qt_capture.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCameraDevice>
#include <QMediaDevices>
#include <QTest>
#include <QVideoFrameFormat>
#include <QVideoSink>
#include <cstdlib>
#include <cstring>

#include "capture/pipeline.h"
#include "capture/testcard.h"
#include "capture/video_cap.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "capture_qt_test";
    static char* argv[] = {name, nullptr};
    app_ = new QApplication(argc, argv);
  }
  void TearDown() override { delete app_; }

 private:
  QApplication* app_ = nullptr;
};
const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Pixels that differ in every channel from their neighbours.
QImage KnownImage(int w, int h) {
  QImage image(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x * 3 % 256, y * 5 % 256, (x + y) % 256));
  }
  return image;
}

// A frame made from an image as a camera sink would receive it (Qt 6.4 has no QVideoFrame(QImage)).
QVideoFrame FrameFrom(const QImage& source, QVideoFrameFormat::PixelFormat format,
                      QImage::Format image_format) {
  const QImage image = source.convertToFormat(image_format);
  QVideoFrame frame(QVideoFrameFormat(image.size(), format));
  EXPECT_TRUE(frame.map(QVideoFrame::WriteOnly));
  for (int y = 0; y < image.height(); ++y) {
    std::memcpy(frame.bits(0) + y * frame.bytesPerLine(0), image.constScanLine(y),
                static_cast<size_t>(image.width()) * 4);
  }
  frame.unmap();
  return frame;
}

void ExpectSamePixels(const Bitmap& b, const QImage& image) {
  ASSERT_EQ(b.width, image.width());
  ASSERT_EQ(b.height, image.height());
  for (int y = 0; y < b.height; ++y) {
    for (int x = 0; x < b.width; ++x) {
      const QRgb p = image.pixel(x, y);
      ASSERT_EQ(b.At(x, y)[0], qRed(p)) << x << "," << y;
      ASSERT_EQ(b.At(x, y)[1], qGreen(p)) << x << "," << y;
      ASSERT_EQ(b.At(x, y)[2], qBlue(p)) << x << "," << y;
    }
  }
}

TEST(QtFrameConversionTest, RgbxAndBgraFramesConvertExactly) {
  const QImage known = KnownImage(64, 48);
  ExpectSamePixels(VideoFrameToBitmap(FrameFrom(known, QVideoFrameFormat::Format_RGBX8888,
                                                QImage::Format_RGBX8888)),
                   known);
  ExpectSamePixels(VideoFrameToBitmap(
                       FrameFrom(known, QVideoFrameFormat::Format_BGRA8888, QImage::Format_ARGB32)),
                   known);
}

TEST(QtFrameConversionTest, InvalidFrameAndNullImageGiveEmptyBitmaps) {
  EXPECT_TRUE(VideoFrameToBitmap(QVideoFrame()).empty());
  EXPECT_TRUE(ImageToBitmap(QImage()).empty());
}

TEST(QtFrameConversionTest, BitmapImageRoundTrip) {
  const Bitmap card = RenderTestCard(320, 240, 4);
  EXPECT_EQ(ImageToBitmap(BitmapToImage(card)).pixels, card.pixels);
}

TEST(QtFrameGrabberTest, KeepsTheLatestFullResolutionFrameFromTheSink) {
  QVideoSink sink;
  FrameGrabber grabber(&sink);
  EXPECT_FALSE(grabber.HasFrame());
  EXPECT_TRUE(grabber.Grab().empty());
  const QImage first = KnownImage(640, 480);
  const QImage second = KnownImage(800, 600).mirrored(true, false);
  sink.setVideoFrame(FrameFrom(first, QVideoFrameFormat::Format_RGBX8888, QImage::Format_RGBX8888));
  sink.setVideoFrame(
      FrameFrom(second, QVideoFrameFormat::Format_RGBX8888, QImage::Format_RGBX8888));
  ASSERT_TRUE(grabber.HasFrame());
  EXPECT_TRUE(grabber.HasFreshFrame(60'000));
  ExpectSamePixels(grabber.Grab(), second);
  // An invalid frame (end of stream) does not replace the picture; an old frame is not fresh.
  sink.setVideoFrame(QVideoFrame());
  ExpectSamePixels(grabber.Grab(), second);
  QTest::qWait(5);
  EXPECT_FALSE(grabber.HasFreshFrame(0));
  grabber.Clear();
  EXPECT_FALSE(grabber.HasFrame());
  EXPECT_TRUE(grabber.Grab().empty());
}

class QtBackendTest : public ::testing::Test {
 protected:
  QtBackendTest() {
    CaptureResetForTests();
    RegisterQtCaptureBackend();
    host_.resize(320, 240);
  }
  ~QtBackendTest() override {
    CaptureResetForTests();
    unsetenv("MIRESTAL_CAMERA");
  }
  QWidget host_;
};

TEST_F(QtBackendTest, WithoutACameraThereIsNoDriverAndNoColourBars) {
  if (!QMediaDevices::videoInputs().isEmpty()) GTEST_SKIP() << "a camera is attached";
  QtCameraBackend backend;
  EXPECT_FALSE(backend.GetDriverDescription(0));
  CaptureSetHost(CaptureHost{&host_, 320, 240});
  ASSERT_TRUE(CaptureStart());
  EXPECT_EQ(CaptureDriverName(), "No Driver");
  CapturePreviewOn();
  auto* preview = host_.findChild<PreviewWidget*>();
  ASSERT_NE(preview, nullptr);
  EXPECT_EQ(preview->geometry(), QRect(0, 0, 320, 240));
  // Let the multimedia back end run for a while: nothing may arrive.
  for (int i = 0; i < 20; ++i) QTest::qWait(10);
  EXPECT_EQ(preview->frames_shown(), 0);

  testing::TempDir program, frames;
  PhotoStore store(program.path());
  PhotoCapture capture(store, frames.path());
  CatchPhotoRequest r;
  r.roster_open = r.has_key = r.save_at_once = true;
  r.key = "1";
  CatchPhotoResult result = capture.CatchPhoto(r, nullptr);
  EXPECT_EQ(result.message, "File not found");
  EXPECT_FALSE(result.saved_path);
}

TEST_F(QtBackendTest, TestCardPreviewRunsInTheHostAndResumesAfterTheGrab) {
  setenv("MIRESTAL_CAMERA", "testcard", 1);
  CaptureSetHost(CaptureHost{&host_, 320, 240});
  ASSERT_TRUE(CaptureStart());
  EXPECT_EQ(CaptureDriverName(), TestCardBackend::kDriverName);
  CapturePreviewOn();
  auto* preview = host_.findChild<PreviewWidget*>();
  ASSERT_NE(preview, nullptr);
  QTRY_VERIFY(preview->frames_shown() >= 2);
  EXPECT_EQ(preview->image().size(), QSize(640, 480));

  testing::TempDir program, frames;
  PhotoStore store(program.path());
  PhotoCapture capture(store, frames.path());
  CatchPhotoRequest r;
  r.roster_open = r.has_key = true;
  r.key = "20110002";
  int shown_at_confirm = -1;
  CatchPhotoResult result = capture.CatchPhoto(r, [&](const Bitmap& crop) {
    EXPECT_EQ(crop.width, 300);
    shown_at_confirm = preview->frames_shown();
    return true;
  });
  ASSERT_TRUE(result.saved_path) << result.message;
  // The preview was resumed before the question: it keeps moving while the operator decides.
  const int after = preview->frames_shown();
  QTRY_VERIFY(preview->frames_shown() > after);
  EXPECT_GE(shown_at_confirm, 0);
  CaptureShutdown();
  EXPECT_EQ(host_.findChild<PreviewWidget*>(), nullptr);
}

// A scripted window presses the format button: the chooser answers and no dialog is shown (a
// modal one would hang this test).
TEST_F(QtBackendTest, FormatChoiceGoesToTheChooser) {
  setenv("MIRESTAL_CAMERA", "testcard", 1);
  std::optional<CaptureChoice> asked;
  CaptureSetChooser([&](const CaptureChoice& choice) -> std::optional<int> {
    asked = choice;
    EXPECT_TRUE(QApplication::topLevelWidgets().contains(&host_));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    return 2;
  });
  CaptureSetHost(CaptureHost{&host_, 320, 240});
  ASSERT_TRUE(CaptureStart());
  CapturePreviewOn();
  ASSERT_TRUE(CaptureHasFormatDialog());
  CaptureShowFormatDialog();
  ASSERT_TRUE(asked);
  EXPECT_EQ(asked->title, "视频格式");
  EXPECT_EQ(asked->parent.native, &host_);
  EXPECT_EQ(asked->items.size(), 3u);
  auto* preview = host_.findChild<PreviewWidget*>();
  ASSERT_NE(preview, nullptr);
  QTRY_COMPARE(preview->image().size(), QSize(800, 600));
}

}  // namespace
}  // namespace mirestal
