#include "app/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetrics>
#include <QHeaderView>
#include <QKeyEvent>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <atomic>
#include <chrono>
#include <exception>
#include <thread>

#include "app/data_button.h"
#include "app/form_find.h"
#include "app/form_import_photos.h"
#include "app/gbk_qt.h"
#include "app/guard.h"
#include "app/info_windows.h"
#include "app/photo_box.h"
#include "core/roster_commands.h"
#include "app/roster_model.h"
#include "capture/crop.h"
#include "capture/face/face_detector.h"
#include "capture/face/photo_advice.h"
#include "capture/face/photo_import.h"
#include "capture/photo_package.h"
#include "capture/pipeline.h"
#include "capture/qt/qt_capture.h"
#include "capture/video_cap.h"
#include "import/xls_to_dbf.h"
#include "platform/gbk.h"
#include "platform/text.h"
#include "xls/xls_export.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/target_rule.h"
#include "ui_main_window.h"

// The usage document is a resource of this static library; its registration must be asked for.
static void InitUsageResource() { Q_INIT_RESOURCE(usage); }

namespace mirestal {

namespace {

constexpr int kMinScreenWidth = 1024;
constexpr int kFrameLimit = 45;
constexpr int kStatusMessageMs = 8000;  // how long a capture's note stays in the status bar
// The live analysis looks for a new frame at the preview's own rate; a frame that comes while the
// worker is busy is not taken, so the worker runs at the rate the machine allows up to this.
constexpr int kFramingTickMs = 40;

// The window manager's frame around a window (zero before it is framed).
QMargins FrameMargins(const QWidget& window) {
  const QRect frame = window.frameGeometry();
  const QRect inside = window.geometry();
  return QMargins(inside.left() - frame.left(), inside.top() - frame.top(),
                  frame.right() - inside.right(), frame.bottom() - inside.bottom());
}

}  // namespace

// Draws the grid's data cells through the window's hook; in the maintenance mode the first
// keystroke in a cell editor starts the record's edit.
class TFormMain::GridDelegate : public QStyledItemDelegate {
 public:
  GridDelegate(TFormMain* window, QObject* parent) : QStyledItemDelegate(parent), window_(window) {}
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override {
    window_->DBGridListDrawColumnCell(painter, option, index, [&] {
      QStyledItemDelegate::paint(painter, option, index);
    });
  }
  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
      const int row = index.row();
      connect(line, &QLineEdit::textEdited, line, [this, row] { window_->BeginCellEdit(row); });
    }
    editor_ = editor;
    return editor;
  }
  // The cell editor open now; null when none.
  QWidget* editor() const { return editor_.data(); }
  // Hands the open editor's text to the model.
  void Commit() {
    if (QWidget* e = editor_.data()) emit const_cast<GridDelegate*>(this)->commitData(e);
  }

 private:
  TFormMain* window_;
  mutable QPointer<QWidget> editor_;
};

// The window's binding to the roster's data source: state changes and data notices. The notices
// come from inside the dataset, often from the destructor of a walk scope while an error
// unwinds: nothing may be thrown out of them.
class TFormMain::DataSourceLink : public TDataLink {
 public:
  explicit DataSourceLink(TFormMain& window) : window_(window) {
    window_.session().dataset().AddDataLink(this);
  }
  ~DataSourceLink() override { window_.session().dataset().RemoveDataLink(this); }
  void StateChanged() override {
    Safely([this] {
      window_.DataSourceDbfStateChange();
      Refresh();
    });
  }
  void DataSetChanged() override { Safely([this] { Refresh(); }); }
  void DataSetScrolled() override { Safely([this] { Refresh(); }); }

 private:
  void Refresh() {
    window_.UpdateDataButtons();
    window_.UpdatePositionLabel();
  }
  void Safely(const std::function<void()>& notice) {
    RunNoticeGuarded(notice, [this](const std::string& message) { window_.ReportLater(message); });
  }
  TFormMain& window_;
};

// A progress dialog owned by the main window for work that can take more than about half a
// second. It has no cancel button: the work it shows writes files or must finish. A total of 0
// shows a busy indicator.
class TFormMain::Progress {
 public:
  Progress(TFormMain& window, const char* label, int total)
      : window_(window),
        dialog_(QString::fromUtf8(label), QString(), 0, total, &window) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    dialog_.setWindowTitle(QString::fromUtf8(kApplicationTitle));
    // Application-modal: the find dialog must not move the roster under a walk either.
    dialog_.setWindowModality(Qt::ApplicationModal);
    dialog_.setAutoClose(false);
    dialog_.setAutoReset(false);
    dialog_.setMinimumDuration(window.options_.progress_delay_ms);
    dialog_.setValue(0);
    if (total == 0) Show();  // nothing would tell it later that the work goes on
  }
  ~Progress() { QApplication::restoreOverrideCursor(); }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Each update lets the event loop run: the dialog is brought up to date about 30 times a
  // second, not once per student.
  void Step(int done) {
    done = std::min(done, dialog_.maximum());
    if (done == dialog_.value()) return;
    if (done < dialog_.maximum() && since_update_.isValid() && since_update_.elapsed() < 33) return;
    since_update_.start();
    dialog_.setValue(done);
    Noticed();
  }
  void SetTotal(int total) { dialog_.setMaximum(total); }
  void Show() {
    dialog_.show();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    Noticed();
  }
  // Hidden while a message is shown in the middle of the work.
  void Hide() { dialog_.hide(); }

 private:
  void Noticed() {
    if (told_ || !dialog_.isVisible()) return;
    told_ = true;
    if (window_.options_.progress_shown) window_.options_.progress_shown(dialog_);
  }
  TFormMain& window_;
  QProgressDialog dialog_;
  QElapsedTimer since_update_;
  bool told_ = false;
};

// The export that runs now: its progress, and the photos the panel could not show on the way.
struct TFormMain::ExportRun {
  Progress* progress = nullptr;
  int walked = 0;
  std::vector<std::string> damaged_keys;  // UTF-8
};

// The capture module's status label (VideoLabel, hidden).
class TFormMain::StatusLabel : public CaptureStatusLabel {
 public:
  explicit StatusLabel(QLabel* label) : label_(label) {}
  void SetCaption(const std::string& text) override { label_->setText(Utf8ToQString(text)); }
  void Repaint() override { label_->repaint(); }

 private:
  QLabel* label_;
};

