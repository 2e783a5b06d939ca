#include "capture/video_cap.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "capture/fake_camera.h"

namespace mirestal {
namespace {

class RecordingLabel : public CaptureStatusLabel {
 public:
  void SetCaption(const std::string& text) override { captions.push_back(text); }
  void Repaint() override { ++repaints; }
  std::vector<std::string> captions;
  int repaints = 0;
};

class VideoCapTest : public ::testing::Test {
 protected:
  VideoCapTest() {
    CaptureResetForTests();
    CaptureUseBackend(&fake_);
    CaptureSetMessageHandler([this](const std::string& text) { messages_.push_back(text); });
  }
  ~VideoCapTest() override { CaptureResetForTests(); }

  // The start-up sequence of the main window.
  bool StartLikeTheMainWindow() {
    CaptureSetHost(CaptureHost{nullptr, 320, 240});
    CaptureSetStatusLabel(&label_);
    CaptureSetNotify([this](void* sender) {
      EXPECT_EQ(sender, nullptr);
      ++notifications_;
    });
    return CaptureStart();
  }
  size_t Count(const std::string& entry) const {
    return static_cast<size_t>(std::count(fake_.log.begin(), fake_.log.end(), entry));
  }

  FakeCaptureBackend fake_;
  RecordingLabel label_;
  std::vector<std::string> messages_;
  int notifications_ = 0;
};

TEST_F(VideoCapTest, StartStateBeforeAnything) {
  EXPECT_EQ(CaptureDriverName(), "No Driver");
  EXPECT_EQ(CaptureFrameLimit(), 0u);
  EXPECT_EQ(CaptureFileName(), "Video.avi");
  EXPECT_EQ(CaptureImageFile(), "Image.bmp");
  EXPECT_FALSE(CaptureHasWindow());
  // Without a window: both dialogs are "available", the rest does nothing.
  EXPECT_TRUE(CaptureHasSourceDialog());
  EXPECT_TRUE(CaptureHasFormatDialog());
  EXPECT_FALSE(CaptureConnectDriver(0));
  CapturePreviewOn();
  CaptureGrabToFile();
  CaptureShowFormatDialog();
  CaptureShutdown();
  EXPECT_TRUE(fake_.log.empty());
}

TEST_F(VideoCapTest, StartWithoutHostAnswersNo) {
  EXPECT_FALSE(CaptureStart());
  EXPECT_TRUE(fake_.log.empty());
}

TEST_F(VideoCapTest, Drivers0And1AbsentDriver2Connected) {
  fake_.drivers[2] = FakeDriver{"USB Camera 2"};
  fake_.drivers[5] = FakeDriver{"Other"};
  ASSERT_TRUE(StartLikeTheMainWindow());
  EXPECT_EQ(fake_.connected_driver, 2);
  EXPECT_EQ(CaptureDriverName(), "USB Camera 2");
  const std::vector<std::string> expected = {"CreateCaptureWindow(0,0,320x240)",
                                             "SetStatusCallback(none)",
                                             "SetStatusCallback(proc)",
                                             "DriverConnect(0)",
                                             "DriverConnect(1)",
                                             "DriverConnect(2)",
                                             "GetSequenceSetup",
                                             "SetSequenceSetup",
                                             "SetCaptureFile(Video.avi)"};
  EXPECT_EQ(fake_.log, expected);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(VideoCapTest, SequenceSettingsSetTheEightFieldsAndKeepTheRest) {
  fake_.drivers[0] = FakeDriver{"Cam"};
  fake_.initial_parms.wPercentDropForError = 10;
  fake_.initial_parms.wNumVideoRequested = 32;
  fake_.initial_parms.fLimitEnabled = true;
  fake_.initial_parms.fCaptureAudio = true;
  fake_.initial_parms.fAbortLeftMouse = true;
  fake_.initial_parms.fAbortRightMouse = true;
  fake_.initial_parms.fMCIControl = true;
  fake_.initial_parms.wTimeLimit = 99;
  ASSERT_TRUE(StartLikeTheMainWindow());
  ASSERT_TRUE(fake_.applied_parms);
  CaptureParms expected = fake_.initial_parms;
  expected.dwRequestMicroSecPerFrame = 66667;
  expected.fLimitEnabled = false;
  expected.fCaptureAudio = false;
  expected.fMCIControl = false;
  expected.fYield = true;
  expected.vKeyAbort = 27;
  expected.fAbortLeftMouse = false;
  expected.fAbortRightMouse = false;
  EXPECT_EQ(*fake_.applied_parms, expected);
}

TEST_F(VideoCapTest, DriverRefusingTheSequenceSettingsIsGivenUp) {
  FakeDriver refusing{"Refusing"};
  refusing.refuse_sequence_setup = true;
  fake_.drivers[0] = refusing;
  fake_.drivers[1] = FakeDriver{"Good"};
  ASSERT_TRUE(StartLikeTheMainWindow());
  EXPECT_EQ(fake_.connected_driver, 1);
  EXPECT_EQ(CaptureDriverName(), "Good");
  EXPECT_EQ(Count("SetSequenceSetup"), 2u);
}

TEST_F(VideoCapTest, UnreadableSequenceSettingsStillCountAsConnected) {
  FakeDriver d{"Plain"};
  d.sequence_setup_unreadable = true;
  fake_.drivers[0] = d;
  ASSERT_TRUE(StartLikeTheMainWindow());
  EXPECT_EQ(fake_.connected_driver, 0);
  EXPECT_EQ(Count("SetSequenceSetup"), 0u);
  EXPECT_FALSE(fake_.applied_parms);
}

TEST_F(VideoCapTest, CapabilitiesWithoutDialogs) {
  FakeDriver d{"No dialogs"};
  d.caps.fHasDlgVideoSource = false;
  d.caps.fHasDlgVideoFormat = false;
  fake_.drivers[0] = d;
  ASSERT_TRUE(StartLikeTheMainWindow());
  EXPECT_FALSE(CaptureHasSourceDialog());
  EXPECT_FALSE(CaptureHasFormatDialog());

  fake_.drivers[0].caps.fHasDlgVideoSource = true;
  EXPECT_TRUE(CaptureHasSourceDialog());
  EXPECT_FALSE(CaptureHasFormatDialog());
  CaptureShowSourceDialog();
  CaptureShowFormatDialog();
  EXPECT_EQ(Count("DlgVideoSource"), 1u);
  EXPECT_EQ(Count("DlgVideoFormat"), 1u);
}

TEST_F(VideoCapTest, NoDriverKeepsNoDriverNameAndStillAnswersYes) {
  ASSERT_TRUE(StartLikeTheMainWindow());
  EXPECT_EQ(CaptureDriverName(), "No Driver");
  EXPECT_EQ(Count("DriverConnect(9)"), 1u);
  EXPECT_EQ(Count("DriverConnect(10)"), 0u);
  EXPECT_TRUE(CaptureHasWindow());
  // Capabilities cannot be read: no dialog is offered.
  EXPECT_FALSE(CaptureHasSourceDialog());
  EXPECT_FALSE(CaptureHasFormatDialog());
}

TEST_F(VideoCapTest, RefusedCaptureFileGivesTheDriverNameMessage) {
  fake_.refuse_capture_file = true;
  ASSERT_TRUE(StartLikeTheMainWindow());
  EXPECT_EQ(messages_, std::vector<std::string>{"No Driver: Error in capFileSetCaptureFile"});

  CaptureResetForTests();
  CaptureUseBackend(&fake_);
  CaptureSetMessageHandler([this](const std::string& text) { messages_.push_back(text); });
  messages_.clear();
  fake_.drivers[3] = FakeDriver{"Cam3"};
  ASSERT_TRUE(StartLikeTheMainWindow());
  EXPECT_EQ(messages_, std::vector<std::string>{"Cam3: Error in capFileSetCaptureFile"});
}

TEST_F(VideoCapTest, FailedWindowOrCallbackAnswersNo) {
  fake_.fail_create_window = true;
  EXPECT_FALSE(StartLikeTheMainWindow());
  EXPECT_FALSE(CaptureHasWindow());

  fake_.fail_create_window = false;
  fake_.fail_status_callback = true;
  fake_.log.clear();
  EXPECT_FALSE(StartLikeTheMainWindow());
  EXPECT_FALSE(CaptureHasWindow());
  // The window that was made is shut down: callback cleared, driver disconnected, destroyed.
  const std::vector<std::string> tail = {"SetStatusCallback(none)", "DriverDisconnect",
                                         "DestroyWindow"};
  ASSERT_GE(fake_.log.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(fake_.log.end() - 3, fake_.log.end()), tail);
  EXPECT_EQ(fake_.windows_created, fake_.windows_destroyed);
}

TEST_F(VideoCapTest, PreviewAndResumeSendTheirRequestsInOrder) {
  fake_.drivers[0] = FakeDriver{"Cam"};
  ASSERT_TRUE(StartLikeTheMainWindow());
  fake_.log.clear();
  CapturePreviewOn();
  EXPECT_EQ(fake_.log, (std::vector<std::string>{"SetScale(1)", "SetPreviewRate(40)",
                                                 "SetOverlay(0)", "SetPreview(1)"}));
  EXPECT_TRUE(fake_.preview);
  fake_.log.clear();
  CaptureSetImageFile("frame.bmp");
  CaptureGrabToFile();
  EXPECT_FALSE(fake_.preview);
  CaptureResumePreview();
  EXPECT_EQ(fake_.log,
            (std::vector<std::string>{"GrabFrame", "SaveDib(frame.bmp)", "SetOverlay(0)",
                                      "SetScale(1)", "SetPreviewRate(40)", "SetPreview(1)"}));
  EXPECT_TRUE(fake_.preview);
}

TEST_F(VideoCapTest, ImageFileNameIsCutTo255Bytes) {
  fake_.drivers[0] = FakeDriver{"Cam"};
  ASSERT_TRUE(StartLikeTheMainWindow());
  CaptureSetImageFile(std::string(300, 'a'));
  EXPECT_EQ(CaptureImageFile().size(), 300u);
  CaptureGrabToFile();
  EXPECT_EQ(fake_.log.back(), "SaveDib(" + std::string(255, 'a') + ")");
}

TEST_F(VideoCapTest, Status510AbortsAtTheFrameLimit) {
  fake_.drivers[0] = FakeDriver{"Cam"};
  ASSERT_TRUE(StartLikeTheMainWindow());
  CaptureSetFrameLimit(45);
  fake_.log.clear();
  EXPECT_EQ(fake_.EmitStatus(510, "44 frames captured"), 1);
  EXPECT_EQ(Count("Abort"), 0u);
  EXPECT_EQ(fake_.EmitStatus(510, "45 frames captured"), 1);
  EXPECT_EQ(Count("Abort"), 1u);
  EXPECT_EQ(notifications_, 1);
  fake_.EmitStatus(510, "46");  // a number alone is the whole first word
  EXPECT_EQ(Count("Abort"), 2u);
  // Not numbers: ignored. A negative count never reaches the limit.
  for (const char* text : {"Captured 45 frames", "45x frames", "", " 45", "-50 frames",
                           "99999999999999999999999 frames"}) {
    fake_.EmitStatus(510, text);
  }
  EXPECT_EQ(Count("Abort"), 2u);
  // Other codes only show the text.
  fake_.EmitStatus(511, "100 frames");
  EXPECT_EQ(Count("Abort"), 2u);
  EXPECT_EQ(notifications_, 2);
  EXPECT_EQ(label_.captions.back(), "100 frames");
  EXPECT_EQ(label_.repaints, static_cast<int>(label_.captions.size()));
}

TEST_F(VideoCapTest, StatusDuringAGrabReachesTheLabel) {
  fake_.drivers[0] = FakeDriver{"Cam"};
  fake_.statuses_on_grab = {{510, "0 frames"}};
  ASSERT_TRUE(StartLikeTheMainWindow());
  // Frame limit 0: any count reaches it; without a notify handler only the abort happens.
  CaptureSetNotify(nullptr);
  CaptureGrabToFile();
  EXPECT_EQ(label_.captions.back(), "0 frames");
  EXPECT_EQ(Count("Abort"), 1u);
}

}  // namespace
}  // namespace mirestal
