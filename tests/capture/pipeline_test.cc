#include "capture/pipeline.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "capture/crop.h"
#include "capture/fake_camera.h"
#include "capture/jpeg.h"
#include "capture/testcard.h"
#include "capture/video_cap.h"
#include "platform/fault_file.h"
#include "platform/gbk.h"
#include "platform/paths.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

class PipelineTest : public ::testing::Test {
 protected:
  PipelineTest() {
    CaptureResetForTests();
    CaptureUseBackend(&fake_);
    fake_.drivers[0] = FakeDriver{"Cam"};
    fake_.frame = RenderTestCard(640, 480, 5);
    CaptureSetHost(CaptureHost{nullptr, 320, 240});
    EXPECT_TRUE(CaptureStart());
    CapturePreviewOn();
    fake_.log.clear();
  }
  ~PipelineTest() override { CaptureResetForTests(); }

  CatchPhotoRequest Request(const std::string& key = "20110001") {
    CatchPhotoRequest r;
    r.roster_open = true;
    r.has_key = true;
    r.key = key;
    r.hor = 84;
    r.ver = 19;
    return r;
  }
  std::string FramePath() const { return frames_.path() + "/tmp.bmp"; }
  bool CameraTouched() const { return !fake_.log.empty(); }

  testing::TempDir program_;
  testing::TempDir frames_;
  FakeCaptureBackend fake_;
  PhotoStore store_{program_.path() + "/"};
  PhotoCapture capture_{store_, frames_.path()};
};

TEST_F(PipelineTest, RefusalsBeforeTheCameraIsTouched) {
  CatchPhotoRequest r = Request();
  r.roster_open = false;
  CatchPhotoResult result = capture_.CatchPhoto(r, nullptr);
  EXPECT_EQ(result.message_kind, PhotoMessageKind::kInformation);
  EXPECT_EQ(result.message, "没有对应的学生\r\r请先选择数据文件");

  r = Request();
  r.has_key = false;
  result = capture_.CatchPhoto(r, nullptr);
  EXPECT_EQ(result.message, "没有\"考籍号\"字段，无法拍照！");
  EXPECT_EQ(result.message_kind, PhotoMessageKind::kInformation);

  for (const std::string key : {"", "   ", "..", "12/34", "..\\x", "a:b",
                                "a\x01"
                                "b"}) {
    result = capture_.CatchPhoto(Request(key), [](const Bitmap&) { return true; });
    EXPECT_EQ(result.message_kind, PhotoMessageKind::kInformation) << key;
    EXPECT_EQ(result.message, RefusedKeyMessage(key)) << key;
    EXPECT_FALSE(result.repaint_grid);
  }
  EXPECT_EQ(RefusedKeyMessage(" 12/34 "), "考籍号\"12/34\"不能作为照片文件名，无法拍照！");
  EXPECT_FALSE(CameraTouched());
  EXPECT_FALSE(std::filesystem::exists(FsPath(store_.PhotoFolder())));
}

TEST_F(PipelineTest, SaveAtOnceStoresTheBoxAtTheCamerasResolution) {
  CatchPhotoRequest r = Request("  20110001 ");
  r.save_at_once = true;
  CatchPhotoResult result = capture_.CatchPhoto(r, [](const Bitmap&) -> bool {
    ADD_FAILURE() << "asked although save-at-once";
    return false;
  });
  EXPECT_EQ(result.message_kind, PhotoMessageKind::kNone) << result.message;
  EXPECT_TRUE(result.repaint_grid);
  ASSERT_TRUE(result.crop);
  const Bitmap expected = CopyRect(*fake_.frame, 168, 38, 300, 400);
  EXPECT_EQ(result.crop->pixels, expected.pixels);
  const std::string path = store_.PhotoFolder() + "20110001.jpg";
  ASSERT_EQ(result.saved_path, path);
  EXPECT_EQ(testing::ReadFile(path), EncodeJpeg(expected));
  EXPECT_FALSE(PathExists(FramePath()));
  EXPECT_EQ(fake_.log,
            (std::vector<std::string>{"GrabFrame", "SaveDib(" + FramePath() + ")", "SetOverlay(0)",
                                      "SetScale(1)", "SetPreviewRate(40)", "SetPreview(1)"}));

  // Pressed again: the photo is replaced without a question.
  fake_.frame = RenderTestCard(640, 480, 40);
  result = capture_.CatchPhoto(r, nullptr);
  EXPECT_EQ(testing::ReadFile(path), EncodeJpeg(CopyRect(*fake_.frame, 168, 38, 300, 400)));
}

