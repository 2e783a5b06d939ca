// The main window: roster opening and browsing, the student photo panel and the capture panel.
// Handlers are named after the control and the event; each runs through the guard. Logic that
// needs no widget lives in RosterSession (app/roster_session.h) and the capture pipeline.
#pragma once

#include <QMainWindow>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "app/dialogs.h"
#include "core/framing_assistant.h"
#include "core/roster_session.h"

class QDialog;
class QKeyEvent;
class QProgressDialog;
class QPainter;
class QStyleOptionViewItem;
class QModelIndex;
class QTimer;

namespace Ui {
class TFormMain;
}

namespace mirestal {

class DataButton;
class PhotoCapture;
class RosterModel;
class TFormFind;

class TFormMain : public QMainWindow {
  Q_OBJECT

 public:
  struct Options {
    // The program folder (UTF-8, ending in '/'); empty: the executable's folder.
    std::string program_dir;
    // Every message and dialog; required, must outlive the window.
    Dialogs* dialogs = nullptr;
    // Width of the primary screen in pixels; empty: asked from the screen.
    std::function<int()> screen_width;
    // Ends the application after the screen-width message; empty: QCoreApplication::exit(0).
    std::function<void()> terminate;
    // The file system the roster export and the upload package write through; null: the real
    // one.
    FileSystem* export_fs = nullptr;
    // Shows the maintenance mode's check box (the start option --maintenance); hidden otherwise.
    bool maintenance = false;
    // Modal windows (the photo report guide, the about box) are shown through this; empty:
    // exec(). Tests and the tour look at them and close them.
    std::function<void(QDialog&)> show_modal;
    // Long work shows a progress dialog once it has run this long (milliseconds).
    int progress_delay_ms = 500;
    // Told once when a progress dialog comes up (the tour takes its picture).
    std::function<void(QProgressDialog&)> progress_shown;
    // The time the guided framing goes by; empty: the steady clock. Tests step it.
    std::function<std::chrono::steady_clock::time_point()> clock;
  };

  explicit TFormMain(Options options, QWidget* parent = nullptr);
  ~TFormMain() override;

  // Sizes the window so that it fills the desktop's work area with its frame (title bar and
  // borders) included (the executable does this; tests and the tour keep the designed size).
  // The window manager adds the frame once the window is shown, and may change it later: the
  // window is fitted again whenever its frame changes.
  void FitToWorkArea();

  // --- Handlers and operations ---
  void FormActivate();
  bool FormCloseQuery();
  // True when the key was taken (it goes no further).
  bool FormKeyDown(QKeyEvent* event);
  bool DBGridListKeyDown(QKeyEvent* event);
  // One wheel event over the focused grid: one row up (delta > 0) or down. True when taken.
  bool ApplicationEvents1Wheel(QObject* receiver, int delta);
  void UiBitBtnOpenClick();
  // Converts a chosen .xls workbook into a .dbf table beside it (the open roster is not touched).
  void UiBitBtn2Click();
  void DbfAfterScroll();
  void DataSourceDbfStateChange();
  void dbNavBtnFindClick();
  // One search of the find dialog with its current choices.
  void FindFormSearch();
  void dbNavBtnEditSumClick();
  void dbNavBtnExportXlsClick();
  void UiBitBtn1Click();
  // Checks every student's photo, shows the summary and, on Yes, writes the upload package (a
  // zip of the valid photos) under a name the operator chooses.
  void UiBitBtnPackageClick();
  // Asks for a folder of pictures, lists them matched to the students with their crop, stores
  // the ones the operator accepts as photos and shows each picture's result.
  void UiBitBtnImportPhotosClick();
  void CheckBoxEditClick();
  void dbNavBtnNewClick();
  void dbNavBtnSaveClick();
  void dbNavBtnDeleteClick();
  void SpeedButton1Click();
  void ShowStudentInfo();
  void ShowStudentPhoto();
  void UiBitBtnDeletePhotoClick();
  void UpdateFrameMarkers();
  void UiBitBtnFormatClick();
  void UiBitBtnSrcClick();
  void UiBitBtnCatchPhotoClick();
  // "自动取景": the sliders (and so the red frame) around the strongest face of the latest
  // analysis, or of the current frame analysed now when none is fresh.
  void UiBitBtnAutoFrameClick();
  // "下一个未拍照的学生" (Alt+N anywhere in the window): the next student in grid order without a
  // valid photo.
  void UiBitBtnNextStudentClick();
  // One step of the live analysis (the framing timer's): takes the worker's newest result
  // (advice line, following, auto-capture) and hands it the newest frame when it is free. The
  // worker runs only while the preview is on screen.
  void FramingTick();
  // The worker that analyses live frames; null while it has not been needed.
  const FrameAnalyser* frame_analyser() const { return analyser_.get(); }
  // Draws one data cell of the grid (the key cell's highlight hooks in here).
  void DBGridListDrawColumnCell(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index, const std::function<void()>& draw);

