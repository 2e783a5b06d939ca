// The main window driven offscreen with scripted dialogs, grouped by what the operator does:
// start-up, opening rosters, browsing, the photo panel, capturing and deleting photos.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QTest>
#include <QWheelEvent>
#include <filesystem>
#include <memory>

#include "app/data_button.h"
#include "app/form_find.h"
#include "app/main_window.h"
#include "app/photo_box.h"
#include "app/roster_model.h"
#include "capture/face/face_detector.h"
#include "capture/face/framing.h"
#include "capture/fake_camera.h"
#include "capture/jpeg.h"
#include "capture/pipeline.h"
#include "capture/video_cap.h"
#include "platform/automation.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "tests/app/roster_files.h"
#include "ui_form_find.h"
#include "ui_main_window.h"

namespace mirestal {
namespace {

using testing::KeyOf;
using testing::RosterSpec;
using testing::TempDir;
using testing::WriteRoster;

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { qunsetenv("MIRESTAL_CAMERA"); }
  void TearDown() override {
    window_.reset();
    testing::ExpectWindowTestSettled(dialogs_);
  }

  TFormMain& Make(int screen_width = 1280) {
    window_.reset();  // one window at a time owns the capture module
    TFormMain::Options o;
    o.program_dir = dir_.path() + "/";
    o.dialogs = &dialogs_;
    o.screen_width = [screen_width] { return screen_width; };
    o.terminate = [this] { ++terminations_; };
    window_ = std::make_unique<TFormMain>(std::move(o));
    return *window_;
  }
  Ui::TFormMain& ui() { return *window_->ui(); }
  TTableDataSet& ds() { return window_->session().dataset(); }
  void Open(const std::string& path) {
    dialogs_.QueueFile(QString::fromStdString(path));
    ui().UiBitBtnOpen->click();
  }
  QString Label() { return ui().DBStatusLabel1->text(); }
  std::string PhotoPath(int student) { return dir_.path() + "/照片/" + KeyOf(student) + ".jpg"; }