TFormMain::TFormMain(Options options, QWidget* parent)
    : QMainWindow(parent),
      ui_(std::make_unique<Ui::TFormMain>()),
      options_(std::move(options)),
      dialogs_(options_.dialogs) {
  ui_->setupUi(this);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  std::string dir = options_.program_dir.empty() ? ExecutableDirectory() : options_.program_dir;
  if (dir.back() != '/') dir += '/';
  session_ = std::make_unique<RosterSession>(dir);
  capture_ = std::make_unique<PhotoCapture>(session_->store());
  SetUpGrid();
  SetUpDataButtons();
  link_ = std::make_unique<DataSourceLink>(*this);
  session_->dataset().AfterScroll = [this](TTableDataSet&) { DbfAfterScroll(); };
  session_->dataset().AfterOpen = [this](TTableDataSet&) { model_->TableOpened(); };

  auto* authority = new QLabel(QString::fromUtf8(kStatusAuthority));
  authority->setFixedWidth(220);
  ui_->StatusBar1->addWidget(authority);
  ui_->StatusBar1->addWidget(new QLabel(QString::fromUtf8(kStatusAuthor)), 1);
  ui_->StatusBar1->setSizeGripEnabled(false);
  ui_->UiPageControlDetail->setIconSize(QSize(16, 16));
  ui_->UiPageControlDetail->setTabIcon(0, style()->standardIcon(QStyle::SP_FileDialogInfoView));
  ui_->UiPageControlDetail->setTabIcon(1, style()->standardIcon(QStyle::SP_ComputerIcon));

  connect(ui_->UiBitBtnOpen, &QPushButton::clicked, this, [this] { Guarded([this] { UiBitBtnOpenClick(); }); });
  connect(ui_->UiBitBtn2, &QPushButton::clicked, this, [this] { Guarded([this] { UiBitBtn2Click(); }); });
  connect(ui_->UiBitBtnDeletePhoto, &QPushButton::clicked, this,
          [this] { Guarded([this] { UiBitBtnDeletePhotoClick(); }); });
  connect(ui_->UiBitBtnCatchPhoto, &QPushButton::clicked, this,
          [this] { Guarded([this] { UiBitBtnCatchPhotoClick(); }); });
  connect(ui_->UiBitBtnFormat, &QPushButton::clicked, this, [this] { Guarded([this] { UiBitBtnFormatClick(); }); });
  connect(ui_->UiBitBtnSrc, &QPushButton::clicked, this, [this] { Guarded([this] { UiBitBtnSrcClick(); }); });
  connect(ui_->TrackBarHor, &QSlider::valueChanged, this, [this] { Guarded([this] { UpdateFrameMarkers(); }); });
  connect(ui_->TrackBarVer, &QSlider::valueChanged, this, [this] { Guarded([this] { UpdateFrameMarkers(); }); });
  connect(ui_->UiBitBtnAutoFrame, &QPushButton::clicked, this,
          [this] { Guarded([this] { UiBitBtnAutoFrameClick(); }); });
  connect(ui_->UiBitBtnNextStudent, &QPushButton::clicked, this,
          [this] { Guarded([this] { UiBitBtnNextStudentClick(); }); });
  connect(ui_->UiCheckBoxFollowFace, &QCheckBox::toggled, this,
          [this](bool on) { assistant_.set_follow(on); });
  connect(ui_->UiCheckBoxAutoCatch, &QCheckBox::toggled, this,
          [this](bool on) { assistant_.set_auto_capture(on); });

  Guarded([this] { FormCreate(); });
  connect(ui_->UiBitBtn1, &QPushButton::clicked, this, [this] { Guarded([this] { UiBitBtn1Click(); }); });
  connect(ui_->UiBitBtnPackage, &QPushButton::clicked, this,
          [this] { Guarded([this] { UiBitBtnPackageClick(); }); });
  connect(ui_->UiBitBtnImportPhotos, &QPushButton::clicked, this,
          [this] { Guarded([this] { UiBitBtnImportPhotosClick(); }); });
  connect(ui_->SpeedButton1, &QToolButton::clicked, this, [this] { Guarded([this] { SpeedButton1Click(); }); });
  connect(ui_->CheckBoxEdit, &QCheckBox::toggled, this, [this] { Guarded([this] { CheckBoxEditClick(); }); });
  ui_->CheckBoxEdit->setVisible(options_.maintenance);
  form_find_ = new TFormFind(this);  // created hidden, right after the main window
  form_find_->SetFindHandler([this] { Guarded([this] { FindFormSearch(); }); });
  qApp->installEventFilter(this);
}

TFormMain::~TFormMain() {
  qApp->removeEventFilter(this);
  // The worker finishes the frame in hand and ends; it holds nothing of the window's.
  if (framing_timer_) framing_timer_->stop();
  analyser_.reset();
  // Camera objects go before the widgets that host them and before the application object.
  CaptureRelease();
  CaptureSetChooser(nullptr);
  CaptureSetMessageHandler(nullptr);
  CaptureSetStatusLabel(nullptr);
  session_->dataset().AfterScroll = nullptr;
  session_->dataset().AfterOpen = nullptr;
  link_.reset();
  delete model_;
  model_ = nullptr;
}

void TFormMain::Guarded(const std::function<void()>& handler) {
  const CommandScope running(*this);
  RunGuarded(*dialogs_, handler);
}

void TFormMain::FitToWorkArea() {
  fit_to_work_area_ = true;
  QScreen* s = screen();
  if (!s) return;
  const QRect area = s->availableGeometry();
  fitted_frame_ = FrameMargins(*this);
  setFixedSize(area.size().shrunkBy(fitted_frame_));
  move(area.topLeft());  // a window's position is that of its frame
  // A window manager may change the frame without moving the window (openbox drops the resize
  // handle of a window that became fixed-size): look again shortly.
  if (isVisible()) {
    QTimer::singleShot(250, this, [this] {
      if (FrameMargins(*this) != fitted_frame_) FitToWorkArea();
    });
  }
}

// --- Start-up ---

void TFormMain::FormCreate() {
  session_->set_scroll_refresh(true);
  // The program folder was taken when the session was made; the photo store works below it.
  InitUsageResource();
  QFile usage(QStringLiteral(":/Descript_Rtf"));
  if (usage.open(QIODevice::ReadOnly)) {
    ui_->RichEditDescript->setHtml(QString::fromUtf8(usage.readAll()));
  }
  SetUpCapture();
  UpdateFrameMarkers();
  ui_->UiPageControlDetail->setCurrentWidget(ui_->TabSheetDescript);
  ui_->UiBitBtnOpen->setFocus();
  save_dialog_ = {QString::fromUtf8(kFilterWorkbook), QStringLiteral("xls"),
                  Utf8ToQString(session_->program_dir()), QString()};
  ui_->UiLabelNote->setText(Utf8ToQString(PhotoNote(session_->program_dir())).replace('\r', '\n'));
  ui_->UiLabelNote->adjustSize();
  open_dialog_ = {QString::fromUtf8(kFilterRoster), QStringLiteral("dbf"),
                  Utf8ToQString(session_->program_dir()), QString()};
}