  Ui::TFormMain* ui() const { return ui_.get(); }
  RosterSession& session() { return *session_; }
  RosterModel* model() const { return model_; }
  TFormFind* FormFind() const { return form_find_; }
  Dialogs& dialogs() { return *dialogs_; }
  const std::string& gsPhotoRoot() const { return session_->program_dir(); }
  bool terminated() const { return terminated_; }
  // Runs `handler` through the guard with this window's dialogs.
  void Guarded(const std::function<void()>& handler);
  // Maintenance mode: the operator typed into a cell of `row`; the record's edit starts now, so
  // that closing the window or moving away cannot lose the text. False when it cannot start.
  bool BeginCellEdit(int row);
  // Hands the text of an open cell editor to its record before the dataset moves or stores.
  void CommitGridEditor();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class DataSourceLink;
  class StatusLabel;
  class Progress;
  class GridDelegate;
  struct ExportRun;
  // Counts a handler as running while it lives.
  struct CommandScope {
    explicit CommandScope(TFormMain& w) : window(w) { ++window.commands_running_; }
    ~CommandScope() { --window.commands_running_; }
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;
    TFormMain& window;
  };
  void FormCreate();
  void SetUpDataButtons();
  void SetUpGrid();
  void SetUpCapture();
  void UpdateDataButtons();
  void UpdatePositionLabel();
  void FollowCurrentRow(int row);
  void GridRowChosen(int row);
  void SizeGridColumns();
  void ShowCaptureMessage(int kind, const std::string& text);
  void ShowAdvice(std::optional<Advice> advice);
  void ApplyAnalysis(const FrameAnalysis& analysis);
  void SetSliders(int hor, int ver);
  // The capture button could be pressed now without interrupting anything.
  bool CaptureReady() const;
  std::chrono::steady_clock::time_point Now() const;
  void ShowModal(QDialog& dialog);
  // The save dialog for a file a command writes, then the checks every such command makes: a
  // target the file rule refuses is reported (a table or memo file with `refused_text`, every
  // other refusal with the rule's own text); an existing file is replaced only after Yes and
  // only when it can be; a read-only one only when `replace_read_only`. Returns the target; a
  // silent stop otherwise.
  std::string ChooseTargetToWrite(const FileDialogSpec& spec, const char* refused_text,
                                  bool replace_read_only);
  // An error inside the data link's notices (which run inside destructors of walk scopes) is
  // reported once the event loop is back, never thrown through them.
  void ReportLater(const std::string& message_utf8);
  FileSystem& WriteFs() { return options_.export_fs ? *options_.export_fs : FileSystem::Default(); }

  std::unique_ptr<Ui::TFormMain> ui_;
  Options options_;
  Dialogs* dialogs_;
  std::unique_ptr<RosterSession> session_;
  RosterModel* model_ = nullptr;
  std::unique_ptr<DataSourceLink> link_;
  std::unique_ptr<StatusLabel> status_label_;
  std::unique_ptr<PhotoCapture> capture_;
  TFormFind* form_find_ = nullptr;
  FileDialogSpec open_dialog_;
  FileDialogSpec save_dialog_;
  std::vector<DataButton*> data_buttons_;
  bool following_ = false;  // the grid is being moved to the dataset's current row
  ExportRun* export_run_ = nullptr;  // the export in progress, while one runs
  GridDelegate* delegate_ = nullptr;
  bool fit_to_work_area_ = false;
  QMargins fitted_frame_;  // the frame the last fit allowed for
  bool terminated_ = false;
  // Guided framing. The worker is made the first time the preview is on screen and goes before
  // the capture module is released; the window's own detector serves "自动取景" on the spot.
  FramingAssistant assistant_;
  std::unique_ptr<FrameAnalyser> analyser_;
  std::unique_ptr<FaceDetector> detector_;
  QTimer* framing_timer_ = nullptr;
  int framed_recno_ = -1;  // the student the auto-capture is armed for
  int commands_running_ = 0;  // handlers on the stack (Guarded and the data buttons' handlers)
};

}  // namespace mirestal