  TempDir dir_;
  ScriptedDialogs dialogs_;
  FakeCaptureBackend camera_;  // outlives the window, whose capture window it made
  std::unique_ptr<TFormMain> window_;
  int terminations_ = 0;
};

// --- Start-up ---

TEST_F(WindowTest, StartsWithTheUsagePageAndNoRoster) {
  Make();
  EXPECT_EQ(ui().UiPageControlDetail->currentWidget(), ui().TabSheetDescript);
  const QString usage = ui().RichEditDescript->toPlainText();
  for (const char* heading : {"一、本软件的作用", "二、本软件的安装和运行", "四、照片的标准",
                              "五、照片上报", "六、关于用数码相机拍照"}) {
    EXPECT_TRUE(usage.contains(QString::fromUtf8(heading))) << heading;
  }
  EXPECT_TRUE(ui().RichEditDescript->isReadOnly());
  for (DataButton* b : ui().UiPanelBottom->findChildren<DataButton*>()) {
    EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
  }
  EXPECT_EQ(Label(), QString());
  EXPECT_TRUE(window_->FormFind()->isHidden());
  const QStringList note = ui().UiLabelNote->text().split(QLatin1Char('\n'));
  ASSERT_EQ(note.size(), 9);
  EXPECT_EQ(note[6].toStdString(), "    （例如: " + DisplayPath(dir_.path() + "/照片/") + " ）");
  EXPECT_TRUE(dialogs_.log().empty());
}

TEST_F(WindowTest, NarrowScreenEndsTheProgramAfterTheMessage) {
  for (int width : {1023, 1024}) {
    SCOPED_TRACE(width);
    dialogs_.ClearLog();
    terminations_ = 0;
    Make(width).FormActivate();
    const bool narrow = width < 1024;
    EXPECT_EQ(terminations_, narrow ? 1 : 0);
    EXPECT_EQ(dialogs_.Texts(), narrow ? QStringList{QStringLiteral("当前屏幕的分辨率太小，请设置成1024X768或以上")}
                                       : QStringList{});
  }
}

TEST_F(WindowTest, CloseIsRefusedWhileARecordIsEdited) {
  Make();
  Open(WriteRoster(dir_, "r.dbf", {}));
  ds().Edit();
  EXPECT_FALSE(window_->close());
  EXPECT_EQ(dialogs_.Texts().last(), QStringLiteral("学生信息正处于修改状态中，\r\r请先保存或作废修改内容，再退出窗口"));
  EXPECT_FALSE(ui().UiPanelTop->isEnabled());
  EXPECT_FALSE(ui().UiBitBtnCatchPhoto->isEnabled());
  ds().Cancel();
  EXPECT_TRUE(ui().UiPanelTop->isEnabled());
  EXPECT_TRUE(window_->close());
}

// --- Opening rosters ---

TEST_F(WindowTest, OpeningARosterShowsItsFirstStudent) {
  Make();
  const std::string path = WriteRoster(dir_, "r.dbf", {.students = 4, .deleted = {1}});
  Open(path);
  EXPECT_TRUE(dialogs_.Texts().isEmpty());
  EXPECT_EQ(ui().UiEditFileName->text().toStdString(), DisplayPath(path));
  EXPECT_EQ(ui().UiPageControlDetail->currentWidget(), ui().TabSheetPhoto);
  EXPECT_EQ(Label(), QStringLiteral("2:3"));
  EXPECT_EQ(ui().LabelZch->text().toStdString(), "考籍号：" + KeyOf(2));
  EXPECT_EQ(ui().LabelName->text(), QStringLiteral("姓名：学生2"));
  EXPECT_EQ(window_->model()->rowCount(), 3);
  EXPECT_EQ(ui().DBGridList->currentIndex().row(), 0);
  EXPECT_EQ(window_->FormFind()->FieldList().join(QLatin1Char(',')), QStringLiteral("SEQ,考籍号,姓名,性别"));
  EXPECT_EQ(window_->FormFind()->SelectedField(), 1);
}

TEST_F(WindowTest, AFailedOpenLeavesNoRosterAndAUsableWindow) {
  Make();
  Open(WriteRoster(dir_, "r.dbf", {}));
  const std::string damaged = dir_.File("damaged.dbf");
  testing::WriteFile(damaged, std::string(40, '\x03'));
  Open(damaged);
  EXPECT_EQ(dialogs_.Texts().last().toStdString(),
            "无法打开文件:" + DisplayPath(damaged) + "\r\r请确认该文件没有被别的程序打开,或文件格式是否正确");
  EXPECT_FALSE(ds().Active());
  EXPECT_FALSE(ds().ControlsDisabled());
  EXPECT_TRUE(window_->session().scroll_refresh());
  EXPECT_EQ(window_->model()->rowCount(), 0);
  EXPECT_EQ(Label(), QString());
  EXPECT_EQ(ui().UiEditFileName->text().toStdString(), DisplayPath(damaged));
  EXPECT_TRUE(ui().UiBitBtnOpen->isEnabled());
  Open(WriteRoster(dir_, "again.dbf", {.students = 2}));
  EXPECT_EQ(Label(), QStringLiteral("1:2"));
}

TEST_F(WindowTest, ARosterWithoutTheKeyFieldOpensWithoutPhotoFunctions) {
  Make();
  Open(WriteRoster(dir_, "k.dbf", {.with_key = false}));
  EXPECT_EQ(dialogs_.Texts(), QStringList{QStringLiteral("该文件没有\"考籍号\"字段,无法拍照")});
  EXPECT_EQ(ui().LabelZch->text(), QStringLiteral("考籍号未知"));
  EXPECT_EQ(window_->FormFind()->SelectedField(), 0);
  ui().UiBitBtnCatchPhoto->click();
  EXPECT_EQ(dialogs_.Texts().last(), QStringLiteral("没有\"考籍号\"字段，无法拍照！"));
  ui().UiBitBtnDeletePhoto->click();  // does nothing
  EXPECT_EQ(dialogs_.Texts().size(), 2);
}

// --- Browsing ---

TEST_F(WindowTest, ButtonsAndLabelThroughAWalk) {
  Make();
  Open(WriteRoster(dir_, "r.dbf", {.students = 120}));
  auto& u = ui();
  EXPECT_FALSE(u.dbNavBtnFirst->isEnabled());
  EXPECT_FALSE(u.dbNavBtnPrior1->isEnabled());
  for (int i = 0; i < 4; ++i) u.dbNavBtnNext->click();
  EXPECT_EQ(Label(), QStringLiteral("5:120"));
  EXPECT_EQ(u.DBGridList->currentIndex().row(), 4);
  for (int i = 0; i < 4; ++i) u.dbNavBtnPrior1->click();
  EXPECT_TRUE(u.dbNavBtnPrior1->isEnabled());  // on the first record, not yet at its beginning
  u.dbNavBtnPrior1->click();
  EXPECT_FALSE(u.dbNavBtnPrior1->isEnabled());
  EXPECT_FALSE(u.dbNavBtnFirst->isEnabled());
  u.dbNavBtnLast->click();
  EXPECT_FALSE(u.dbNavBtnNext->isEnabled());
  EXPECT_EQ(Label(), QStringLiteral("120:120"));
  EXPECT_TRUE(u.dbNavBtnNext->autoRepeat());
  EXPECT_EQ(u.dbNavBtnNext->autoRepeatDelay(), 400);
  EXPECT_EQ(u.dbNavBtnNext->autoRepeatInterval(), 100);
  // The edit-kind buttons never put the table into editing.
  u.dbNavBtnEditSum->click();
  EXPECT_EQ(ds().State(), TDataSetState::dsBrowse);
}

TEST_F(WindowTest, AnEmptyRosterShowsTheCountFormAndDisablesTheButtons) {
  Make();
  Open(WriteRoster(dir_, "e.dbf", {.students = 0}));
  EXPECT_EQ(Label(), QStringLiteral("( 0 )"));
  for (DataButton* b : ui().UiPanelBottom->findChildren<DataButton*>()) {
    EXPECT_EQ(b->isEnabled(), b == ui().dbNavBtnNew) << b->objectName().toStdString();
  }
  EXPECT_EQ(ui().LabelZch->text(), QStringLiteral("考籍号："));
}

TEST_F(WindowTest, GridAndDatasetFollowEachOther) {
  Make();
  Open(WriteRoster(dir_, "r.dbf", {.students = 6, .deleted = {2, 3}}));
  ui().DBGridList->setCurrentIndex(window_->model()->index(2, 1));  // record 5
  EXPECT_EQ(ds().RecNo(), 5);
  EXPECT_EQ(Label(), QStringLiteral("5:4"));
  EXPECT_EQ(ui().LabelZch->text().toStdString(), "考籍号：" + KeyOf(5));
  ui().dbNavBtnPrior1->click();
  EXPECT_EQ(ui().DBGridList->currentIndex().row(), 1);
  EXPECT_EQ(window_->model()->headerData(1, Qt::Vertical).toString(), QStringLiteral("▶"));
}

TEST_F(WindowTest, OneWheelEventOverTheFocusedGridMovesOneRow) {
  Make().show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  Open(WriteRoster(dir_, "r.dbf", {.students = 10}));
  ui().DBGridList->setFocus();
  QTRY_VERIFY(ui().DBGridList->hasFocus());
  auto wheel = [&](int delta) {
    QWheelEvent e(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, delta), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(ui().DBGridList->viewport(), &e);
  };
  wheel(-360);  // three notches towards the user
  EXPECT_EQ(ds().RecNo(), 2);
  wheel(-120);
  wheel(120);
  EXPECT_EQ(ds().RecNo(), 2);
  ui().UiEditFileName->setFocus();
  QTRY_VERIFY(ui().UiEditFileName->hasFocus());
  wheel(-120);
  EXPECT_EQ(ds().RecNo(), 2);
}

TEST_F(WindowTest, CtrlFOpensTheFindDialogOnlyWithARoster) {
  Make().show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  QTest::keyClick(ui().UiBitBtnOpen, Qt::Key_F, Qt::ControlModifier);
  EXPECT_FALSE(window_->FormFind()->isVisible());
  Open(WriteRoster(dir_, "r.dbf", {}));
  QTest::keyClick(ui().UiBitBtnOpen, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_TRUE(window_->FormFind()->isVisible());
  EXPECT_EQ(ds().State(), TDataSetState::dsBrowse);
  Open(WriteRoster(dir_, "s.dbf", {}));  // opening hides it again
  EXPECT_FALSE(window_->FormFind()->isVisible());
}

TEST_F(WindowTest, EnterPressesTheFocusedButtonInTheWindowAndTheFindDialog) {
  Make().show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
  Open(WriteRoster(dir_, "r.dbf", {.students = 4}));
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    int recno;  // after the press
  };
  // Return, the keypad's Enter, and a modified Return, which presses nothing.
  for (const Case& c : {Case{Qt::Key_Return, Qt::NoModifier, 2}, Case{Qt::Key_Enter, Qt::KeypadModifier, 3},
                        Case{Qt::Key_Return, Qt::ControlModifier, 3}}) {
    ui().dbNavBtnNext->setFocus();
    QTest::keyClick(ui().dbNavBtnNext, c.key, c.modifiers);
    EXPECT_EQ(ds().RecNo(), c.recno);
  }
  ui().dbNavBtnFind->click();
  TFormFind& find = *window_->FormFind();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&find));
  find.ui()->UiBitBtnClose->setFocus();
  QTest::keyClick(find.ui()->UiBitBtnClose, Qt::Key_Return);
  EXPECT_TRUE(find.isHidden());
  EXPECT_TRUE(dialogs_.Texts().isEmpty());
}

