// End to end with the synthetic camera, selected by MIRESTAL_CAMERA=testcard (set by CTest).
#include "capture/testcard.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "capture/jpeg.h"
#include "platform/file.h"
#include "capture/pipeline.h"
#include "capture/video_cap.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value);
#else
  setenv(name, value, 1);
#endif
}

class TestCardTest : public ::testing::Test {
 protected:
  TestCardTest() { CaptureResetForTests(); }
  ~TestCardTest() override { CaptureResetForTests(); }
};

TEST_F(TestCardTest, RenderingIsDeterministicAndMoves) {
  EXPECT_EQ(RenderTestCard(640, 480, 7).pixels, RenderTestCard(640, 480, 7).pixels);
  EXPECT_NE(RenderTestCard(640, 480, 7).pixels, RenderTestCard(640, 480, 8).pixels);
  // Skin at the face centre, blue background in the top corners, at every size.
  for (const FrameSize& s : TestCardBackend::Sizes()) {
    Bitmap b = RenderTestCard(s.width, s.height, 0);
    const uint8_t* face = b.At(s.width / 2, s.height * 40 / 100);
    EXPECT_GT(face[0], 200);
    EXPECT_GT(face[0], face[2]);
    const uint8_t* corner = b.At(2, 2);
    EXPECT_GT(corner[2], corner[0]);
  }
}

TEST_F(TestCardTest, ThePortraitUnlessTheCartoonIsAskedFor) {
  ASSERT_STREQ(std::getenv("MIRESTAL_TESTCARD"), "cartoon");
  EXPECT_EQ(TestCardPictureFromEnvironment(), TestCardPicture::kCartoon);
  SetEnvironment("MIRESTAL_TESTCARD", "");
  EXPECT_EQ(TestCardPictureFromEnvironment(), TestCardPicture::kPortrait);
  SetEnvironment("MIRESTAL_TESTCARD", "cartoon");
  // The portrait: skin in the middle of the face (x 320, y 200 at 640x480).
  const Bitmap b = RenderTestCard(640, 480, 0, TestCardPicture::kPortrait);
  EXPECT_GT(b.At(320, 200)[0], b.At(320, 200)[2] + 30);
  EXPECT_NE(b.pixels, RenderTestCard(640, 480, 0).pixels);
}

TEST_F(TestCardTest, AFailedGrabSavesNoEarlierFrame) {
  TestCardBackend backend;
  EXPECT_FALSE(backend.GetDriverDescription(1));
  auto window = backend.CreateCaptureWindow("w", CaptureHost{}, 0, 0, 320, 240);
  ASSERT_FALSE(window->DriverConnect(1));
  ASSERT_TRUE(window->DriverConnect(0));
  testing::TempDir dir;
  ASSERT_TRUE(window->GrabFrame());
  ASSERT_TRUE(window->SaveDib(dir.File("a.bmp")));
  EXPECT_EQ(ReadBmp(testing::ReadFile(dir.File("a.bmp"))).width, 640);
  window->DriverDisconnect();
  EXPECT_FALSE(window->GrabFrame());
  EXPECT_FALSE(window->SaveDib(dir.File("b.bmp")));
  EXPECT_FALSE(PathExists(dir.File("b.bmp")));
}

TEST_F(TestCardTest, SelectedByTheEnvironmentAndStoresAPhotoEndToEnd) {
  ASSERT_STREQ(std::getenv("MIRESTAL_CAMERA"), "testcard");
  CaptureSetHost(CaptureHost{nullptr, 320, 240});
  ASSERT_TRUE(CaptureStart());
  EXPECT_EQ(CaptureDriverName(), "Mirestal test card");
  CaptureSetFrameLimit(45);
  CapturePreviewOn();
  EXPECT_FALSE(CaptureHasSourceDialog());
  EXPECT_TRUE(CaptureHasFormatDialog());

  testing::TempDir program;
  PhotoStore store(program.path());
  // The production frame folder: the process's own under the temporary folder.
  PhotoCapture capture(store);
  CatchPhotoRequest r;
  r.roster_open = r.has_key = true;
  r.key = "20110001";
  r.hor = 84;
  r.ver = 19;
  bool asked = false;
  CatchPhotoResult result = capture.CatchPhoto(r, [&](const Bitmap& crop) {
    asked = true;
    EXPECT_EQ(crop.width, 300);
    return true;
  });
  EXPECT_TRUE(asked);
  ASSERT_TRUE(result.saved_path) << result.message;
  EXPECT_FALSE(PathExists(capture.FrameFilePath()));
  EXPECT_TRUE(result.repaint_grid);
  const Bitmap photo = store.ReadPhoto(store.PhotoFolder() + "20110001.jpg");
  ASSERT_EQ(photo.width, 300);
  ASSERT_EQ(photo.height, 400);
  // The face fills the middle of the photo; the background shows at the top corners.
  const uint8_t* face = photo.At(150, 180);
  EXPECT_GT(face[0], 200);
  EXPECT_GT(face[0], face[2] + 40);
  EXPECT_GT(photo.At(5, 5)[2], photo.At(5, 5)[0] + 40);
}

TEST_F(TestCardTest, FormatChoiceChoosesTheFrameSize) {
  int asked = 0;
  CaptureSetChooser([&](const CaptureChoice& choice) -> std::optional<int> {
    ++asked;
    EXPECT_EQ(choice.items, (std::vector<std::string>{"320 x 240", "640 x 480", "800 x 600"}));
    EXPECT_EQ(choice.current, 1);
    return asked == 1 ? 7 : 2;  // an index outside the items changes nothing
  });
  CaptureSetHost(CaptureHost{nullptr, 320, 240});
  ASSERT_TRUE(CaptureStart());
  CapturePreviewOn();
  CaptureShowFormatDialog();
  CaptureShowFormatDialog();
  EXPECT_EQ(asked, 2);
  testing::TempDir program, frames;
  PhotoStore store(program.path());
  PhotoCapture capture(store, frames.path());
  CatchPhotoRequest r;
  r.roster_open = r.has_key = r.save_at_once = true;
  r.key = "800";
  CatchPhotoResult result = capture.CatchPhoto(r, nullptr);
  ASSERT_TRUE(result.saved_path) << result.message;
  JpegHeader h = ReadJpegHeader(testing::ReadFile(*result.saved_path));
  EXPECT_EQ(h.width, 375);
  EXPECT_EQ(h.height, 500);
}

}  // namespace
}  // namespace mirestal
