// mirestal-tour OUTDIR [ROSTER]: drives the real main window offscreen with scripted dialogs and
// the synthetic camera through the main job (open a roster, move through it, capture and save
// two photos, show a stored photo, delete one), the roster commands (count the missing and the
// invalid photos, the upload package OUTDIR/upload.zip, find, export to OUTDIR/roster.xls, the
// photo report guide, the about box), the maintenance mode (add a student, delete one) and the
// guided framing (the next student without a photo, the advice line, "自动取景", the automatic
// capture), and
// saves a screenshot of the whole window (or of the dialog
// shown) after each step as OUTDIR/NN-step.png, and every message the program showed to
// OUTDIR/messages.txt. OUTDIR is also the program folder: photos land in OUTDIR/照片/.
#include <QApplication>
#include <QPainter>
#include <QProgressDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QPixmap>
#include <QTableView>
#include <QTextStream>
#include <QWheelEvent>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "app/dialogs.h"
#include "app/form_find.h"
#include "app/main_window.h"
#include "capture/jpeg.h"
#include "capture/testcard.h"
#include "import/spreadsheet_adapter.h"
#include "platform/gbk.h"
#include "table/dataset.h"
#include "ui_form_find.h"
#include "capture/qt/qt_capture.h"
#include "ui_main_window.h"

#ifndef MIRESTAL_EXAMPLE_ROSTER
#define MIRESTAL_EXAMPLE_ROSTER "examples/roster.dbf"
#endif

namespace {

using mirestal::TFormMain;

// Processes events until `done` holds or `ms` pass; false on time-out.
bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

class Tour {
 public:
  Tour(QString out, TFormMain& window) : out_(std::move(out)), window_(window) {}

  void Shot(const char* step) { ShotOf(&window_, step); }
  // The main window with a dialog of its own drawn where it stands over it.
  void ShotWithDialog(QWidget* dialog, const char* step) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QPixmap picture = window_.grab();
    {
      QPainter painter(&picture);
      painter.drawPixmap(dialog->mapToGlobal(QPoint(0, 0)) - window_.mapToGlobal(QPoint(0, 0)),
                         dialog->grab());
    }
    const QString name = QStringLiteral("%1/%2-%3.png").arg(out_).arg(++shot_, 2, 10, QLatin1Char('0')).arg(QLatin1String(step));
    if (!picture.save(name)) std::fprintf(stderr, "cannot save %s\n", qPrintable(name));
    std::printf("%s  %s\n", qPrintable(name), qPrintable(window_.ui()->DBStatusLabel1->text()));
  }
  void ShotOf(QWidget* widget, const char* step) {
    QCoreApplication::processEvents();
    const QString name = QStringLiteral("%1/%2-%3.png").arg(out_).arg(++shot_, 2, 10, QLatin1Char('0')).arg(QLatin1String(step));
    if (!widget->grab().save(name)) std::fprintf(stderr, "cannot save %s\n", qPrintable(name));
    std::printf("%s  %s\n", qPrintable(name), qPrintable(window_.ui()->DBStatusLabel1->text()));
  }

 private:
  QString out_;
  TFormMain& window_;
  int shot_ = 0;
};