TEST_F(WindowTest, GridModelStaysConsistentOverDeletedRecords) {
  Make();
  QAbstractItemModelTester tester(window_->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  Open(WriteRoster(dir_, "r.dbf", {.students = 30, .deleted = {1, 2, 15, 30}}));
  EXPECT_EQ(window_->model()->rowCount(), 26);
  EXPECT_EQ(window_->model()->data(window_->model()->index(25, 0)).toString(), QStringLiteral("29"));
  ui().dbNavBtnLast->click();
  ui().dbNavBtnFirst->click();
  // Another roster of as many rows with other fields replaces rows and columns.
  Open(WriteRoster(dir_, "same.dbf", {.students = 26, .with_name_sex = false}));
  EXPECT_EQ(window_->model()->columnCount(), 2);
  EXPECT_EQ(window_->model()->data(window_->model()->index(25, 0)).toString(), QStringLiteral("26"));
  Open(WriteRoster(dir_, "s.dbf", {.students = 0}));
  EXPECT_EQ(window_->model()->rowCount(), 0);
}

// --- Photo panel and photos ---

TEST_F(WindowTest, PhotoPanelShowsStoredDamagedAndMissingPhotos) {
  Make();
  const std::string roster = WriteRoster(dir_, "r.dbf", {.students = 3});
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(PhotoPath(1)));
  PhotoStore(dir_.path() + "/").WritePhoto(PhotoPath(1), Bitmap(30, 40));
  testing::WriteFile(PhotoPath(2), "not a jpeg");
  Open(roster);
  EXPECT_EQ(ui().ImageCatchedPhoto->content(), PhotoBox::Content::kStoredPhoto);
  EXPECT_EQ(ui().ImageCatchedPhoto->Picture().size(), QSize(30, 40));
  ui().dbNavBtnNext->click();
  EXPECT_EQ(dialogs_.Texts(), QStringList{QStringLiteral("调入图片文件出错！")});
  EXPECT_EQ(ui().ImageCatchedPhoto->content(), PhotoBox::Content::kEmpty);
  ui().dbNavBtnNext->click();
  EXPECT_EQ(ui().ImageCatchedPhoto->content(), PhotoBox::Content::kEmpty);
  EXPECT_EQ(dialogs_.Texts().size(), 1);
}