void TFormMain::SetUpCapture() {
  RegisterQtCaptureBackend();
  // The camera's format and source dialogs answer through the window's dialogs.
  CaptureSetChooser([this](const CaptureChoice& choice) -> std::optional<int> {
    ChoiceSpec spec{Utf8ToQString(choice.title), Utf8ToQString(choice.label), {}, choice.current};
    for (const std::string& item : choice.items) spec.items << Utf8ToQString(item);
    return dialogs_->Choose(spec);
  });
  CaptureSetMessageHandler([this](const std::string& text) { dialogs_->ShowMessage(Utf8ToQString(text)); });
  status_label_ = std::make_unique<StatusLabel>(ui_->VideoLabel);
  CaptureSetHost(CaptureHost{static_cast<QWidget*>(ui_->VideoPanel), ui_->VideoPanel->width(), ui_->VideoPanel->height()});
  CaptureSetStatusLabel(status_label_.get());
  CaptureSetNotify([](void*) {});
  if (CaptureStart()) {
    CaptureSetFrameLimit(kFrameLimit);
    CapturePreviewOn();
    framing_timer_ = new QTimer(this);
    // Not through Guarded: the tick is no command, and must see whether one is running.
    connect(framing_timer_, &QTimer::timeout, this, [this] { RunGuarded(*dialogs_, [this] { FramingTick(); }); });
    framing_timer_->start(kFramingTickMs);
    if (!CaptureHasSourceDialog()) ui_->UiBitBtnSrc->setEnabled(false);
    if (!CaptureHasFormatDialog()) ui_->UiBitBtnFormat->setEnabled(false);
  }
}

void TFormMain::SetUpGrid() {
  QTableView* grid = ui_->DBGridList;
  model_ = new RosterModel(session_->dataset());
  grid->setModel(model_);
  delegate_ = new GridDelegate(this, grid);
  grid->setItemDelegate(delegate_);
  grid->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid->setSelectionMode(QAbstractItemView::SingleSelection);
  grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid->setTabKeyNavigation(true);
  grid->setShowGrid(true);
  grid->setWordWrap(false);
  grid->horizontalHeader()->setSectionsMovable(true);
  grid->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid->horizontalHeader()->setHighlightSections(false);
  QHeaderView* indicator = grid->verticalHeader();
  indicator->setSectionResizeMode(QHeaderView::Fixed);
  indicator->setDefaultSectionSize(QFontMetrics(grid->font()).height() + 5);
  indicator->setFixedWidth(12);
  indicator->setHighlightSections(false);
  // The current row stays highlighted while the grid has no focus.
  QPalette p = grid->palette();
  p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
  p.setColor(QPalette::Inactive, QPalette::HighlightedText,
             p.color(QPalette::Active, QPalette::HighlightedText));
  grid->setPalette(p);
  connect(model_, &RosterModel::RosterReset, this, &TFormMain::SizeGridColumns);
  connect(model_, &RosterModel::CurrentRowMoved, this, &TFormMain::FollowCurrentRow);
  connect(grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this](const QModelIndex& current) { GridRowChosen(current.row()); });
  // The model is reset on every open; its selection model stays the same object.
}

void TFormMain::SetUpDataButtons() {
  TTableDataSet* ds = &session_->dataset();
  struct Spec {
    DataButton* button;
    DataAction action;
    unsigned reasons;
  };
  const unsigned moving_back = kAtBegin | kEditing | kEmpty;
  const unsigned moving_on = kAtEnd | kEditing | kEmpty;
  const unsigned changing = kReadOnly | kEditing | kEmpty;
  const Spec specs[] = {
      {ui_->dbNavBtnFirst, DataAction::kFirst, moving_back},
      {ui_->dbNavBtnPrior1, DataAction::kPrior, moving_back},
      {ui_->dbNavBtnNext, DataAction::kNext, moving_on},
      {ui_->dbNavBtnLast, DataAction::kLast, moving_on},
      {ui_->dbNavBtnFind, DataAction::kEdit, changing},
      {ui_->dbNavBtnEditSum, DataAction::kEdit, changing},
      {ui_->dbNavBtnExportXls, DataAction::kEdit, changing},
      {ui_->dbNavBtnDelete, DataAction::kDelete, changing},
      {ui_->dbNavBtnNew, DataAction::kInsert, kReadOnly | kEditing},
      {ui_->dbNavBtnSave, DataAction::kPost, kNotEditing},
      {ui_->dbNavBtnCancel, DataAction::kCancel, kNotEditing},
  };
  for (const Spec& s : specs) {
    s.button->Bind(ds, dialogs_, s.action, s.reasons);
    // A cell's typed text reaches its record before any button moves, stores or discards it
    // (the Alt keys press a button without taking the focus from the cell editor).
    s.button->SetBeforePress([this] { CommitGridEditor(); });
    data_buttons_.push_back(s.button);
  }
  ui_->dbNavBtnPrior1->SetRepeating(true);
  ui_->dbNavBtnNext->SetRepeating(true);
  // The buttons' handlers count as running commands, as the window's own do (Guarded).
  auto command = [this](void (TFormMain::*handler)()) {
    return [this, handler] {
      const CommandScope running(*this);
      (this->*handler)();
    };
  };
  ui_->dbNavBtnFind->SetHandler(command(&TFormMain::dbNavBtnFindClick));
  ui_->dbNavBtnEditSum->SetHandler(command(&TFormMain::dbNavBtnEditSumClick));
  ui_->dbNavBtnExportXls->SetHandler(command(&TFormMain::dbNavBtnExportXlsClick));
  ui_->dbNavBtnNew->SetHandler(command(&TFormMain::dbNavBtnNewClick));
  ui_->dbNavBtnSave->SetHandler(command(&TFormMain::dbNavBtnSaveClick));
  ui_->dbNavBtnDelete->SetHandler(command(&TFormMain::dbNavBtnDeleteClick));
}

// --- Window events ---

bool TFormMain::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) Guarded([this] { FormActivate(); });
  // The window manager frames a shown window a little later; a frame that changed the space
  // left inside is fitted again.
  if (fit_to_work_area_ && (e->type() == QEvent::Move || e->type() == QEvent::Resize) &&
      FrameMargins(*this) != fitted_frame_) {
    FitToWorkArea();
  }
  return QMainWindow::event(e);
}

void TFormMain::FormActivate() {
  if (terminated_) return;
  const int width = options_.screen_width ? options_.screen_width()
                                          : QGuiApplication::primaryScreen()->size().width();
  if (width >= kMinScreenWidth) return;
  dialogs_->ShowMessage(QString::fromUtf8(kMsgScreenTooSmall));
  terminated_ = true;
  if (options_.terminate) {
    options_.terminate();
  } else {
    QCoreApplication::exit(0);
  }
}

bool TFormMain::FormCloseQuery() {
  if (!session_->Editing()) return true;
  dialogs_->ShowMessage(QString::fromUtf8(kMsgEditingOnClose));
  return false;
}

