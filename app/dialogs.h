// Every message, message box, file dialog and camera choice the windows show goes through
// Dialogs, so that tests and the tour can answer them from a script.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <optional>
#include <vector>

#include "core/window_texts.h"

class QWidget;

namespace mirestal {

// The application title: caption of every information message and error report.

// Message box flags and answers as the windows use them.
inline constexpr int kMbOk = 0;              // OK only
inline constexpr int kMbStop = 16;           // OK with the stop icon
inline constexpr int kMbYesNo = 52;          // Yes/No, exclamation icon, Yes the default
inline constexpr int kMbYesNoDefaultNo = 308;  // the same with No the default
inline constexpr int kIdOk = 1;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// A file dialog. `filter` is written "description|pattern|description|pattern..."; the default
// extension is added to a typed name without one.
struct FileDialogSpec {
  QString filter;
  QString default_extension;
  QString initial_folder;
  QString title;
  // The proposed file (full path); its folder is where the dialog opens. Empty: none.
  QString file_name;
};

// A choice among items (the camera's format and source dialogs).
struct ChoiceSpec {
  QString title;
  QString label;
  QStringList items;
  int current = 0;
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // Information message: application title as caption, the text, one OK, no icon. Line breaks
  // in `text` are "\r".
  virtual void ShowMessage(const QString& text) = 0;
  // The platform message box; answers the button pressed (kIdYes for Yes).
  virtual int MessageBox(const QString& text, const QString& caption, int flags) = 0;
  // Full path of the chosen file; nullopt when cancelled.
  virtual std::optional<QString> OpenFile(const FileDialogSpec& spec) = 0;
  virtual std::optional<QString> SaveFile(const FileDialogSpec& spec) = 0;
  // Index of the chosen item; nullopt when cancelled.
  virtual std::optional<int> Choose(const ChoiceSpec& spec) = 0;
  // Full path of the chosen folder; nullopt when cancelled.
  virtual std::optional<QString> ChooseFolder(const QString& title) = 0;
};

// The real dialogs, owned by `parent` (may be null). A dialog shown while one of the parent's
// windows that stay on top is visible (the find dialog) belongs to that window, so the window
// manager keeps it above; one shown from inside a modal dialog belongs to that dialog.
class QtDialogs : public Dialogs {
 public:
  explicit QtDialogs(QWidget* parent = nullptr) : parent_(parent) {}
  void SetParent(QWidget* parent) { parent_ = parent; }

  void ShowMessage(const QString& text) override;
  int MessageBox(const QString& text, const QString& caption, int flags) override;
  std::optional<QString> OpenFile(const FileDialogSpec& spec) override;
  std::optional<QString> SaveFile(const FileDialogSpec& spec) override;
  std::optional<int> Choose(const ChoiceSpec& spec) override;
  std::optional<QString> ChooseFolder(const QString& title) override;

  // The window the next dialog belongs to.
  QWidget* Owner() const;

 private:
  QWidget* parent_;
};

// Answers from a script and keeps a log of everything shown. A dialog that needs an answer
// when none is queued is recorded in unexpected() and answered "No"/cancel, so a test sees it
// instead of hanging.
class ScriptedDialogs : public Dialogs {
 public:
  enum class Kind { kMessage, kMessageBox, kOpenFile, kSaveFile, kChoice, kFolder };
  struct Shown {
    Kind kind;
    QString text;     // message text, or the dialog's title
    QString caption;  // message boxes
    int flags = 0;    // message boxes
    QString file_name;  // file dialogs: the proposed file
  };

  void QueueAnswer(int answer) { answers_.push_back(answer); }
  // Answers the file dialogs and the folder dialog, in order.
  void QueueFile(std::optional<QString> path) { files_.push_back(std::move(path)); }
  void QueueChoice(std::optional<int> index) { choices_.push_back(index); }

  const std::vector<Shown>& log() const { return log_; }
  // Texts of the information messages and message boxes, in order.
  QStringList Texts() const;
  void ClearLog() { log_.clear(); }
  const QStringList& unexpected() const { return unexpected_; }
  // Nothing queued is left over.
  bool AllAnswersUsed() const { return answers_.empty() && files_.empty() && choices_.empty(); }

  void ShowMessage(const QString& text) override;
  int MessageBox(const QString& text, const QString& caption, int flags) override;
  std::optional<QString> OpenFile(const FileDialogSpec& spec) override;
  std::optional<QString> SaveFile(const FileDialogSpec& spec) override;
  std::optional<int> Choose(const ChoiceSpec& spec) override;
  std::optional<QString> ChooseFolder(const QString& title) override;

 private:
  std::deque<int> answers_;
  std::deque<std::optional<QString>> files_;
  std::deque<std::optional<int>> choices_;
  std::vector<Shown> log_;
  QStringList unexpected_;
};

// "desc|pat|desc|pat" as Qt's name filters ("desc (pat)").
QStringList QtNameFilters(const QString& filter);

}  // namespace mirestal
