// The roster commands, offscreen with scripted dialogs, grouped by command: photo coverage, find,
// export, and the guide and about box.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <memory>

#include "app/data_button.h"
#include "app/form_find.h"
#include "app/form_import_photos.h"
#include "app/info_windows.h"
#include "app/main_window.h"
#include "core/roster_commands.h"
#include "app/roster_model.h"
#include "capture/bitmap.h"
#include "capture/fake_camera.h"
#include "capture/jpeg.h"
#include "capture/photo_check.h"
#include "capture/testcard.h"
#include "capture/video_cap.h"
#include "platform/fault_file.h"
#include "platform/file.h"
#include "platform/target_rule.h"
#include "platform/text.h"
#include "platform/paths.h"
#include "tests/app/roster_files.h"
#include "ui_form_find.h"
#include "ui_form_import_photos.h"
#include "ui_main_window.h"

namespace mirestal {
namespace {

using testing::G;
using testing::KeyOf;
using testing::RosterSpec;
using testing::TempDir;
using testing::WriteRoster;

class CommandsTest : public ::testing::Test {
 protected:
  void SetUp() override { qunsetenv("MIRESTAL_CAMERA"); }
  void TearDown() override {
    window_.reset();
    testing::ExpectWindowTestSettled(dialogs_);
  }

  TFormMain& Make() {
    TFormMain::Options o;
    o.program_dir = dir_.path() + "/";
    o.dialogs = &dialogs_;
    o.screen_width = [] { return 1280; };
    o.export_fs = &export_fs_;
    o.show_modal = [this](QDialog& d) { modal_(d); };
    o.maintenance = maintenance_;
    o.progress_delay_ms = 0;
    o.progress_shown = [this](QProgressDialog&) { ++progress_shown_; };
    window_ = std::make_unique<TFormMain>(std::move(o));
    return *window_;
  }
  Ui::TFormMain& ui() { return *window_->ui(); }
  TTableDataSet& ds() { return window_->session().dataset(); }
  std::string Open(const RosterSpec& spec, const std::string& name = "r.dbf") {
    const std::string path = WriteRoster(dir_, name, spec);
    dialogs_.QueueFile(QString::fromStdString(path));
    ui().UiBitBtnOpen->click();
    return path;
  }
  std::string PhotoPath(int student) { return dir_.path() + "/照片/" + KeyOf(student) + ".jpg"; }
  // A photo fit to hand in (3:4, baseline colour JPEG).
  void AddPhoto(int student) {
    ForceDirectories(dir_.path() + "/照片/");
    PhotoStore(dir_.path() + "/").WritePhoto(PhotoPath(student), Bitmap(150, 200));
  }
  // A file named like a photo that does not decode.
  void AddBadPhoto(int student) {
    ForceDirectories(dir_.path() + "/照片/");
    testing::WriteFile(PhotoPath(student), "jpeg");
  }
  QString LastText() { return dialogs_.Texts().isEmpty() ? QString() : dialogs_.Texts().last(); }