void TFormMain::closeEvent(QCloseEvent* e) {
  bool allow = true;
  Guarded([&] { allow = FormCloseQuery(); });
  if (allow) {
    form_find_->hide();
    e->accept();
  } else {
    e->ignore();
  }
}

bool TFormMain::FormKeyDown(QKeyEvent* e) {
  // Alt+N works on every page: while the button is on screen its own Alt key takes the press
  // before it gets here.
  if (e->key() == Qt::Key_N && e->modifiers() == Qt::AltModifier) {
    if (!ui_->UiBitBtnNextStudent->isEnabled()) return false;
    Guarded([this] { UiBitBtnNextStudentClick(); });
    return true;
  }
  if (e->key() != Qt::Key_F || !(e->modifiers() & Qt::ControlModifier)) return false;
  if (!ui_->dbNavBtnFind->isEnabled()) return false;
  Guarded([this] { dbNavBtnFindClick(); });
  return true;
}

bool TFormMain::DBGridListKeyDown(QKeyEvent* e) {
  if (e->key() == Qt::Key_Delete && (e->modifiers() & Qt::ControlModifier)) {
    Guarded([] { SilentStop(); });  // the grid never deletes a record by itself
    return true;
  }
  // The maintenance mode's keys on the grid itself (an open cell editor takes its own keys: Esc
  // there undoes the cell).
  if (!ui_->CheckBoxEdit->isChecked() || e->modifiers() != Qt::NoModifier) return false;
  TTableDataSet& ds = session_->dataset();
  if (!session_->RosterOpen()) return false;
  switch (e->key()) {
    case Qt::Key_Escape:  // the cell is undone already: the record's edit goes
      if (!session_->Editing()) return false;
      Guarded([&] { PerformDataAction(ds, DataAction::kCancel); });
      return true;
    case Qt::Key_Insert:
      if (session_->Editing()) return false;
      Guarded([&] { PerformDataAction(ds, DataAction::kInsert); });
      return true;
    case Qt::Key_Down:  // down past the last student appends a new one
      if (ds.State() == TDataSetState::dsInsert || model_->CurrentRow() < 0 ||
          model_->CurrentRow() != model_->rowCount() - 1) {
        return false;
      }
      Guarded([&] {
        session_->PostPendingEdit();
        ds.Append();
      });
      return true;
    default:
      return false;
  }
}

bool TFormMain::BeginCellEdit(int row) {
  bool editing = false;
  Guarded([&] {
    if (!ui_->CheckBoxEdit->isChecked() || row != model_->CurrentRow()) return;
    if (!session_->Editing()) PerformDataAction(session_->dataset(), DataAction::kEdit);
    editing = session_->Editing();
  });
  return editing;
}

void TFormMain::CommitGridEditor() {
  if (delegate_) delegate_->Commit();
}