TEST_F(WindowTest, DeletePhotoAsksAndOnlyYesDeletes) {
  Make();
  const std::string roster = WriteRoster(dir_, "r.dbf", {.students = 2});
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(PhotoPath(1)));
  PhotoStore(dir_.path() + "/").WritePhoto(PhotoPath(1), Bitmap(30, 40));
  Open(roster);
  dialogs_.QueueAnswer(kIdNo);
  ui().UiBitBtnDeletePhoto->click();
  EXPECT_TRUE(FileExists(PhotoPath(1)));
  ASSERT_EQ(dialogs_.log().back().flags, kMbYesNoDefaultNo);
  EXPECT_EQ(dialogs_.log().back().caption, QStringLiteral("警告"));
  dialogs_.QueueAnswer(kIdYes);
  ui().UiBitBtnDeletePhoto->click();
  EXPECT_FALSE(FileExists(PhotoPath(1)));
  EXPECT_EQ(ui().ImageCatchedPhoto->content(), PhotoBox::Content::kEmpty);
  ui().UiBitBtnDeletePhoto->click();
  EXPECT_EQ(dialogs_.Texts().last(), QStringLiteral("无对应的照片文件"));
}

TEST_F(WindowTest, CaptureWithTheTestCardSavesOnYesOrAtOnce) {
  qputenv("MIRESTAL_CAMERA", "testcard");
  Make();
  Open(WriteRoster(dir_, "r.dbf", {.students = 3}));
  dialogs_.QueueAnswer(kIdNo);
  ui().UiBitBtnCatchPhoto->click();
  EXPECT_FALSE(FileExists(PhotoPath(1)));
  EXPECT_EQ(ui().ImageCatchedPhoto->content(), PhotoBox::Content::kEmpty);

  dialogs_.QueueAnswer(kIdYes);
  ui().UiBitBtnCatchPhoto->click();
  ASSERT_TRUE(FileExists(PhotoPath(1)));
  const JpegHeader h = ReadJpegHeader(testing::ReadFile(PhotoPath(1)));
  EXPECT_EQ(h.width, 300);  // the 640x480 card's marker box
  EXPECT_EQ(h.height, 400);
  EXPECT_EQ(ui().ImageCatchedPhoto->content(), PhotoBox::Content::kCapture);
  EXPECT_EQ(dialogs_.Texts(), (QStringList{QStringLiteral("确认保存该照片吗？"), QStringLiteral("确认保存该照片吗？")}));
  EXPECT_EQ(dialogs_.log().back().flags, kMbYesNo);

  ui().dbNavBtnNext->click();
  ui().UiCheckBoxSaveAtOnce->setChecked(true);
  EXPECT_FALSE(ui().UiBitBtnSrc->isEnabled());  // the card has one source and no source dialog
  dialogs_.QueueChoice(0);                      // the format dialog: 320 x 240
  ui().UiBitBtnFormat->click();
  ui().UiBitBtnCatchPhoto->click();
  EXPECT_EQ(ReadJpegHeader(testing::ReadFile(PhotoPath(2))).width, 150);
  EXPECT_EQ(dialogs_.Texts().size(), 2);  // no question
}