TEST_F(PipelineTest, ConfirmationSeesTheCropAndNoKeepsTheOldPhoto) {
  const std::string path = *store_.PhotoFileName("77");
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  testing::WriteFile(path, "old photo");
  CatchPhotoRequest r = Request("77");
  r.hor = 0;
  r.ver = 38;
  int asked = 0;
  CatchPhotoResult result = capture_.CatchPhoto(r, [&](const Bitmap& crop) {
    ++asked;
    EXPECT_EQ(crop.pixels, CopyRect(*fake_.frame, 0, 76, 300, 400).pixels);
    return false;
  });
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(result.show_stored_photo);
  EXPECT_FALSE(result.crop);
  EXPECT_FALSE(result.repaint_grid);
  EXPECT_EQ(result.message_kind, PhotoMessageKind::kNone);
  EXPECT_EQ(testing::ReadFile(path), "old photo");
  EXPECT_FALSE(PathExists(FramePath()));

  result = capture_.CatchPhoto(r, [](const Bitmap&) { return true; });
  EXPECT_TRUE(result.repaint_grid);
  EXPECT_EQ(ReadJpegHeader(testing::ReadFile(path)).width, 300);
}

TEST_F(PipelineTest, StaleReadOnlyFrameIsRemovedBeforeTheGrab) {
  testing::WriteFile(FramePath(), WriteBmp(RenderTestCard(320, 240, 0)));  // an old frame
  SetReadOnly(FramePath(), true);
  CatchPhotoRequest r = Request();
  r.save_at_once = true;
  fake_.frame.reset();  // this grab writes nothing
  CatchPhotoResult result = capture_.CatchPhoto(r, nullptr);
  EXPECT_EQ(result.message_kind, PhotoMessageKind::kError);
  EXPECT_EQ(result.message, "File not found");
  EXPECT_FALSE(PhotoStore::PhotoExists(*store_.PhotoFileName("20110001")));
  // The preview runs again even though no frame came.
  EXPECT_TRUE(fake_.preview);
}

TEST_F(PipelineTest, FrameFileThatCannotBeRemovedEndsTheCaptureBeforeTheGrab) {
  ASSERT_TRUE(ForceDirectories(FramePath() + "/x"));  // a non-empty folder under that name
  CatchPhotoRequest r = Request();
  r.save_at_once = true;
  CatchPhotoResult result = capture_.CatchPhoto(r, nullptr);
  EXPECT_EQ(result.message_kind, PhotoMessageKind::kError);
  EXPECT_NE(result.message.find(DisplayPath(FramePath())), std::string::npos) << result.message;
  EXPECT_FALSE(CameraTouched());
  EXPECT_FALSE(PhotoStore::PhotoExists(*store_.PhotoFileName("20110001")));
}

TEST_F(PipelineTest, DamagedFramesEndWithAMessageAndTheFrameFileRemoved) {
  struct Case {
    std::string bytes;
    PhotoMessageKind kind;
    std::string message;
  };
  std::string bmp1024 = WriteBmp(Bitmap(1024, 8));
  const std::vector<Case> cases = {
      {std::string(99, 'B'), PhotoMessageKind::kError, "不足100字节"},
      {"", PhotoMessageKind::kError, "不足100字节"},
      {std::string(100, 'B'), PhotoMessageKind::kError, "Bitmap image is not valid"},
      {bmp1024, PhotoMessageKind::kInformation,
       "请选择合适的分辨率:\r\r320x240 或 640x480 或 800x600"},
      {WriteBmp(Bitmap(352, 288)), PhotoMessageKind::kInformation, "请选择合适的分辨率"},
  };
  for (const Case& c : cases) {
    fake_.saved_bytes = c.bytes;
    CatchPhotoRequest r = Request();
    r.save_at_once = true;
    CatchPhotoResult result = capture_.CatchPhoto(r, nullptr);
    EXPECT_EQ(result.message_kind, c.kind) << c.message;
    EXPECT_NE(result.message.find(c.message), std::string::npos) << result.message;
    EXPECT_FALSE(result.crop);
    EXPECT_FALSE(result.repaint_grid);
    EXPECT_FALSE(PathExists(FramePath())) << c.message;
  }
  EXPECT_FALSE(std::filesystem::exists(FsPath(store_.PhotoFolder())));
}