  TempDir dir_;
  ScriptedDialogs dialogs_;
  FaultFileSystem export_fs_;
  FakeCaptureBackend camera_;
  std::function<void(QDialog&)> modal_ = [](QDialog&) {};
  bool maintenance_ = false;
  int progress_shown_ = 0;
  std::unique_ptr<TFormMain> window_;
};

// --- Photo coverage ---

TEST_F(CommandsTest, KeyCellIsGreenForAValidPhotoAndPaleRedForAnInvalidOne) {
  Make();
  AddPhoto(1);
  AddPhoto(2);
  ForceDirectories(PhotoPath(3) + "/");  // a folder named like a photo is no photo
  AddBadPhoto(5);
  Open({.students = 5});  // keys are stored with trailing blanks (17-byte field)
  window_->show();
  QTableView* grid = ui().DBGridList;
  const QImage shot = grid->viewport()->grab().toImage();
  const QColor green(192, 220, 192);
  auto pixel = [&](int row, int column) {
    const QRect r = grid->visualRect(window_->model()->index(row, column));
    return shot.pixelColor(shot.devicePixelRatio() * QPoint(r.right() - 2, r.bottom() - 2));
  };
  EXPECT_EQ(pixel(0, 1), green);  // the selected row's key cell too
  EXPECT_EQ(pixel(1, 1), green);
  EXPECT_NE(pixel(2, 1), green);
  EXPECT_NE(pixel(3, 1), green);
  EXPECT_NE(pixel(1, 2), green);  // only the key cell
  EXPECT_NE(pixel(0, 2), green);
  const QColor pale_red(240, 200, 200);
  EXPECT_EQ(pixel(4, 1), pale_red);
  EXPECT_NE(pixel(4, 2), pale_red);
  EXPECT_NE(pixel(2, 1), pale_red);
}

TEST_F(CommandsTest, CountReportsMissingPhotosAndKeepsThePosition) {
  struct Case {
    const char* name;
    std::vector<int> photos;
    const char* text;
    std::vector<int> bad_photos = {};
  };
  const Case cases[] = {
      {"no photo folder", {}, "5个学生中共有 5 个没有照片"},
      {"all present", {1, 2, 3, 4, 5}, "5个学生中共有 0 个没有照片"},
      {"some present", {2, 5}, "5个学生中共有 3 个没有照片"},
      {"some invalid", {2}, "5个学生中共有 2 个没有照片\r另有 2 个学生的照片不符合上报要求", {1, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_.reset();
    CaptureResetForTests();
    std::filesystem::remove_all(FsPath(dir_.path() + "/照片"));
    for (int s : c.photos) AddPhoto(s);
    for (int s : c.bad_photos) AddBadPhoto(s);
    Make();
    Open({.students = 5});
    ui().dbNavBtnNext->click();
    ui().dbNavBtnNext->click();
    const QString label = ui().DBStatusLabel1->text();
    const QString zch = ui().LabelZch->text();
    dialogs_.ClearLog();
    ui().dbNavBtnEditSum->click();
    EXPECT_EQ(dialogs_.Texts(), QStringList{QString::fromUtf8(c.text)});
    EXPECT_EQ(ds().RecNo(), 3);
    EXPECT_EQ(ui().DBStatusLabel1->text(), label);
    EXPECT_EQ(ui().LabelZch->text(), zch);
    EXPECT_EQ(ui().DBGridList->currentIndex().row(), 2);
    EXPECT_TRUE(window_->session().scroll_refresh());
    EXPECT_FALSE(ds().ControlsDisabled());
    EXPECT_EQ(ds().State(), TDataSetState::dsBrowse);
  }
}

TEST_F(CommandsTest, CountWithoutKeyFieldSaysSo) {
  Make();
  Open({.with_key = false});
  dialogs_.ClearLog();
  ui().dbNavBtnEditSum->click();
  EXPECT_EQ(dialogs_.Texts(), QStringList{QStringLiteral("没有“考籍号”字段，无法统计！")});
}

// --- Upload package ---

TEST_F(CommandsTest, PackageShowsTheCheckAndWritesTheValidPhotosOnlyOnYes) {
  Make();
  AddPhoto(1);
  AddPhoto(3);
  AddBadPhoto(2);
  testing::WriteFile(dir_.path() + "/照片/stray.jpg", "x");
  const std::string roster = Open({.students = 4});
  const std::string roster_bytes = testing::ReadFile(roster);
  const std::string zip = dir_.path() + "/r.zip";
  const std::string photo_bytes = testing::ReadFile(PhotoPath(1));
  const std::string read_only = dir_.path() + "/old.zip";
  testing::WriteFile(read_only, "old");
  SetReadOnly(read_only, true);
  struct Case {
    const char* name;
    int answer;
    std::optional<std::string> target;
    std::string last_text;  // the last message; empty: the package was written
  };
  const Case cases[] = {
      {"No", kIdNo, std::nullopt, ""},
      {"the roster as target", kIdYes, roster, kMsgPackageTargetRefused},
      {"a photo as target", kIdYes, PhotoPath(1), std::string(kMsgTargetInPhotoFolder) + "\r" + PhotoPath(1)},
      {"the photo folder", kIdYes, dir_.path() + "/照片", std::string(kMsgTargetInPhotoFolder) + "\r" + dir_.path() + "/照片"},
      {"a read-only archive", kIdYes, read_only, std::string(kMsgTargetReadOnly) + "\r" + read_only},
      {"written", kIdYes, zip, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dialogs_.ClearLog();
    dialogs_.QueueAnswer(c.answer);
    if (c.answer == kIdYes) dialogs_.QueueFile(QString::fromStdString(*c.target));
    ui().UiBitBtnPackage->click();
    const QString summary = dialogs_.log().front().text;
    EXPECT_TRUE(summary.contains(QStringLiteral("合格 2，不合格 1，缺少 1"))) << summary.toStdString();
    EXPECT_TRUE(summary.contains(QStringLiteral("无对应学生 1"))) << summary.toStdString();
    EXPECT_TRUE(summary.contains(QString::fromStdString(KeyOf(2)))) << summary.toStdString();
    if (c.answer == kIdYes) {
      EXPECT_EQ(dialogs_.log()[1].file_name.toStdString(), dir_.path() + "/r.zip");
    }
    if (!c.last_text.empty()) {
      EXPECT_EQ(LastText().toStdString(), c.last_text);
    }
    EXPECT_EQ(PathExists(zip), c.target == zip);
  }
  EXPECT_EQ(testing::ReadFile(PhotoPath(1)), photo_bytes);
  EXPECT_EQ(testing::ReadFile(read_only), "old");
  EXPECT_EQ(LastText(), QString::fromStdString(PackageDoneText(2, zip)));
  EXPECT_EQ(testing::ReadFile(roster), roster_bytes);
}

TEST_F(CommandsTest, PackageSummaryListsThePhotoStandardsAdviceAfterTheProblems) {
  Make();
  AddPhoto(1);  // valid, but blank: no face
  AddBadPhoto(2);
  Open({.students = 2});
  dialogs_.ClearLog();
  dialogs_.QueueAnswer(kIdNo);
  ui().UiBitBtnPackage->click();
  const std::string summary = dialogs_.log().front().text.toStdString();
  EXPECT_NE(summary.find("合格 1，不合格 1"), std::string::npos) << summary;
  const size_t problem = summary.find(KeyOf(2));
  const size_t advice = summary.find("照片标准提示  " + KeyOf(1));
  ASSERT_NE(advice, std::string::npos) << summary;
  EXPECT_LT(problem, advice);
  EXPECT_NE(summary.find("未检测到人脸", advice), std::string::npos) << summary;
}

// --- Photos from a camera ---

TEST_F(CommandsTest, ImportListsThePicturesTakesATypedStudentAndStoresTheAcceptedOnes) {
  Make();
  Open({.students = 3});
  const std::string camera = dir_.File("camera");
  ForceDirectories(camera);
  const std::string face = EncodeJpeg(RenderTestCard(640, 480, 0, TestCardPicture::kPortrait));
  testing::WriteFile(camera + "/" + KeyOf(1) + ".jpg", face);
  testing::WriteFile(camera + "/DSC0001.jpg", face);
  testing::WriteFile(camera + "/notes.txt", "x");
  int shown = 0;
  modal_ = [&](QDialog& d) {
    auto* list = qobject_cast<TFormImportPhotos*>(&d);
    ASSERT_NE(list, nullptr);
    QTableWidget* grid = list->ui()->UiGridPictures;
    ASSERT_EQ(grid->rowCount(), 3);
    if (shown++ == 0) {
      EXPECT_EQ(list->Accepted(), std::vector<int>{0});  // the key, DSC0001, notes: by name
      EXPECT_EQ(grid->item(1, 4)->text().left(5), QString::fromUtf8("未对应学生"));
      grid->item(1, 2)->setText(QStringLiteral("学生3"));  // the operator names the student
      EXPECT_EQ(list->Accepted(), (std::vector<int>{0, 1}));
      EXPECT_TRUE(grid->item(1, 2)->text().startsWith(QString::fromStdString(KeyOf(3))));
      list->accept();
    } else {
      EXPECT_TRUE(list->ui()->UiLabelSummary->text().contains(QString::fromUtf8("已保存 2 张")))
          << list->ui()->UiLabelSummary->text().toStdString();
      EXPECT_TRUE(list->ui()->UiBitBtnStore->isHidden());
      list->reject();
    }
  };
  dialogs_.QueueFile(QString::fromStdString(camera));
  ui().UiBitBtnImportPhotos->click();
  EXPECT_EQ(shown, 2);
  for (int student : {1, 3}) EXPECT_TRUE(CheckPhotoFile(PhotoPath(student), PhotoRules{}).valid()) << student;
  EXPECT_FALSE(PathExists(PhotoPath(2)));
  EXPECT_EQ(testing::ReadFile(camera + "/DSC0001.jpg"), face);

  // Hidden in the maintenance mode, as the package button.
  ui().CheckBoxEdit->setChecked(true);
  EXPECT_TRUE(ui().UiBitBtnImportPhotos->isHidden());
  ui().CheckBoxEdit->setChecked(false);
  EXPECT_FALSE(ui().UiBitBtnImportPhotos->isHidden());
}

// --- Find ---

TEST(FindMatchesTest, ModesCompareWholeCharacters) {
  struct Case {
    const char* value;
    const char* text;
    FindMatch match;
    bool found;
  };
  const Case cases[] = {
      {"abc", "abc", FindMatch::kExact, true},
      {"ABC", "abc", FindMatch::kExact, false},  // letter case counts
      {"", "", FindMatch::kExact, true},
      {"张三", "张", FindMatch::kPrefix, true},
      {"李张", "张", FindMatch::kPrefix, false},
      {"李张", "张", FindMatch::kContains, true},
      {"abc", "", FindMatch::kPrefix, false},
      {"abc", "", FindMatch::kContains, false},
      // 癱 is B0 63: its trail byte is "c", which is not a character of the value.
      {"王癱", "c", FindMatch::kContains, false},
      {"癱", "c", FindMatch::kPrefix, false},
      {"王癱c", "c", FindMatch::kContains, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindMatches(G(c.value), G(c.text), c.match), c.found)
        << c.value << " / " << c.text << " / " << static_cast<int>(c.match);
  }
}

class FindTest : public CommandsTest {
 protected:
  void Search(const char* field, const QString& text, int match, int direction) {
    Ui::TFormFind& f = *window_->FormFind()->ui();
    f.ComboBoxField->setCurrentIndex(f.ComboBoxField->findText(QString::fromUtf8(field)));
    f.EditContext->setText(text);
    (match == 0 ? f.RadioMatch0 : match == 1 ? f.RadioMatch1 : f.RadioMatch2)->setChecked(true);
    (direction == 0 ? f.RadioDirection0 : f.RadioDirection1)->setChecked(true);
    f.UiBitBtnFind->click();
  }
};

TEST_F(FindTest, ExactSearchTrimsBothSidesAndShowsTheStudent) {
  Make();
  Open({.students = 6});
  Search("考籍号", QString::fromStdString("  " + KeyOf(4) + " "), 0, 0);
  EXPECT_EQ(ds().RecNo(), 4);
  EXPECT_EQ(ui().LabelZch->text().toStdString(), "考籍号：" + KeyOf(4));
  EXPECT_EQ(ui().DBGridList->currentIndex().row(), 3);
  EXPECT_TRUE(dialogs_.Texts().isEmpty());
  EXPECT_TRUE(window_->session().scroll_refresh());
  EXPECT_FALSE(ds().ControlsDisabled());
  Search("SEQ", QStringLiteral("5"), 0, 0);  // a number by its text form
  EXPECT_EQ(ds().RecNo(), 5);
}

// The field goes by its place in the list: a name whose bytes are not text (0xFF) still works.
TEST_F(FindTest, AFieldIsFoundByItsPlaceWhateverItsName) {
  Make();
  testing::DbfBuilder b;
  b.Field("\xFFN", 'C', 10).Field(G("考籍号"), 'C', 17);
  b.Record({"abc", KeyOf(1)}).Record({"xyz", KeyOf(2)});
  const std::string path = dir_.File("odd.dbf");
  testing::WriteFile(path, b.Build());
  dialogs_.QueueFile(QString::fromStdString(path));
  ui().UiBitBtnOpen->click();
  dialogs_.ClearLog();
  Ui::TFormFind& f = *window_->FormFind()->ui();
  f.ComboBoxField->setCurrentIndex(0);
  f.EditContext->setText(QStringLiteral("xyz"));
  f.RadioMatch0->setChecked(true);
  f.RadioDirection0->setChecked(true);
  f.UiBitBtnFind->click();
  EXPECT_EQ(ds().RecNo(), 2);
  EXPECT_TRUE(dialogs_.Texts().isEmpty()) << dialogs_.Texts().join(QLatin1Char('|')).toStdString();
}

TEST_F(FindTest, DirectionOneStepsThroughMatchesToNotFoundOnTheLastAndTheDialogStaysOpen) {
  Make();
  Open({.students = 12});
  window_->show();
  ui().dbNavBtnFind->click();
  // Names are 学生1 ... 学生12: "学生1" starts the names of students 1, 10, 11 and 12.
  std::vector<int> found;
  Search("姓名", QStringLiteral("学生1"), 1, 0);
  found.push_back(ds().RecNo());
  for (int i = 0; i < 3; ++i) {
    Search("姓名", QStringLiteral("学生1"), 1, 1);
    found.push_back(ds().RecNo());
  }
  EXPECT_EQ(found, (std::vector<int>{1, 10, 11, 12}));
  EXPECT_TRUE(dialogs_.Texts().isEmpty());
  Search("姓名", QStringLiteral("学生1"), 1, 1);
  EXPECT_EQ(LastText(), QStringLiteral("没找到"));
  EXPECT_EQ(dialogs_.log().back().caption, QStringLiteral("提示"));
  EXPECT_EQ(ds().RecNo(), 12);
  EXPECT_EQ(ui().LabelZch->text().toStdString(), "考籍号：" + KeyOf(12));
  EXPECT_TRUE(window_->FormFind()->isVisible());
}

TEST_F(FindTest, EmptyTextFindsNothingInPrefixAndContainsModes) {
  Make();
  Open({.students = 3});
  for (int match : {1, 2}) {
    dialogs_.ClearLog();
    ui().dbNavBtnFirst->click();
    Search("姓名", QString(), match, 0);
    EXPECT_EQ(dialogs_.Texts(), QStringList{QStringLiteral("没找到")});
    EXPECT_EQ(ds().RecNo(), 3);
  }
}

TEST_F(FindTest, NoFieldChosenAsksForOne) {
  Make();
  window_->FormFind()->ui()->UiBitBtnFind->click();
  EXPECT_EQ(dialogs_.Texts(), QStringList{QStringLiteral("请先选择合适的信息项！")});
  EXPECT_EQ(dialogs_.log().back().caption, QStringLiteral("提示"));
}

TEST_F(FindTest, FindButtonAndCtrlFShowTheDialogWhichKeepsItsChoices) {
  Make();
  Open({.students = 3});
  window_->show();
  ui().dbNavBtnFind->click();
  TFormFind* find = window_->FormFind();
  EXPECT_TRUE(find->isVisible());
  EXPECT_EQ(ds().State(), TDataSetState::dsBrowse);
  find->ui()->EditContext->setText(QStringLiteral("学生2"));
  find->ui()->UiBitBtnClose->click();
  EXPECT_TRUE(find->isHidden());
  QTest::keyClick(ui().DBGridList, Qt::Key_F, Qt::ControlModifier);
  EXPECT_TRUE(find->isVisible());
  EXPECT_EQ(find->ui()->EditContext->text(), QStringLiteral("学生2"));
  EXPECT_TRUE(find->windowFlags() & Qt::WindowStaysOnTopHint);
  QTest::keyClick(find, Qt::Key_Escape);
  EXPECT_TRUE(find->isHidden());
}

// --- Export ---

TEST(ExportNameTest, DefaultNameCutsFourBytes) {
  EXPECT_EQ(DefaultExportName("D:\\名单\\高一.dbf"), "D:\\名单\\高一.xls");
  EXPECT_EQ(DefaultExportName("D:\\data.dbase"), "D:\\data.d.xls");
  EXPECT_EQ(DefaultExportName("/x/高一.dbf"), "/x/高一.xls");
  // Four bytes of the name as the roster's text: two Chinese characters, never half of one.
  EXPECT_EQ(DefaultExportName("学生名单"), "学生.xls");
  EXPECT_EQ(DefaultExportName("a学生名"), "a学.xls");
  EXPECT_EQ(DefaultExportName("x名单a"), "x.xls");
}

class ExportTest : public CommandsTest {
 protected:
  std::string Export(const std::string& target) {
    dialogs_.QueueFile(QString::fromStdString(target));
    ui().dbNavBtnExportXls->click();
    return target;
  }
  static bool IsWorkbook(const std::string& path) {
    return testing::ReadFile(path).compare(0, 8, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1") == 0;
  }
};

TEST_F(ExportTest, ProposesTheRosterNameAndReportsTheRecordCount) {
  Make();
  const std::string roster = Open({.students = 4, .deleted = {2}}, "高一.dbf");
  const std::string target = Export(dir_.File("out.xls"));
  EXPECT_EQ(dialogs_.log()[dialogs_.log().size() - 2].file_name.toStdString(),
            DisplayPath(dir_.File("高一.xls")));
  EXPECT_EQ(LastText(), QStringLiteral("导出完毕！\r\r共导出3个学生的信息"));
  EXPECT_TRUE(IsWorkbook(target));
  EXPECT_EQ(ds().State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(window_->session().scroll_refresh());
  (void)roster;
}

TEST_F(ExportTest, OverwriteIsAskedAndAReadOnlyFileIsReplaced) {
  Make();
  Open({.students = 2});
  const std::string target = dir_.File("old.xls");
  testing::WriteFile(target, "old");
  SetReadOnly(target, true);
  dialogs_.QueueAnswer(kIdNo);
  Export(target);
  EXPECT_TRUE(testing::ReadFile(target) == "old") << "the old workbook was replaced";
  EXPECT_EQ(dialogs_.log().back().flags, kMbYesNoDefaultNo);
  EXPECT_EQ(dialogs_.log().back().caption, QStringLiteral("警告"));
  EXPECT_EQ(LastText(), QStringLiteral("目标文件已经存在，是否覆盖？"));
  dialogs_.QueueAnswer(kIdYes);
  Export(target);
  EXPECT_TRUE(IsWorkbook(target));
  EXPECT_EQ(LastText(), QStringLiteral("导出完毕！\r\r共导出2个学生的信息"));
}

TEST_F(ExportTest, AFileHeldByAnotherProgramIsKeptWithTheMessage) {
  Make();
  Open({.students = 2});
  const std::string target = dir_.File("held.xls");
  testing::WriteFile(target, "old");
  auto held = FileSystem::Default().Open(target, Access::kReadWrite, Share::kNone);
  dialogs_.QueueAnswer(kIdYes);
  Export(target);
  EXPECT_EQ(LastText(), QStringLiteral("目标文件无法删除，\r\r请确认是否该文件已经被打开了，或存在其他问题！"));
  EXPECT_TRUE(testing::ReadFile(target) == "old") << "the old workbook was replaced";
}

TEST_F(ExportTest, AFailedExportKeepsTheOldWorkbook) {
  Make();
  Open({.students = 2});
  const std::string target = dir_.File("old.xls");
  testing::WriteFile(target, "old");
  export_fs_.FailRenames(true);
  dialogs_.QueueAnswer(kIdYes);
  Export(target);
  EXPECT_EQ(LastText(), QStringLiteral("导出Excel文件失败！\r\r请确认你是否已经安装了Office软件！"));
  EXPECT_TRUE(testing::ReadFile(target) == "old") << "the old workbook was replaced";
}

TEST_F(ExportTest, DamagedPhotosOnTheWayAreToldOnceAfterTheExport) {
  Make();
  Open({.students = 4});
  AddBadPhoto(2);
  AddBadPhoto(3);
  dialogs_.ClearLog();
  Export(dir_.File("out.xls"));
  EXPECT_EQ(dialogs_.Texts(),
            QStringList{QString::fromStdString(std::string("导出完毕！\r\r共导出4个学生的信息\r\r") +
                                      DamagedPhotosText({KeyOf(2), KeyOf(3)}))});
  EXPECT_GE(progress_shown_, 1);
}

TEST_F(ExportTest, ATableFileIsNeverATarget) {
  Make();
  const std::string roster = Open({.students = 2});
  const std::string before = testing::ReadFile(roster);
  const std::string memo = dir_.File("r.dbt");
  testing::WriteFile(memo, "memo");
  const std::string other = dir_.File("other.DBF");
  for (const std::string& target : {roster, memo, other}) {
    SCOPED_TRACE(target);
    dialogs_.ClearLog();
    Export(target);
    EXPECT_EQ(dialogs_.Texts(), QStringList{QStringLiteral("不能用学生数据文件作为导出文件！")});
  }
  EXPECT_EQ(testing::ReadFile(roster), before);
  EXPECT_EQ(testing::ReadFile(memo), "memo");
  EXPECT_FALSE(PathExists(other));
}

// --- Guide and about box ---

TEST_F(CommandsTest, GuideShowsTheProgramFolderAndClosesWithEnterOrEsc) {
  Make();
  for (int key : {Qt::Key_Return, Qt::Key_Escape}) {
    bool shown = false;
    modal_ = [&](QDialog& d) {
      shown = true;
      auto& guide = dynamic_cast<TFormDataUp&>(d);
      EXPECT_EQ(guide.windowTitle(), QStringLiteral("上报"));
      EXPECT_EQ(guide.size(), QSize(911, 503));
      EXPECT_FALSE(guide.windowFlags() & Qt::WindowCloseButtonHint);
      EXPECT_FALSE(guide.windowFlags() & Qt::WindowSystemMenuHint);
      EXPECT_EQ(guide.UiLabel7()->text().toStdString(), "（例如: " + DisplayPath(dir_.path() + "/照片/") + " ）");
      guide.show();
      QTest::keyClick(&guide, static_cast<Qt::Key>(key));
      EXPECT_TRUE(guide.isHidden()) << key;
    };
    ui().UiBitBtn1->click();
    EXPECT_TRUE(shown);
  }
}

TEST_F(CommandsTest, AboutBoxShowsVersionAndTheMachine) {
  Make();
  bool shown = false;
  modal_ = [&](QDialog& d) {
    shown = true;
    EXPECT_EQ(d.windowTitle(), QStringLiteral("关于本软件"));
    EXPECT_EQ(d.findChild<QLabel*>(QStringLiteral("Version"))->text(), QStringLiteral("Version 2011.10.28.0"));
    const QString system = d.findChild<QLabel*>(QStringLiteral("SystemInfo"))->text();
    EXPECT_TRUE(system.contains(QStringLiteral(" KB\n"))) << system.toStdString();
    EXPECT_TRUE(system.endsWith(QStringLiteral(" or compatible"))) << system.toStdString();
  };
  ui().SpeedButton1->click();
  EXPECT_TRUE(shown);
  const SystemInfo info = ReadSystemInfo();
  EXPECT_GT(info.memory_kb, 0);
  EXPECT_GT(info.processors, 0);
  EXPECT_NE(info.processor_type, "Unknown processor");
  EXPECT_EQ(SystemInfoText({2048, 2, "Intel Pentium"}), "2048 KB\r2x Intel Pentium or compatible");
}


// --- Record maintenance ---

TEST_F(CommandsTest, MaintenanceCheckBoxIsHiddenUnlessAskedFor) {
  Make();
  Open({.students = 2});
  EXPECT_TRUE(ui().CheckBoxEdit->isHidden());
  EXPECT_TRUE(ui().dbNavBtnDelete->isHidden());
  window_.reset();
  CaptureResetForTests();
  TFormMain::Options o;
  o.program_dir = dir_.path() + "/";
  o.dialogs = &dialogs_;
  o.screen_width = [] { return 1280; };
  o.maintenance = true;
  window_ = std::make_unique<TFormMain>(std::move(o));
  EXPECT_FALSE(ui().CheckBoxEdit->isHidden());
  EXPECT_FALSE(ui().CheckBoxEdit->isChecked());
  ui().CheckBoxEdit->setChecked(true);
  for (DataButton* b : {ui().dbNavBtnDelete, ui().dbNavBtnNew, ui().dbNavBtnSave, ui().dbNavBtnCancel}) {
    EXPECT_FALSE(b->isHidden()) << b->objectName().toStdString();
  }
  EXPECT_EQ(ui().DBGridList->selectionBehavior(), QAbstractItemView::SelectItems);
}

TEST_F(CommandsTest, DeletingAStudentPacksRemovesThePhotoAndPositions) {
  struct Case {
    int students;
    int deleted;
    int recno_after;  // 0: empty table
    int key_after;
    std::set<int> earlier = {};  // deleted before
  };
  // With records 2 and 3 deleted earlier, deleting the fifth student makes the sixth current
  // (record 3 after the pack), not the eighth.
  const std::set<int> earlier{2, 3};
  for (const Case& c : {Case{5, 3, 3, 4}, Case{5, 5, 4, 4}, Case{1, 1, 0, 0}, Case{8, 5, 3, 6, earlier}}) {
    SCOPED_TRACE(c.deleted);
    window_.reset();
    CaptureResetForTests();
    Make();
    Open({.students = c.students, .deleted = c.earlier},
         "d" + std::to_string(c.students) + std::to_string(c.deleted) + ".dbf");
    AddPhoto(c.deleted);
    ds().SetRecNo(c.deleted);
    ui().UiPageControlDetail->setCurrentWidget(ui().TabSheetDescript);
    dialogs_.QueueAnswer(kIdYes);
    dialogs_.QueueAnswer(kIdYes);
    dialogs_.ClearLog();
    ui().dbNavBtnDelete->Press();
    ASSERT_EQ(dialogs_.log().size(), 2u);
    EXPECT_EQ(dialogs_.log()[0].text.split(QLatin1Char('\r')).size(), 7);
    EXPECT_EQ(dialogs_.log()[0].caption, QStringLiteral("确认"));
    EXPECT_EQ(dialogs_.log()[1].caption, QStringLiteral("再次确认"));
    EXPECT_EQ(dialogs_.log()[1].flags, kMbYesNoDefaultNo);
    EXPECT_EQ(ds().RecordCount(), c.students - 1 - static_cast<int>(c.earlier.size()));
    EXPECT_FALSE(PathExists(PhotoPath(c.deleted)));
    EXPECT_TRUE(ui().PanelPack->isHidden());
    EXPECT_EQ(ui().UiPageControlDetail->currentWidget(), ui().TabSheetPhoto);
    if (c.recno_after > 0) {
      EXPECT_EQ(ds().RecNo(), c.recno_after);
      EXPECT_EQ(ui().LabelZch->text().toStdString(), "考籍号：" + KeyOf(c.key_after));
    }
  }
}

TEST_F(CommandsTest, PendingNewStudentIsARowOfItsOwnWhereItWillBePlaced) {
  Make();
  Open({.students = 5});
  ui().CheckBoxEdit->setChecked(true);
  QAbstractItemModelTester tester(window_->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
  RosterModel& m = *window_->model();
  const auto key = [&](int row) { return m.data(m.index(row, 1)).toString().trimmed().toStdString(); };
  struct Case {
    bool append;
    bool post;
    int pending_row;
    int row_after;  // the current row once posted or cancelled
  };
  for (const Case& c : {Case{false, false, 2, 2}, Case{true, false, 5, 2}, Case{false, true, 2, 5}}) {
    SCOPED_TRACE(::testing::Message() << c.append << c.post);
    ds().SetRecNo(3);
    c.append ? ds().Append() : ds().Insert();
    ASSERT_EQ(m.rowCount(), 6);
    EXPECT_EQ(m.PendingRow(), c.pending_row);
    EXPECT_EQ(m.CurrentRow(), c.pending_row);
    EXPECT_EQ(m.headerData(c.pending_row, Qt::Vertical).toString(), QStringLiteral("▶"));
    EXPECT_EQ(key(c.pending_row), "");
    // The stored students keep their order around the pending row.
    EXPECT_EQ(key(c.append ? 2 : 3), KeyOf(3));
    EXPECT_EQ(key(c.append ? 4 : 5), KeyOf(5));
    EXPECT_EQ(m.RecNoOfRow(c.pending_row), 0);
    EXPECT_TRUE(m.setData(m.index(c.pending_row, 1), QStringLiteral("77")));
    EXPECT_EQ(key(c.pending_row), "77");
    c.post ? ds().Post() : ds().Cancel();
    EXPECT_EQ(m.PendingRow(), -1);
    EXPECT_EQ(m.rowCount(), c.post ? 6 : 5);
    EXPECT_EQ(m.CurrentRow(), c.row_after);
    EXPECT_EQ(key(c.row_after), c.post ? "77" : KeyOf(3));
  }
}

TEST_F(CommandsTest, PackageNamesAMissingRosterAndForgetsAnEarlierRostersPosition) {
  Make();
  window_->UiBitBtnPackageClick();
  EXPECT_EQ(LastText(), QString::fromUtf8(kMsgNoRosterToPackage));
  Open({.students = 12});
  ui().dbNavBtnLast->Press();
  Open({.students = 2, .deleted = {1, 2}}, "empty.dbf");
  dialogs_.ClearLog();
  window_->UiBitBtnPackageClick();
  ASSERT_EQ(dialogs_.Texts().size(), 1);
  EXPECT_TRUE(LastText().endsWith(QString::fromUtf8(kMsgNothingToPackage))) << LastText().toStdString();
}

TEST_F(CommandsTest, MaintenanceGridKeepsTypedTextAndHasItsKeys) {
  maintenance_ = true;
  Make();
  Open({.students = 3});
  ui().CheckBoxEdit->setChecked(true);
  QTableView* grid = ui().DBGridList;
  const int name_column = ds().FieldByName(G("姓名")).Index();
  const auto name_of = [&](int recno) {
    TRecordView view(ds());
    view.Load(recno);
    return Trim(ds().FieldByName(G("姓名")).AsString(view));
  };
  // Typing starts the record's edit at once: closing is refused, nothing is lost.
  const QModelIndex cell = window_->model()->index(0, name_column);
  grid->setCurrentIndex(cell);
  grid->edit(cell);
  auto* editor = grid->viewport()->findChild<QLineEdit*>();
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, QStringLiteral("Li Ming"));
  EXPECT_EQ(ds().State(), TDataSetState::dsEdit);
  EXPECT_FALSE(window_->FormCloseQuery());
  // A button pressed by its Alt key (the editor keeps the focus) stores the typed text too.
  ui().dbNavBtnSave->Press();
  EXPECT_EQ(ds().State(), TDataSetState::dsBrowse);
  EXPECT_EQ(name_of(1), "Li Ming");
  // Esc on the grid discards the record's edit; Insert inserts; Down past the last appends.
  grid->setFocus();
  ds().Edit();
  QTest::keyClick(grid, Qt::Key_Escape);
  EXPECT_EQ(ds().State(), TDataSetState::dsBrowse);
  QTest::keyClick(grid, Qt::Key_Insert);
  EXPECT_EQ(ds().State(), TDataSetState::dsInsert);
  QTest::keyClick(grid, Qt::Key_Escape);
  ds().Last();
  QTest::keyClick(grid, Qt::Key_Down);
  EXPECT_EQ(ds().State(), TDataSetState::dsInsert);
  EXPECT_EQ(ds().NewRecordPlace(), TNewRecordPlace::kAppend);
  ds().Cancel();
  EXPECT_EQ(ds().RecordCount(), 3);
  // Leaving the mode during an edit stores it instead of leaving a read-only grid stuck.
  ds().SetRecNo(2);
  ds().Edit();
  ds().FieldByName(G("姓名")).SetAsString(G("改"));
  ui().CheckBoxEdit->setChecked(false);
  EXPECT_EQ(ds().State(), TDataSetState::dsBrowse);
  EXPECT_EQ(name_of(2), G("改"));
  EXPECT_TRUE(window_->FormCloseQuery());
  dialogs_.ClearLog();
}

TEST_F(CommandsTest, AnsweringNoDeletesNothing) {
  Make();
  Open({.students = 3});
  AddPhoto(1);
  dialogs_.QueueAnswer(kIdYes);
  dialogs_.QueueAnswer(kIdNo);
  ui().dbNavBtnDelete->Press();
  EXPECT_EQ(ds().RecordCount(), 3);
  EXPECT_TRUE(PathExists(PhotoPath(1)));
}

TEST(DeleteStudentTest, QuestionOmitsMissingFieldsAndAFailedPackKeepsThePhoto) {
  TempDir dir;
  FaultFileSystem fs;
  RosterSession bare(dir.path() + "/", fs);
  ASSERT_TRUE(bare.Open(WriteRoster(dir, "bare.dbf", {.with_key = false, .with_name_sex = false})).opened);
  EXPECT_EQ(DeleteQuestionText(bare), "确认要删除该学生吗？\r\r若有与之对应的照片，也将被删除");
  bare.dataset().Close();

  RosterSession session(dir.path() + "/", fs);
  ASSERT_TRUE(session.Open(WriteRoster(dir, "r.dbf", {.students = 3})).opened);
  EXPECT_EQ(DeleteQuestionText(session), "确认要删除该学生吗？\r\r考籍号：" + KeyOf(1) +
                                              "\r\r姓名：学生1\r\r若有与之对应的照片，也将被删除");
  const std::string photo = *session.CurrentPhotoPath();
  ForceDirectories(dir.path() + "/照片/");
  testing::WriteFile(photo, "jpeg");
  fs.FailRenames(true);
  int shown = 0;
  int hidden = 0;
  EXPECT_ANY_THROW(DeleteCurrentStudent(session, [&](bool on) { ++(on ? shown : hidden); }));
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(hidden, 1);
  EXPECT_TRUE(PathExists(photo));
}

TEST(WalkTest, AWalkFailingHalfWayRestoresRefreshAndControls) {
  TempDir dir;
  RosterSession session(dir.path() + "/");
  const std::string path = WriteRoster(dir, "w.dbf", {.students = 5000});
  ASSERT_TRUE(session.Open(path).opened);
  // Another program cuts the file short under the open roster: the walks fail half way.
#ifdef _WIN32
  GTEST_SKIP() << "Windows lets no other program cut a file this program holds open";
#endif
  std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
  const FindRequest request{session.dataset().FieldByName(G("姓名")).Index(), G("无此人"),
                            FindMatch::kContains, FindDirection::kFromFirst};
  const std::function<void()> walks[] = {
      [&] { CountMissingPhotos(session); },
      [&] { FindRecord(session, request); },
  };
  for (const auto& walk : walks) {
    session.dataset().SetRecNo(7);
    EXPECT_ANY_THROW(walk());
    EXPECT_TRUE(session.scroll_refresh());
    EXPECT_FALSE(session.dataset().ControlsDisabled());
  }
}

}  // namespace
}  // namespace mirestal

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