TEST_F(WindowTest, CaptureReportsARefusedWidthAndAMissingFrame) {
  FakeCaptureBackend& camera = camera_;
  camera.drivers[0] = FakeDriver{"fake"};
  CaptureUseBackend(&camera);
  Make();
  Open(WriteRoster(dir_, "r.dbf", {.students = 1}));
  camera.frame = Bitmap(352, 288);
  ui().UiBitBtnCatchPhoto->click();
  EXPECT_EQ(dialogs_.Texts().last().toStdString(), kMsgBadResolution);
  camera.frame.reset();  // no camera picture: no frame file is written
  ui().UiBitBtnCatchPhoto->click();
  EXPECT_EQ(dialogs_.Texts().last(), QStringLiteral("File not found."));
  EXPECT_EQ(dialogs_.log().back().flags, kMbStop);
  EXPECT_FALSE(FileExists(PhotoPath(1)));
}

TEST_F(WindowTest, CaptureWithoutAStudentTouchesNoCamera) {
  Make();
  ui().UiBitBtnCatchPhoto->click();
  EXPECT_EQ(dialogs_.Texts(), QStringList{QStringLiteral("没有对应的学生\r\r请先选择数据文件")});
}

TEST_F(WindowTest, FrameMarkersFollowTheSliders) {
  Make();
  auto& u = ui();
  EXPECT_EQ(u.PanelTop->pos(), QPoint(288, 78));
  u.TrackBarHor->setValue(168);
  u.TrackBarVer->setValue(0);
  EXPECT_EQ(u.PanelTop->pos(), QPoint(204 + 168, 59));
  EXPECT_EQ(u.PanelBottom->pos(), QPoint(204 + 168, 59 + 200));
  EXPECT_EQ(u.PanelLeft->pos(), QPoint(204 + 168, 59));
  EXPECT_EQ(u.PanelRight->pos(), QPoint(204 + 168 + 152, 59));
}