TEST_F(PipelineTest, EveryAcceptedWidthGivesItsPhotoSize) {
  for (auto [w, h, pw, ph] : {std::tuple{320, 240, 150, 200}, std::tuple{800, 600, 375, 500},
                              std::tuple{640, 360, 300, 300}}) {
    fake_.frame = RenderTestCard(w, h, 1);
    CatchPhotoRequest r = Request("k" + std::to_string(w));
    r.hor = 3;
    r.ver = 19;
    r.save_at_once = true;
    CatchPhotoResult result = capture_.CatchPhoto(r, nullptr);
    ASSERT_TRUE(result.saved_path) << result.message;
    JpegHeader header = ReadJpegHeader(testing::ReadFile(*result.saved_path));
    EXPECT_EQ(header.width, pw);
    EXPECT_EQ(header.height, ph);
    const CropRect rect = ComputeCropRect(w, h, 3, 19);
    EXPECT_EQ(result.crop->pixels, CopyRect(*fake_.frame, rect.x, rect.y, pw, ph).pixels);
  }
}

TEST_F(PipelineTest, PhotoFolderThatCannotBeCreated) {
  testing::WriteFile(program_.File("blocker"), "x");
  PhotoStore store(program_.File("blocker") + "/");
  PhotoCapture capture(store, frames_.path());
  CatchPhotoRequest r = Request();
  r.save_at_once = true;
  CatchPhotoResult result = capture.CatchPhoto(r, nullptr);
  EXPECT_EQ(result.message_kind, PhotoMessageKind::kInformation);
  // The folder as the operator sees paths (with '\' on Windows).
  EXPECT_EQ(result.message, "无法创建图片文件夹:\r" + DisplayPath(program_.File("blocker") + "/照片/") +
                                "照片文件保存失败！\r\r请检查注册号是否错误或其他问题");
  EXPECT_TRUE(result.show_stored_photo);
  EXPECT_FALSE(result.crop);
  EXPECT_FALSE(result.repaint_grid);
}

TEST_F(PipelineTest, FailedWriteKeepsTheOldPhotoAndTheCapture) {
  FaultFileSystem fs;
  PhotoStore store(program_.path(), fs);
  PhotoCapture capture(store, frames_.path());
  const std::string path = *store.PhotoFileName("55");
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  testing::WriteFile(path, "old photo");
  SetReadOnly(path, true);
  fs.FailWriteAt(1);
  CatchPhotoRequest r = Request("55");
  r.save_at_once = true;
  CatchPhotoResult result = capture.CatchPhoto(r, nullptr);
  EXPECT_EQ(result.message_kind, PhotoMessageKind::kError);
  EXPECT_EQ(result.message.rfind("Cannot create file \"" + DisplayPath(path) + "\". ", 0), 0u) << result.message;
  EXPECT_TRUE(result.crop);  // the photo box keeps the capture
  EXPECT_FALSE(result.repaint_grid);
  EXPECT_EQ(testing::ReadFile(path), "old photo");
  EXPECT_TRUE(IsReadOnly(path));

  // The same read-only photo is replaced once writing works.
  fs.Reset();
  result = capture.CatchPhoto(r, nullptr);
  EXPECT_TRUE(result.repaint_grid) << result.message;
  EXPECT_EQ(ReadJpegHeader(testing::ReadFile(path)).height, 400);
}