void Key(QWidget* target, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(target, &press);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mirestal-tour OUTDIR [ROSTER]\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qputenv("MIRESTAL_CAMERA", "testcard");
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(mirestal::kApplicationTitle));

  const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
  const QString source_roster = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(MIRESTAL_EXAMPLE_ROSTER);
  if (!QDir().mkpath(out)) {
    std::fprintf(stderr, "cannot create %s\n", qPrintable(out));
    return 1;
  }
  const QString roster = out + QStringLiteral("/roster.dbf");
  QFile::remove(roster);
  if (!QFile::copy(source_roster, roster)) {
    std::fprintf(stderr, "cannot copy %s to %s\n", qPrintable(source_roster), qPrintable(roster));
    return 1;
  }
  QDir(out + QStringLiteral("/照片")).removeRecursively();

  mirestal::ScriptedDialogs dialogs;
  int status = 0;
  {
    TFormMain::Options options;
    options.program_dir = out.toStdString() + "/";
    options.dialogs = &dialogs;
    options.screen_width = [] { return 1280; };
    // Modal windows are photographed and closed with their default button (Enter).
    Tour* current_tour = nullptr;
    const char* modal_step = "";
    options.show_modal = [&](QDialog& d) {
      d.show();
      // The import's list is shown twice: before storing and with the results.
      const char* step = d.windowTitle() == QString::fromUtf8(mirestal::kImportDoneTitle) ? "import-summary" : modal_step;
      if (current_tour) current_tour->ShotOf(&d, step);
      Key(&d, Qt::Key_Return);
    };
    // Long work shows its progress dialog at once, and each is photographed over the window.
    options.progress_delay_ms = 0;
    options.progress_shown = [&](QProgressDialog& d) {
      if (current_tour) current_tour->ShotWithDialog(&d, "progress");
    };
    TFormMain window(std::move(options));
    window.show();
    QApplication::setActiveWindow(&window);
    auto& ui = *window.ui();
    Tour tour(out, window);
    current_tour = &tour;
    auto* preview = ui.VideoPanel->findChild<mirestal::PreviewWidget*>();
    WaitFor([&] { return preview && preview->frames_shown() > 0; });
    tour.Shot("start");

    dialogs.QueueFile(roster);
    ui.UiBitBtnOpen->click();
    tour.Shot("open-roster");

    for (int i = 0; i < 4; ++i) ui.dbNavBtnNext->click();
    tour.Shot("next-button-4x");

    ui.DBGridList->setFocus();
    Key(ui.DBGridList, Qt::Key_Down);
    Key(ui.DBGridList, Qt::Key_Down);
    tour.Shot("grid-down-keys");

    // One wheel event reporting three notches towards the user: one row down.
    const QPointF at(20, 20);
    QWheelEvent wheel(at, ui.DBGridList->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -360),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(ui.DBGridList->viewport(), &wheel);
    tour.Shot("wheel-one-row");

    dialogs.QueueAnswer(mirestal::kIdYes);
    ui.UiBitBtnCatchPhoto->click();
    tour.Shot("capture-confirmed");

    ui.dbNavBtnNext->click();
    ui.UiCheckBoxSaveAtOnce->setChecked(true);
    ui.TrackBarHor->setValue(60);
    ui.TrackBarVer->setValue(30);
    ui.UiBitBtnCatchPhoto->click();
    tour.Shot("capture-save-at-once");

    ui.dbNavBtnPrior1->click();
    tour.Shot("stored-photo");

    dialogs.QueueAnswer(mirestal::kIdYes);
    ui.UiBitBtnDeletePhoto->click();
    tour.Shot("photo-deleted");

    ui.dbNavBtnLast->click();
    tour.Shot("last-student");

    // Photo coverage: the students with a valid photo have a green key cell, the third student a
    // cut-off copy of it (pale red); the count keeps the place and names the invalid one.
    ui.dbNavBtnFirst->click();
    ui.dbNavBtnNext->click();
    ui.dbNavBtnNext->click();
    if (const auto damaged = window.session().CurrentPhotoPath()) {
      const QStringList stored = QDir(out + QStringLiteral("/照片")).entryList({QStringLiteral("*.jpg")});
      QFile source(out + QStringLiteral("/照片/") + stored.value(0));
      QFile target(QString::fromStdString(*damaged));
      if (source.open(QIODevice::ReadOnly) && target.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        target.write(source.read(source.size() / 2));
      }
    }
    ui.dbNavBtnNext->click();
    ui.dbNavBtnEditSum->click();
    tour.Shot("missing-photo-count");

    // The upload package: the check's summary, Yes, and OUTDIR/upload.zip with the valid photo.
    const QString package = out + QStringLiteral("/upload.zip");
    QFile::remove(package);
    dialogs.QueueAnswer(mirestal::kIdYes);
    dialogs.QueueFile(package);
    ui.UiBitBtnPackage->click();
    tour.Shot("upload-package");

    // Photos from a camera: a folder of pictures named by registration number, by name, with a
    // copy suffix, one without a face, one nobody's, and a note. The list, then the results;
    // the key cells of the students imported turn green.
    const QString camera = out + QStringLiteral("/camera");
    QDir(camera).removeRecursively();
    QDir().mkpath(camera);
    const auto write = [&](const QString& name, const std::string& bytes) {
      QFile f(camera + QLatin1Char('/') + name);
      if (f.open(QIODevice::WriteOnly)) f.write(bytes.data(), static_cast<qint64>(bytes.size()));
    };
    const mirestal::Bitmap portrait = mirestal::RenderTestCard(1280, 960, 0, mirestal::TestCardPicture::kPortrait);
    write(QStringLiteral("11010092026100148.jpg"), mirestal::EncodeJpeg(portrait));
    write(QStringLiteral("龙秀国.jpg"), mirestal::EncodeJpeg(mirestal::RenderTestCard(960, 1280, 3, mirestal::TestCardPicture::kPortrait)));
    write(QStringLiteral("11010052026100296 (1).jpg"), mirestal::EncodeJpeg(mirestal::RenderTestCard(800, 600, 9, mirestal::TestCardPicture::kPortrait)));
    write(QStringLiteral("11010142026100333.jpg"), mirestal::EncodeJpeg(mirestal::Bitmap(640, 480)));
    write(QStringLiteral("IMG_0001.jpg"), mirestal::EncodeJpeg(portrait));
    write(QStringLiteral("说明.txt"), "class 3\n");
    dialogs.QueueFile(camera);
    modal_step = "import-list";
    ui.UiBitBtnImportPhotos->click();
    modal_step = "";
    tour.Shot("photos-imported");

    // Find: a name by its first character, then the next one, then a number nobody has.
    auto& find = *window.FormFind()->ui();
    ui.dbNavBtnFind->click();
    find.ComboBoxField->setCurrentIndex(find.ComboBoxField->findText(QStringLiteral("姓名")));
    find.EditContext->setText(QStringLiteral("王"));
    find.RadioMatch1->setChecked(true);
    find.UiBitBtnFind->click();
    tour.Shot("find-found");
    tour.ShotOf(window.FormFind(), "find-dialog");
    find.ComboBoxField->setCurrentIndex(find.ComboBoxField->findText(QStringLiteral("考籍号")));
    find.EditContext->setText(QStringLiteral("99999999999999999"));
    find.RadioMatch0->setChecked(true);
    find.UiBitBtnFind->click();
    tour.Shot("find-not-found");
    find.UiBitBtnClose->click();

    // Export to OUTDIR/roster.xls (asked to overwrite when a previous tour left one).
    const QString workbook = out + QStringLiteral("/roster.xls");
    if (QFile::exists(workbook)) dialogs.QueueAnswer(mirestal::kIdYes);
    dialogs.QueueFile(workbook);
    ui.dbNavBtnExportXls->click();
    tour.Shot("export");

    // The workbook just exported, converted back into a table beside it by the spreadsheet
    // application (a copy: the open roster itself is never a conversion's target).
    const QString book = out + QStringLiteral("/converted.xls");
    QFile::remove(book);
    QFile::remove(out + QStringLiteral("/converted.dbf"));
    QFile::copy(workbook, book);
    mirestal::RegisterSpreadsheetAdapter();
    dialogs.QueueFile(book);
    ui.UiBitBtn2->click();
    tour.Shot("workbook-converted");

    modal_step = "guide";
    ui.UiBitBtn1->click();
    modal_step = "about";
    ui.SpeedButton1->click();

    // The maintenance mode, as the start option --maintenance offers it.
    ui.CheckBoxEdit->show();
    ui.CheckBoxEdit->setChecked(true);
    tour.Shot("maintenance-on");
    ui.dbNavBtnLast->click();
    ui.dbNavBtnNew->click();
    mirestal::TTableDataSet& ds = window.session().dataset();
    ds.FieldByName(mirestal::Utf8ToGbkLossy("考籍号")).SetAsString("20269999999999999");
    ds.FieldByName(mirestal::Utf8ToGbkLossy("姓名")).SetAsString(mirestal::Utf8ToGbkLossy("新同学"));
    tour.Shot("maintenance-adding");
    ui.dbNavBtnSave->click();
    tour.Shot("maintenance-added");
    dialogs.QueueAnswer(mirestal::kIdYes);
    dialogs.QueueAnswer(mirestal::kIdYes);
    ui.dbNavBtnDelete->click();
    tour.Shot("maintenance-deleted");
    ui.CheckBoxEdit->setChecked(false);
    ui.CheckBoxEdit->hide();

    // Guided framing: the next student without a photo, the advice line with the frame put off
    // the face, "自动取景", then following and the automatic capture (stored at once, as the
    // check box below the preview is still ticked).
    ui.UiBitBtnNextStudent->click();
    ui.TrackBarHor->setValue(0);
    ui.TrackBarVer->setValue(0);
    WaitFor([&] { return ui.UiLabelAdvice->text() == QStringLiteral("请把头移到画面中间"); });
    tour.Shot("advice-frame-off-face");
    ui.UiBitBtnAutoFrame->click();
    tour.Shot("auto-frame");
    const std::optional<std::string> auto_photo = window.session().CurrentPhotoPath();
    ui.UiCheckBoxFollowFace->setChecked(true);
    ui.UiCheckBoxAutoCatch->setChecked(true);
    if (!auto_photo || !WaitFor([&] { return QFile::exists(QString::fromStdString(*auto_photo)); }, 30000)) {
      std::fprintf(stderr, "the automatic capture stored no photo\n");
      status = 1;
    }
    tour.Shot("auto-capture");
    ui.UiCheckBoxAutoCatch->setChecked(false);
    ui.UiCheckBoxFollowFace->setChecked(false);

    if (!dialogs.unexpected().isEmpty()) {
      for (const QString& u : dialogs.unexpected()) std::fprintf(stderr, "unexpected %s\n", qPrintable(u));
      status = 1;
    }
  }

  QFile messages(out + QStringLiteral("/messages.txt"));
  if (!messages.open(QIODevice::WriteOnly | QIODevice::Truncate)) return 1;
  QTextStream text(&messages);
  for (QString m : dialogs.Texts()) text << m.replace(QLatin1Char('\r'), QStringLiteral("\\r")) << '\n';
  std::printf("screenshots and messages.txt in %s\n", qPrintable(out));
  return status;
}