// --- Guided framing and the next student ---

TEST_F(WindowTest, GuidedFramingStartsOffWithControlsThatOverlapNothingAndKeysOfTheirOwn) {
  Make();
  auto& u = ui();
  for (QCheckBox* box : {u.UiCheckBoxFollowFace, u.UiCheckBoxAutoCatch, u.UiCheckBoxNextStudent}) {
    EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
  }
  EXPECT_EQ(u.UiLabelAdvice->text(), QString());
  const QList<QWidget*> added = {u.UiCheckBoxFollowFace, u.UiCheckBoxAutoCatch, u.UiBitBtnAutoFrame,
                                 u.UiLabelAdvice, u.UiBitBtnNextStudent, u.UiCheckBoxNextStudent};
  for (QWidget* w : added) {
    ASSERT_EQ(w->parentWidget(), u.UiPanel1);
    EXPECT_TRUE(u.UiPanel1->rect().contains(w->geometry())) << w->objectName().toStdString();
    for (QWidget* other : u.UiPanel1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (other == w || other->isHidden()) continue;
      EXPECT_FALSE(w->geometry().intersects(other->geometry()))
          << w->objectName().toStdString() << " over " << other->objectName().toStdString();
    }
  }
  // Every Alt key of the window and the find dialog presses one control only.
  QList<QAbstractButton*> buttons = window_->findChildren<QAbstractButton*>();
  buttons += window_->FormFind()->findChildren<QAbstractButton*>();
  QSet<QChar> keys;
  for (QAbstractButton* b : buttons) {
    const qsizetype amp = b->text().indexOf(QLatin1Char('&'));
    if (amp < 0 || amp + 1 >= b->text().size()) continue;
    const QChar key = b->text().at(amp + 1).toUpper();
    EXPECT_FALSE(keys.contains(key)) << b->objectName().toStdString();
    keys.insert(key);
  }
  EXPECT_TRUE(keys.contains(QLatin1Char('J')) && keys.contains(QLatin1Char('N')));
}