TEST_F(PipelineTest, OversizePhotoIsStoredAtTheFirstQualityThatFits) {
  Bitmap noise(300, 400);
  uint32_t seed = 1;
  for (uint8_t& b : noise.pixels) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 24);
  const auto size_at = [&](int q) { return EncodeJpeg(noise, q).size(); };
  struct {
    uint64_t limit;
    int quality;
    bool over;
  } cases[] = {{size_at(80), 80, false}, {size_at(80) - 1, 75, false},
               {size_at(65), 65, false}, {1000, kMinPhotoQuality, true}};
  for (const auto& c : cases) {
    capture_.SetMaxPhotoBytes(c.limit);
    CatchPhotoResult r = capture_.SaveCatchedPhoto("q", noise);
    ASSERT_TRUE(r.saved_path) << r.message;
    EXPECT_EQ(r.saved_quality, c.quality);
    const std::string bytes = testing::ReadFile(*r.saved_path);
    EXPECT_EQ(bytes, EncodeJpeg(noise, c.quality));
    EXPECT_EQ(bytes.size() > c.limit, c.over);
    EXPECT_EQ(r.status_text.empty(), c.quality == kPhotoJpegQuality) << r.status_text;
    EXPECT_EQ(r.status_text.find("质量 " + std::to_string(c.quality)) != std::string::npos,
              c.quality != kPhotoJpegQuality)
        << r.status_text;
  }
}

// A file system whose renames report success without doing anything.
class LyingRenameFileSystem : public FaultFileSystem {
 public:
  void Rename(const std::string&, const std::string&) override {}
};

TEST_F(PipelineTest, PhotoThatDoesNotReadBackIsNotReportedSaved) {
  LyingRenameFileSystem fs;
  PhotoStore store(program_.path(), fs);
  PhotoCapture capture(store, frames_.path());
  const std::string path = *store.PhotoFileName("55");
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(path));
  testing::WriteFile(path, "old photo");
  CatchPhotoResult r = capture.SaveCatchedPhoto("55", RenderTestCard(300, 400, 1));
  EXPECT_FALSE(r.saved_path);
  EXPECT_EQ(r.message_kind, PhotoMessageKind::kError);
  EXPECT_EQ(r.message.rfind("照片保存后读回检查失败：" + DisplayPath(path), 0), 0u) << r.message;
}

TEST_F(PipelineTest, GbkKeyNamesAUtf8File) {
  const std::string key = *Utf8ToGbk("考2011一");
  CatchPhotoRequest r = Request(key);
  r.save_at_once = true;
  CatchPhotoResult result = capture_.CatchPhoto(r, nullptr);
  EXPECT_EQ(result.saved_path, store_.PhotoFolder() + "考2011一.jpg");
  EXPECT_TRUE(PhotoStore::PhotoExists(store_.PhotoFolder() + "考2011一.jpg"));
}

TEST(PipelineFrameFolderTest, DefaultFrameFileIsInAFolderOfTheProcessOwn) {
  PhotoStore store("/nonexistent/");
  std::string path;
  {
    PhotoCapture capture(store);
    path = capture.FrameFilePath();
    EXPECT_NE(path.find("/mirestal-" + std::to_string(::getpid()) + "/tmp.bmp"), std::string::npos)
        << path;
    EXPECT_TRUE(DirectoryExists(PhotoStore::FolderOf(path)));
#ifndef _WIN32  // Windows folders have access lists instead, inherited from the user's temp
    struct stat st;
    ASSERT_EQ(::stat(PhotoStore::FolderOf(path).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
#endif
  }
  // Gone with the last capture object that used it.
  EXPECT_FALSE(PathExists(PhotoStore::FolderOf(path)));
}

TEST(BackendSelectionTest, NothingRegisteredAndNoTestCardMeansNoWindow) {
  CaptureResetForTests();
  ASSERT_EQ(std::getenv("MIRESTAL_CAMERA"), nullptr);
  EXPECT_EQ(CaptureActiveBackend(), nullptr);
  CaptureSetHost(CaptureHost{nullptr, 320, 240});
  EXPECT_FALSE(CaptureStart());
  bool made = false;
  CaptureRegisterCameraBackend([&] {
    made = true;
    return std::make_unique<FakeCaptureBackend>();
  });
  EXPECT_TRUE(CaptureStart());
  EXPECT_TRUE(made);
  CaptureResetForTests();
}

}  // namespace
}  // namespace mirestal