bool TFormMain::ApplicationEvents1Wheel(QObject*, int delta) {
  QTableView* grid = ui_->DBGridList;
  if (QApplication::focusWidget() != grid) return false;
  Guarded([&] {
    QKeyEvent key(QEvent::KeyPress, delta > 0 ? Qt::Key_Up : Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(grid, &key);
  });
  return true;
}

// Enter (either key) presses the focused push button, as Space does: the operators' desktop
// works so. A held key presses it once.
static bool PressFocusedButton(QObject* receiver, QKeyEvent* e) {
  if (e->key() != Qt::Key_Return && e->key() != Qt::Key_Enter) return false;
  if ((e->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier) return false;
  auto* button = qobject_cast<QPushButton*>(receiver);
  if (!button || !button->isEnabled()) return false;
  if (!e->isAutoRepeat()) button->click();
  return true;
}

bool TFormMain::eventFilter(QObject* watched, QEvent* e) {
  switch (e->type()) {
    case QEvent::Wheel: {
      const int delta = static_cast<QWheelEvent*>(e)->angleDelta().y();
      return delta != 0 && ApplicationEvents1Wheel(watched, delta);
    }
    case QEvent::KeyPress: {
      auto* w = qobject_cast<QWidget*>(watched);
      if (!w || (w->window() != this && w->window() != form_find_)) return false;
      auto* key = static_cast<QKeyEvent*>(e);
      if (PressFocusedButton(watched, key)) return true;
      if (w->window() != this) return false;
      if (FormKeyDown(key)) return true;
      if (watched == ui_->DBGridList) return DBGridListKeyDown(key);
      return false;
    }
    default:
      return false;
  }
}

// --- Roster ---

void TFormMain::UiBitBtnOpenClick() {
  std::optional<QString> path = dialogs_->OpenFile(open_dialog_);
  if (!path) return;
  form_find_->hide();
  ui_->UiEditFileName->setText(Utf8ToQString(DisplayPath(QStringToUtf8(*path))));
  OpenOutcome outcome;
  {
    // The first student is shown below, once the open is complete: an error in showing is
    // then reported as what it is, and never taken for a failed open.
    const bool refresh = session_->scroll_refresh();
    session_->set_scroll_refresh(false);
    struct Restore {
      RosterSession& session;
      bool refresh;
      ~Restore() { session.set_scroll_refresh(refresh); }
    } restore{*session_, refresh};
    outcome = session_->Open(QStringToUtf8(*path));
  }
  if (!outcome.opened) {
    dialogs_->ShowMessage(Utf8ToQString(outcome.message));
    return;
  }
  if (!outcome.message.empty()) dialogs_->ShowMessage(Utf8ToQString(outcome.message));
  ui_->UiPageControlDetail->setCurrentWidget(ui_->TabSheetPhoto);
  ShowStudentPhoto();
  ShowStudentInfo();
  form_find_->FillFieldList(session_->FieldNames(), session_->FindListSelection());
}

void TFormMain::UiBitBtn2Click() {
  const FileDialogSpec spec{QString::fromUtf8(kFilterImportWorkbook), QStringLiteral("xls"), {}};
  std::optional<QString> workbook = dialogs_->OpenFile(spec);
  if (!workbook) return;
  ImportRequest request;
  request.workbook_path = QStringToUtf8(*workbook);
  request.open_roster_path = session_->RosterPath();
  request.photo_folder = session_->store().PhotoFolder();

  // The spreadsheet application takes seconds to start: a busy indicator that cannot be
  // cancelled stays up while it runs, and goes on every path.
  Progress busy(*this, kMsgConverting, 0);
  ConvertWorkbookToTable(request, [&](const std::string& message, const std::string& caption,
                                      int flags) {
    QApplication::restoreOverrideCursor();
    busy.Hide();
    dialogs_->MessageBox(Utf8ToQString(message), Utf8ToQString(caption), flags);
    QApplication::setOverrideCursor(Qt::WaitCursor);
  });
}

void TFormMain::DbfAfterScroll() {
  if (!session_->scroll_refresh()) return;
  // Another student in front of the camera: the auto-capture may fire again. (Walks restore the
  // position with the refresh off, so they never re-arm it for the same student.)
  const int recno = session_->dataset().IsEmpty() ? 0 : session_->dataset().RecNo();
  if (recno != framed_recno_) {
    framed_recno_ = recno;
    assistant_.NextStudent();
  }
  ShowStudentPhoto();
  ShowStudentInfo();
  if (export_run_ && export_run_->progress) export_run_->progress->Step(++export_run_->walked);
}

void TFormMain::DataSourceDbfStateChange() {
  const bool editing = session_->Editing();
  const bool edit_ended = session_->EditJustEnded();
  ui_->UiPanelTop->setEnabled(!editing);
  ui_->UiBitBtnCatchPhoto->setEnabled(!editing);
  ui_->UiBitBtnNextStudent->setEnabled(!editing);
  ui_->UiBitBtnPackage->setEnabled(!editing);
  ui_->UiBitBtnDeletePhoto->setEnabled(!editing);
  // A stored or discarded edit moves no record, yet the panel must show what is now current.
  if (edit_ended && session_->scroll_refresh()) {
    ShowStudentPhoto();
    ShowStudentInfo();
  }
}

void TFormMain::UpdateDataButtons() {
  for (DataButton* b : data_buttons_) b->UpdateEnabled();
}

void TFormMain::UpdatePositionLabel() {
  TTableDataSet& ds = session_->dataset();
  int count = -1;
  int recno = -1;
  if (ds.State() == TDataSetState::dsBrowse || ds.State() == TDataSetState::dsEdit) {
    count = ds.RecordCount();
  }
  if (ds.Active() && !ds.IsEmpty()) recno = ds.RecNo();
  ui_->DBStatusLabel1->setText(QString::fromStdString(RecordPositionText(recno, count)));
}

void TFormMain::FollowCurrentRow(int row) {
  QTableView* grid = ui_->DBGridList;
  following_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{following_};
  if (row < 0) {
    grid->selectionModel()->clear();
    return;
  }
  const int column = std::max(0, grid->currentIndex().column());
  const QModelIndex target = model_->index(row, column);
  grid->selectionModel()->setCurrentIndex(
      target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  grid->scrollTo(target);
}

void TFormMain::GridRowChosen(int row) {
  if (following_ || row < 0 || row == model_->CurrentRow()) return;
  Guarded([&] {
    CommitGridEditor();
    const int recno = model_->RecNoOfRow(row);
    if (recno > 0) session_->MoveToRecord(recno);
  });
  // A move that failed leaves the grid on the dataset's row.
  if (model_->CurrentRow() != row) FollowCurrentRow(model_->CurrentRow());
}

void TFormMain::SizeGridColumns() {
  QTableView* grid = ui_->DBGridList;
  const QFontMetrics fm(grid->font());
  const QFontMetrics title(grid->horizontalHeader()->font());
  TTableDataSet& ds = session_->dataset();
  for (int c = 0; c < model_->columnCount(); ++c) {
    const int by_width = ds.Fields(c).DisplayWidth() * fm.horizontalAdvance(QLatin1Char('0')) + 4;
    const int by_title = title.horizontalAdvance(model_->headerData(c, Qt::Horizontal).toString()) + 4;
    grid->setColumnWidth(c, std::max(by_width, by_title));
  }
}

void TFormMain::DBGridListDrawColumnCell(QPainter* painter, const QStyleOptionViewItem& option,
                                         const QModelIndex& index, const std::function<void()>& draw) {
  draw();
  if (!session_->has_key()) return;
  const std::string* field = session_->FieldNameAt(index.column());
  if (!field) return;
  const KeyCellLook look = KeyCellPhotoLook(*session_, *field, model_->CellValue(index.row(), index.column()));
  if (look == KeyCellLook::kPlain) return;
  // The whole cell turns green (pale red for a photo not fit to hand in); the text goes to its
  // very corner in the colour the normal drawing used (the selection's text colour in the
  // selected row).
  const bool selected = option.state & QStyle::State_Selected;
  painter->save();
  painter->fillRect(option.rect, QColor::fromRgb(look == KeyCellLook::kPhoto ? kPhotoPresentRgb
                                                                              : kPhotoInvalidRgb));
  painter->setFont(option.font);
  painter->setPen(option.palette.color(QPalette::Active, selected ? QPalette::HighlightedText : QPalette::Text));
  painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                    index.data(Qt::DisplayRole).toString());
  painter->restore();
}

void TFormMain::dbNavBtnFindClick() {
  form_find_->show();
  form_find_->raise();
  form_find_->activateWindow();
  SilentStop();
}

void TFormMain::FindFormSearch() {
  if (form_find_->SelectedField() < 0) {
    dialogs_->MessageBox(QString::fromUtf8(kMsgChooseField), QString::fromUtf8(kCaptionHint), kMbOk);
    return;
  }
  if (!session_->RosterOpen()) return;  // the list is filled only with a roster open
  FindRequest request;
  request.field_index = form_find_->SelectedField();
  request.text_gbk = Trim(QStringToGbk(form_find_->SearchText()));
  request.match = static_cast<FindMatch>(form_find_->MatchMode());
  request.direction = static_cast<FindDirection>(form_find_->Direction());
  const bool found = FindRecord(*session_, request);
  ShowStudentPhoto();
  ShowStudentInfo();
  if (!found) dialogs_->MessageBox(QString::fromUtf8(kMsgNotFound), QString::fromUtf8(kCaptionHint), kMbOk);
}

void TFormMain::dbNavBtnEditSumClick() {
  if (!session_->has_key()) {
    dialogs_->ShowMessage(QString::fromUtf8(kMsgNoKeyToCount));
    SilentStop();
  }
  PhotoCoverage coverage;
  {
    Progress progress(*this, kProgressCounting, session_->StudentCount());
    coverage = CountPhotoCoverage(*session_, [&](int done, int) { progress.Step(done); });
  }
  dialogs_->ShowMessage(Utf8ToQString(PhotoCoverageText(session_->StudentCount(), coverage)));
  SilentStop();
}

void TFormMain::dbNavBtnExportXlsClick() {
  const std::string roster = QStringToUtf8(ui_->UiEditFileName->text());
  FileDialogSpec spec = save_dialog_;
  spec.file_name = Utf8ToQString(DefaultExportName(roster));
  // A read-only workbook is replaced after Yes, as the export has always done.
  const std::string target = ChooseTargetToWrite(spec, kMsgExportTargetRefused, true);
  TXlsExport exporter(WriteFs());
  exporter.DataSet = &session_->dataset();
  exporter.FileName = target;
  // Each student reached on the walk is shown in the photo panel; photos that cannot be shown
  // are told once, at the end.
  ExportRun run;
  try {
    Progress progress(*this, kProgressExporting, session_->StudentCount());
    run.progress = &progress;
    export_run_ = &run;
    struct Done {
      ExportRun*& run;
      ~Done() { run = nullptr; }
    } done{export_run_};
    exporter.Execute();
  } catch (const std::exception&) {
    dialogs_->ShowMessage(QString::fromUtf8(kMsgExportFailed));
    SilentStop();
  }
  std::string text = ExportDoneText(session_->StudentCount());
  if (!run.damaged_keys.empty()) text += "\r\r" + DamagedPhotosText(run.damaged_keys);
  dialogs_->ShowMessage(Utf8ToQString(text));
  SilentStop();
}

std::string TFormMain::ChooseTargetToWrite(const FileDialogSpec& spec, const char* refused_text,
                                           bool replace_read_only) {
  const std::optional<QString> chosen = dialogs_->SaveFile(spec);
  if (!chosen) SilentStop();
  const std::string target = QStringToUtf8(*chosen);
  // The one rule for every file the operator names: never a table, the roster's memo file, a
  // photo or the photo folder; a read-only file is kept unless the command replaces it after
  // the overwrite question.
  const TargetGuard guard{session_->RosterPath(), session_->store().PhotoFolder(), {}};
  if (const std::optional<TargetRefusal> refusal = CheckTarget(target, guard, TargetKind::kOutput)) {
    if (!(replace_read_only && refusal->problem == TargetProblem::kReadOnly)) {
      dialogs_->ShowMessage(refusal->problem == TargetProblem::kTableFile
                                ? QString::fromUtf8(refused_text)
                                : Utf8ToQString(refusal->message));
      SilentStop();
    }
  }
  if (PathExists(target)) {
    if (dialogs_->MessageBox(QString::fromUtf8(kMsgExportExists), QString::fromUtf8(kCaptionWarning),
                             kMbYesNoDefaultNo) != kIdYes) {
      SilentStop();
    }
    // The old file stays until the new one is complete; it is replaced only then.
    if (!ClearForReplace(target)) {
      dialogs_->ShowMessage(QString::fromUtf8(kMsgExportCannotDelete));
      SilentStop();
    }
  }
  return target;
}

void TFormMain::ReportLater(const std::string& message_utf8) {
  QTimer::singleShot(0, this, [this, message_utf8] { ShowErrorReport(*dialogs_, message_utf8); });
}

// --- Record maintenance ---

void TFormMain::CheckBoxEditClick() {
  const bool on = ui_->CheckBoxEdit->isChecked();
  if (!on && session_->Editing()) {
    // Leaving the mode stores the pending edit (as moving to another row does); when it cannot
    // be stored the mode stays on, so that it can still be saved or discarded.
    try {
      CommitGridEditor();
      session_->PostPendingEdit();
    } catch (...) {
      const QSignalBlocker block(ui_->CheckBoxEdit);
      ui_->CheckBoxEdit->setChecked(true);
      throw;
    }
  }
  for (DataButton* b : {ui_->dbNavBtnDelete, ui_->dbNavBtnNew, ui_->dbNavBtnSave, ui_->dbNavBtnCancel}) {
    b->setVisible(on);
  }
  // The package button sits where the maintenance buttons appear.
  ui_->UiBitBtnPackage->setVisible(!on);
  ui_->UiBitBtnImportPhotos->setVisible(!on);
  QTableView* grid = ui_->DBGridList;
  model_->SetEditable(on);
  grid->setSelectionBehavior(on ? QAbstractItemView::SelectItems : QAbstractItemView::SelectRows);
  grid->setEditTriggers(on ? QAbstractItemView::AllEditTriggers : QAbstractItemView::NoEditTriggers);
}

void TFormMain::dbNavBtnNewClick() { ui_->DBGridList->setFocus(); }

void TFormMain::dbNavBtnSaveClick() { ui_->UiPageControlDetail->setCurrentWidget(ui_->TabSheetPhoto); }

void TFormMain::dbNavBtnDeleteClick() {
  ui_->UiPageControlDetail->setCurrentWidget(ui_->TabSheetPhoto);
  const QString question = Utf8ToQString(DeleteQuestionText(*session_));
  if (dialogs_->MessageBox(question, QString::fromUtf8(kCaptionConfirm), kMbYesNoDefaultNo) != kIdYes) SilentStop();
  if (dialogs_->MessageBox(question, QString::fromUtf8(kCaptionConfirmAgain), kMbYesNoDefaultNo) != kIdYes) SilentStop();
  DeleteCurrentStudent(*session_, [this](bool packing) {
    ui_->PanelPack->setVisible(packing);
    // The panel is painted before the pack starts.
    if (packing) QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  });
  ui_->DBGridList->viewport()->update();
  SilentStop();
}

void TFormMain::UiBitBtnPackageClick() {
  if (!session_->RosterOpen()) {
    dialogs_->ShowMessage(QString::fromUtf8(kMsgNoRosterToPackage));
    return;
  }
  if (!session_->has_key()) {
    dialogs_->ShowMessage(QString::fromUtf8(kMsgNoKeyToPackage));
    return;
  }
  // The summary also tells where photos miss the photo standard; that advice never makes a
  // photo invalid for the package.
  PhotoRules rules = session_->photo_checks().rules();
  AddPhotoStandardAdvice(rules);
  RosterPhotoCheck check;
  {
    Progress progress(*this, kProgressChecking, session_->StudentCount());
    check = CheckRosterPhotos(ReadRosterStudents(*session_), session_->store(), rules,
                              [&](int done, int) { progress.Step(done); });
  }
  // Photos may have changed since the grid was drawn: the key cells are drawn again, so that
  // they agree with the summary.
  ui_->DBGridList->viewport()->update();
  const QString summary = Utf8ToQString(PackageSummaryText(check, rules));
  const QString caption = QString::fromUtf8(kCaptionPackage);
  if (check.valid == 0) {
    dialogs_->MessageBox(summary + QStringLiteral("\r\r") + QString::fromUtf8(kMsgNothingToPackage),
                         caption, kMbOk);
    return;
  }
  if (dialogs_->MessageBox(summary + QStringLiteral("\r\r") + QString::fromUtf8(kMsgPackageQuestion),
                           caption, kMbYesNo) != kIdYes) {
    return;
  }
  FileDialogSpec spec{QString::fromUtf8(kFilterPackage), QStringLiteral("zip"), {}, caption,
                      Utf8ToQString(DefaultPackageName(session_->RosterPath()))};
  const std::string target = ChooseTargetToWrite(spec, kMsgPackageTargetRefused, false);
  PackageResult result;
  try {
    Progress progress(*this, kProgressPacking, 1000);
    result = WritePhotoPackage(check, target, nullptr, WriteFs(), [&](double share) {
      progress.Step(static_cast<int>(share * 1000));
    });
  } catch (const std::exception& e) {
    // The package names the archive and the reason; the old archive, if any, is untouched.
    dialogs_->MessageBox(QString::fromUtf8(kMsgPackageFailed) + QStringLiteral("\r\r") + Utf8ToQString(e.what()),
                         caption, kMbStop);
    return;
  }
  dialogs_->ShowMessage(Utf8ToQString(PackageDoneText(result.photos, target)));
}

void TFormMain::UiBitBtnImportPhotosClick() {
  if (!session_->RosterOpen()) {
    dialogs_->ShowMessage(QString::fromUtf8(kMsgNoRosterToImport));
    return;
  }
  if (!session_->has_key()) {
    dialogs_->ShowMessage(QString::fromUtf8(kMsgNoKeyToImport));
    return;
  }
  const std::optional<QString> chosen = dialogs_->ChooseFolder(QString::fromUtf8(kTitleImportFolder));
  if (!chosen) return;
  const std::string folder = QStringToUtf8(*chosen);
  const PhotoStore& store = session_->store();
  if (FileSystem::Default().SameFile(folder, store.PhotoFolder())) {
    dialogs_->ShowMessage(QString::fromUtf8(kMsgImportFromPhotoFolder));
    return;
  }
  std::vector<ImportPicture> pictures;
  try {
    pictures = ListPictureFolder(folder);
  } catch (const IoError&) {
    dialogs_->ShowMessage(QString::fromUtf8(kMsgImportFolderUnreadable) + QStringLiteral("\r") +
                          Utf8ToQString(DisplayPath(folder)));
    return;
  }
  if (pictures.empty()) {
    dialogs_->ShowMessage(QString::fromUtf8(kMsgNoPicturesToImport));
    return;
  }
  const std::vector<RosterStudent> students = ReadRosterStudents(*session_);
  const StudentMatcher matcher(students);
  MatchPictures(pictures, matcher);

  // The pictures are read on worker threads (both cores); this thread shows the progress and,
  // while photos are stored, repaints the grid so that key cells turn green as they arrive.
  const auto run = [&](const char* label, const ImportOptions& options, const std::vector<int>& indices) {
    const int total = static_cast<int>(indices.empty() ? pictures.size() : indices.size());
    Progress progress(*this, label, total);
    std::atomic<int> done{0};
    std::atomic<bool> finished{false};
    std::exception_ptr failure;
    std::thread worker([&] {
      try {
        ImportPictures(pictures, students, store, options, indices, [&](int) { ++done; });
      } catch (...) {  // no thread could be started, or memory ran out
        failure = std::current_exception();
      }
      finished = true;
    });
    int shown = 0;
    while (!finished.load()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
      if (done.load() != shown) {
        shown = done.load();
        progress.Step(shown);
        if (options.store) ui_->DBGridList->viewport()->update();
      }
    }
    worker.join();
    if (failure) std::rethrow_exception(failure);
    progress.Step(total);
  };
  ImportOptions look;
  look.store = false;
  look.frame_all = true;
  look.advise = true;
  look.thumbnail_height = kImportThumbnailHeight;
  look.max_bytes = session_->photo_checks().rules().max_bytes;
  run(kProgressReadingPictures, look, {});

  TFormImportPhotos list(Utf8ToQString(DisplayPath(folder)), pictures, students, matcher,
                         [&](const std::vector<int>& changed) {
                           FaceDetector detector;
                           for (int i : changed) {
                             ProcessPicture(detector, pictures.at(static_cast<size_t>(i)), students, store, look);
                           }
                         },
                         this);
  ShowModal(list);
  if (list.result() != QDialog::Accepted) return;
  const std::vector<int> accepted = list.Accepted();
  if (!accepted.empty()) {
    ImportOptions keep = look;
    keep.store = true;
    keep.frame_all = false;
    keep.advise = false;
    keep.thumbnail_height = 0;
    // The thumbnails and advice stay in the list; storing decides each picture afresh.
    std::vector<ImportPicture> before;
    for (int i : accepted) before.push_back(pictures[static_cast<size_t>(i)]);
    run(kProgressStoringPhotos, keep, accepted);
    for (size_t k = 0; k < accepted.size(); ++k) {
      ImportPicture& p = pictures[static_cast<size_t>(accepted[k])];
      p.thumbnail = std::move(before[k].thumbnail);
      p.advice = std::move(before[k].advice);
    }
  }
  // Pictures not accepted are not stored; they are listed with the reason they were not.
  ui_->DBGridList->viewport()->update();
  ShowStudentPhoto();
  list.ShowResults();
  ShowModal(list);
}

void TFormMain::UiBitBtn1Click() {
  TFormDataUp guide(session_->program_dir(), this);
  ShowModal(guide);
}

void TFormMain::SpeedButton1Click() {
  AboutDlg1 about(ReadSystemInfo(), this);
  ShowModal(about);
}

void TFormMain::ShowModal(QDialog& dialog) {
  if (options_.show_modal) {
    options_.show_modal(dialog);
  } else {
    dialog.exec();
  }
}

// --- Student photo panel ---

void TFormMain::ShowStudentInfo() {
  const StudentInfoTexts t = session_->StudentInfo();
  ui_->LabelZch->setText(Utf8ToQString(t.zch));
  ui_->LabelName->setText(Utf8ToQString(t.name));
  ui_->LabelSex->setText(Utf8ToQString(t.sex));
}

void TFormMain::ShowStudentPhoto() {
  if (!session_->has_key()) return;
  const std::optional<std::string> path = session_->CurrentPhotoPath();
  if (!path || !PhotoStore::PhotoExists(*path)) {
    ui_->ImageCatchedPhoto->Clear();
    return;
  }
  try {
    ui_->ImageCatchedPhoto->LoadStoredPhoto(session_->store().ReadWholeFile(*path));
  } catch (const std::exception&) {
    ui_->ImageCatchedPhoto->Clear();
    if (export_run_) {  // told once, after the export
      export_run_->damaged_keys.push_back(GbkToUtf8(session_->CurrentKey()));
    } else {
      dialogs_->ShowMessage(QString::fromUtf8(kMsgPhotoLoadFailed));
    }
  }
}

void TFormMain::UiBitBtnDeletePhotoClick() {
  if (!session_->has_key()) return;
  const std::optional<std::string> path = session_->CurrentPhotoPath();
  if (!path || !PhotoStore::PhotoExists(*path)) {
    dialogs_->ShowMessage(QString::fromUtf8(kMsgNoPhotoFile));
    return;
  }
  if (dialogs_->MessageBox(QString::fromUtf8(kMsgDeletePhotoQuestion), QString::fromUtf8(kCaptionWarning),
                           kMbYesNoDefaultNo) != kIdYes) {
    return;
  }
  ForceDeleteFile(*path);
  ShowStudentPhoto();
  ui_->DBGridList->viewport()->update();
}

// --- Capture panel ---

void TFormMain::UpdateFrameMarkers() {
  Ui::TFormMain& u = *ui_;
  u.PanelTop->move(u.VideoPanel->x() + u.TrackBarHor->value(), u.PanelTop->y());
  u.PanelBottom->move(u.PanelTop->x(), u.PanelBottom->y());
  u.PanelLeft->move(u.PanelTop->x(), u.PanelLeft->y());
  u.PanelRight->move(u.PanelLeft->x() + u.PanelLeft->width() + kMarkerBoxWidth, u.PanelRight->y());
  u.PanelTop->move(u.PanelTop->x(), u.VideoPanel->y() + u.TrackBarVer->value());
  u.PanelBottom->move(u.PanelBottom->x(), u.PanelTop->y() + kMarkerBoxHeight);
  u.PanelLeft->move(u.PanelLeft->x(), u.PanelTop->y());
  u.PanelRight->move(u.PanelRight->x(), u.PanelTop->y());
  for (QWidget* bar : {u.PanelTop, u.PanelBottom, u.PanelLeft, u.PanelRight}) bar->raise();
}

void TFormMain::UiBitBtnFormatClick() { CaptureShowFormatDialog(); }

void TFormMain::UiBitBtnSrcClick() { CaptureShowSourceDialog(); }

void TFormMain::ShowCaptureMessage(int kind, const std::string& text) {
  switch (static_cast<PhotoMessageKind>(kind)) {
    case PhotoMessageKind::kNone: break;
    case PhotoMessageKind::kInformation: dialogs_->ShowMessage(Utf8ToQString(text)); break;
    case PhotoMessageKind::kError: ShowErrorReport(*dialogs_, text); break;
  }
}

void TFormMain::UiBitBtnCatchPhotoClick() {
  CatchPhotoRequest request;
  request.roster_open = session_->StudentCount() > 0;
  request.has_key = session_->has_key();
  request.key = session_->CurrentKey();
  request.hor = ui_->TrackBarHor->value();
  request.ver = ui_->TrackBarVer->value();
  request.save_at_once = ui_->UiCheckBoxSaveAtOnce->isChecked();
  CatchPhotoResult result = capture_->CatchPhoto(request, [this](const Bitmap& crop) {
    ui_->ImageCatchedPhoto->ShowCapture(crop);
    return dialogs_->MessageBox(Utf8ToQString(kMsgConfirmSave), Utf8ToQString(kCaptionConfirmSave),
                                kFlagsConfirmSave) == kIdYes;
  });
  if (result.crop) ui_->ImageCatchedPhoto->ShowCapture(*result.crop);
  ShowCaptureMessage(static_cast<int>(result.message_kind), result.message);
  if (result.show_stored_photo) ShowStudentPhoto();
  if (result.repaint_grid) ui_->DBGridList->viewport()->update();
  if (!result.status_text.empty()) {
    ui_->StatusBar1->showMessage(Utf8ToQString(result.status_text), kStatusMessageMs);
  }
  if (result.saved_path && ui_->UiCheckBoxNextStudent->isChecked()) UiBitBtnNextStudentClick();
}

// --- Guided framing ---

std::chrono::steady_clock::time_point TFormMain::Now() const {
  return options_.clock ? options_.clock() : std::chrono::steady_clock::now();
}

void TFormMain::ShowAdvice(std::optional<Advice> advice) {
  // Called for every analysed frame: the label is touched only when the line changes (a new
  // style sheet polishes the widget again).
  QLabel* label = ui_->UiLabelAdvice;
  const QString text = advice ? Utf8ToQString(std::string(AdviceText(*advice))) : QString();
  if (label->text() == text) return;
  label->setText(text);
  if (advice) {
    label->setStyleSheet(QString::fromUtf8(*advice == Advice::kGood ? kStyleAdviceGood : kStyleAdviceOther));
  }
}

void TFormMain::SetSliders(int hor, int ver) {
  ui_->TrackBarHor->setValue(hor);
  ui_->TrackBarVer->setValue(ver);
}

bool TFormMain::CaptureReady() const {
  // Never in the middle of another command (long work lets the timer run while it goes on; a
  // capture's own question may be up), during an edit, or under any modal window.
  return commands_running_ == 0 && ui_->UiBitBtnCatchPhoto->isEnabled() && session_->RosterOpen() &&
         !session_->dataset().ControlsDisabled() && !QApplication::activeModalWidget();
}

void TFormMain::UiBitBtnAutoFrameClick() {
  FrameAnalysis now_analysed;
  const FrameAnalysis* analysis = assistant_.FreshAnalysis(Now());
  if (!analysis) {
    const Bitmap frame = CaptureLatestFrame();
    if (frame.empty()) return;  // no live picture: nothing to frame
    if (!detector_) detector_ = std::make_unique<FaceDetector>();
    now_analysed = AnalyseFrame(*detector_, frame);
    analysis = &now_analysed;
  }
  const std::optional<SliderFraming> framing = FramingAssistant::FrameNow(*analysis);
  if (!framing) {
    ShowAdvice(Advice::kNoFace);
    return;
  }
  SetSliders(framing->hor, framing->ver);
  ShowAdvice(AdviseFraming(*analysis, framing->crop));
}

void TFormMain::UiBitBtnNextStudentClick() {
  if (!session_->has_key() || !session_->RosterOpen() || session_->Editing()) return;
  const std::optional<int> recno = NextStudentWithoutPhoto(*session_);
  if (!recno) {
    dialogs_->ShowMessage(QString::fromUtf8(kMsgAllStudentsPhotographed));
    return;
  }
  if (*recno != session_->dataset().RecNo()) session_->MoveToRecord(*recno);
}

void TFormMain::FramingTick() {
  if (analyser_) {
    if (std::optional<FrameAnalysis> result = analyser_->TakeResult()) ApplyAnalysis(*result);
  }
  // The advice is wanted only while the preview is on screen (the photo page of a shown window).
  if (!ui_->VideoPanel->isVisible() || isMinimized()) return;
  if (analyser_ && analyser_->Busy()) return;
  Bitmap frame = CaptureLatestFrame();
  if (frame.empty()) {  // no camera picture (none connected, or the preview is off)
    assistant_.Forget();
    ShowAdvice(std::nullopt);
    return;
  }
  if (!analyser_) analyser_ = std::make_unique<FrameAnalyser>();
  analyser_->Offer(std::move(frame));
}

void TFormMain::ApplyAnalysis(const FrameAnalysis& analysis) {
  const bool held = ui_->TrackBarHor->isSliderDown() || ui_->TrackBarVer->isSliderDown();
  const FramingStep step = assistant_.OnAnalysis(analysis, ui_->TrackBarHor->value(),
                                                 ui_->TrackBarVer->value(), held, CaptureReady(), Now());
  if (step.sliders && !held) SetSliders(step.sliders->first, step.sliders->second);
  ShowAdvice(step.advice);
  if (step.capture) {
    // Exactly the capture button: the same pipeline, the same question unless
    // "捕获照片后不提示，直接保存" is ticked.
    ui_->UiBitBtnCatchPhoto->click();
  }
}

}  // namespace mirestal