TEST_F(WindowTest, AutoFramePutsTheFrameAroundTheTestCardsFace) {
  qputenv("MIRESTAL_CAMERA", "testcard");
  Make();
  ui().UiBitBtnAutoFrame->click();
  // The frame the button analysed is still the one shown (no event ran since).
  FaceDetector detector;
  const FrameAnalysis analysis = AnalyseFrame(detector, CaptureLatestFrame());
  ASSERT_EQ(analysis.faces.size(), 1u);
  const SliderFraming expected = FrameForSliders(analysis.faces[0], 640, 480);
  EXPECT_EQ(ui().TrackBarHor->value(), expected.hor);
  EXPECT_EQ(ui().TrackBarVer->value(), expected.ver);
  EXPECT_EQ(ui().PanelTop->pos(), QPoint(204 + expected.hor, 59 + expected.ver));
  EXPECT_EQ(ui().UiLabelAdvice->text(), QStringLiteral("取景合适"));
  EXPECT_TRUE(dialogs_.log().empty());
}

TEST_F(WindowTest, AutoCaptureFollowsTheFaceAndStoresOnceThroughTheQuestion) {
  qputenv("MIRESTAL_CAMERA", "testcard");
  // Each reading of the clock is a fifth of a second later, so a held "取景合适" needs only a
  // few analyses.
  std::chrono::steady_clock::time_point now{};
  TFormMain::Options o;
  o.program_dir = dir_.path() + "/";
  o.dialogs = &dialogs_;
  o.screen_width = [] { return 1280; };
  o.clock = [&now] { return now += std::chrono::milliseconds(200); };
  window_ = std::make_unique<TFormMain>(std::move(o));
  window_->show();
  Open(WriteRoster(dir_, "r.dbf", {.students = 3}));
  QTRY_VERIFY_WITH_TIMEOUT(!ui().UiLabelAdvice->text().isEmpty(), 10000);
  ui().UiCheckBoxFollowFace->setChecked(true);
  dialogs_.QueueAnswer(kIdYes);
  ui().UiCheckBoxAutoCatch->setChecked(true);
  QTRY_VERIFY_WITH_TIMEOUT(FileExists(PhotoPath(1)), 20000);
  EXPECT_EQ(dialogs_.Texts(), QStringList{QStringLiteral("确认保存该照片吗？")});
  EXPECT_EQ(ReadJpegHeader(testing::ReadFile(PhotoPath(1))).width, 300);
  // It waits for the next student: more good frames take no second photo.
  const uint64_t analysed = window_->frame_analyser()->analysed();
  QTRY_VERIFY_WITH_TIMEOUT(window_->frame_analyser()->analysed() > analysed + 8, 20000);
  EXPECT_EQ(dialogs_.Texts().size(), 1);
  EXPECT_EQ(ui().UiLabelAdvice->text(), QStringLiteral("取景合适"));
}

TEST_F(WindowTest, NextStudentWithoutAPhotoAfterASaveAndOnItsButton) {
  qputenv("MIRESTAL_CAMERA", "testcard");
  Make();
  ASSERT_TRUE(PhotoStore::EnsurePhotoFolder(PhotoPath(3)));
  PhotoStore(dir_.path() + "/").WritePhoto(PhotoPath(3), Bitmap(150, 200));
  Open(WriteRoster(dir_, "r.dbf", {.students = 5, .deleted = {2}}));
  // Alt+N on any page, here the usage page (from student 1: 3 has a photo).
  ui().UiPageControlDetail->setCurrentWidget(ui().TabSheetDescript);
  QKeyEvent alt_n(QEvent::KeyPress, Qt::Key_N, Qt::AltModifier);
  QApplication::sendEvent(ui().DBGridList, &alt_n);
  EXPECT_EQ(ds().RecNo(), 4);
  ui().UiCheckBoxSaveAtOnce->setChecked(true);
  ui().UiBitBtnCatchPhoto->click();  // stays: the option is off
  EXPECT_EQ(ds().RecNo(), 4);
  ui().UiCheckBoxNextStudent->setChecked(true);
  ui().UiBitBtnCatchPhoto->click();  // 4 again, then on to 5
  EXPECT_EQ(ds().RecNo(), 5);
  EXPECT_EQ(ui().DBGridList->currentIndex().row(), 3);
  ui().UiBitBtnCatchPhoto->click();  // 5, then round to 1
  EXPECT_EQ(ds().RecNo(), 1);
  EXPECT_TRUE(dialogs_.Texts().isEmpty());
  ui().UiBitBtnCatchPhoto->click();  // the last one
  EXPECT_EQ(ds().RecNo(), 1);
  EXPECT_EQ(dialogs_.Texts(), QStringList{QStringLiteral("所有学生都已拍照")});
}


// --- Workbook conversion ---

// Stands in for the spreadsheet application: every member answers, and SaveAs writes the table.
class FakeSpreadsheet : public AutoObject {
 public:
  AutoValue Invoke(const std::string& member, AutoInvoke, std::vector<AutoArg>& args) override {
    if (member == "SaveAs") testing::WriteFile(args.at(0).text, "table");
    if (member == "WorkBooks" || member == "WorkSheets" || member == "Columns" ||
        member == "ActiveWorkBook") {
      return AutoValue::Object(std::make_shared<FakeSpreadsheet>());
    }
    return {};
  }
};

TEST_F(WindowTest, ConvertingAWorkbookReportsTheTableAndRefusesTheOpenRoster) {
  RegisterAutoServer("EXCEL.application", [] { return std::make_unique<FakeSpreadsheet>(); });
  Make();
  const std::string book = dir_.File("class1.xls");
  testing::WriteFile(book, "book");
  dialogs_.QueueFile(QString::fromStdString(book));
  ui().UiBitBtn2->click();
  ASSERT_FALSE(dialogs_.log().empty());
  const ScriptedDialogs::Shown& report = dialogs_.log().back();
  EXPECT_EQ(report.text.toStdString(), "生成了Dbf文件: \r" + dir_.File("class1.dbf") +
                                           "\r\r你可以打开该dbf文件进行拍照。");
  EXPECT_EQ(report.caption, QStringLiteral("提示"));
  EXPECT_EQ(report.flags, 0);
  EXPECT_TRUE(FileExists(dir_.File("class1.dbf")));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);

  // The roster open in the window is never the conversion's target.
  const std::string roster = WriteRoster(dir_, "r.dbf", {.students = 2});
  Open(roster);
  const std::string clash = dir_.File("r.xls");
  testing::WriteFile(clash, "book");
  dialogs_.QueueFile(QString::fromStdString(clash));
  ui().UiBitBtn2->click();
  EXPECT_EQ(dialogs_.log().back().flags, 16);
  EXPECT_EQ(Label(), QStringLiteral("1:2"));
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  RegisterAutoServer("EXCEL.application", nullptr);
}

// Where no spreadsheet application is installed (a fresh Windows, wine): the creation error is
// reported, and a table converted earlier is still there, whole.
TEST_F(WindowTest, ConvertingWithoutASpreadsheetApplicationReportsItAndKeepsTheOldTable) {
  RegisterAutoServer("EXCEL.application", nullptr);
  Make();
  const std::string books = dir_.File("books");
  std::filesystem::create_directory(FsPath(books));
  const std::string book = books + "/class2.xls";
  testing::WriteFile(book, "book");
  testing::WriteFile(books + "/class2.dbf", "old table");
  dialogs_.QueueFile(QString::fromStdString(book));
  ui().UiBitBtn2->click();
  ASSERT_FALSE(dialogs_.log().empty());
  EXPECT_EQ(dialogs_.log().back().flags, 16);
  EXPECT_NE(dialogs_.log().back().text.indexOf(QStringLiteral("EXCEL.application")), -1);
  EXPECT_EQ(testing::ReadFile(books + "/class2.dbf"), "old table");
  size_t entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(FsPath(books))) {
    ++entries;
  }
  EXPECT_EQ(entries, 2u);  // the workbook and the old table, nothing half done beside them
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
}  // namespace mirestal

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
