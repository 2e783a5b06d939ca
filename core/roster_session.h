// The main window's state and the handler logic that needs no widget: the roster dataset, the
// program folder, the key field name, the has-key and scroll-refresh flags, opening a roster,
// the student info texts, the current photo path, the data buttons' enabling and actions, the
// record-position text and the photo note.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "capture/photo_check.h"
#include "capture/photo_store.h"
#include "core/window_texts.h"
#include "platform/file.h"
#include "table/dataset.h"

namespace mirestal {


// Why a data button is disabled; also the conditions that hold at a moment.
enum DataCondition : unsigned {
  kAtBegin = 1u << 0,
  kAtEnd = 1u << 1,
  kReadOnly = 1u << 2,
  kNotEditing = 1u << 3,
  kEmpty = 1u << 4,
  kEditing = 1u << 5,
};

enum class DataAction { kFirst, kPrior, kNext, kLast, kInsert, kDelete, kEdit, kPost, kCancel };

// The conditions that hold for `dataset` now.
unsigned DataConditions(const TTableDataSet& dataset);
inline bool DataButtonEnabled(unsigned disable_reasons, unsigned conditions) {
  return (disable_reasons & conditions) == 0;
}
// Performs `action` when the dataset is open; nothing when it is closed.
void PerformDataAction(TTableDataSet& dataset, DataAction action);

// "5:120", "5", "( 0 )" or "" for a record number and a count (each -1 when absent).
std::string RecordPositionText(int recno, int count);

// The photo note under the capture panel: nine lines joined by "\r" (UTF-8). `program_dir` is
// shown as it stands (it ends in a separator).
std::string PhotoNote(const std::string& program_dir);

struct OpenOutcome {
  bool opened = false;
  std::string message;  // information message to show (UTF-8); empty when none
};

struct StudentInfoTexts {
  std::string zch, name, sex;  // UTF-8 captions of LabelZch, LabelName, LabelSex
};

class RosterSession {
 public:
  // `program_dir` (UTF-8, ending in '/') is the program folder: photos live below it.
  explicit RosterSession(std::string program_dir, FileSystem& fs = FileSystem::Default());

  TTableDataSet& dataset() { return dataset_; }
  const std::string& program_dir() const { return store_.program_dir(); }
  const PhotoStore& store() const { return store_; }
  // The checks of the photos drawn and counted, kept while the files stay unchanged.
  PhotoCheckCache& photo_checks() { return photo_checks_; }

  const std::string& key_field_name() const { return key_field_name_; }  // UTF-8
  bool has_key() const { return has_key_; }
  bool scroll_refresh() const { return scroll_refresh_; }
  void set_scroll_refresh(bool on) { scroll_refresh_ = on; }

  // Closes the dataset, opens `path` (UTF-8 full path) as a roster and decides the key field.
  // A failed open (the dataset's own handlers failing included) leaves the dataset closed and
  // answers the open-failure message; a roster
  // without the key field stays open and answers the missing-key message. The dataset's
  // bound controls are suspended meanwhile and resumed on every path.
  OpenOutcome Open(const std::string& path);

  // Field names in table order (UTF-8) and the entry the find list selects.
  std::vector<std::string> FieldNames() const;
  int FindListSelection() const;

  bool RosterHasRecords() const;
  bool RosterOpen() const { return dataset_.Active(); }
  // Students (visible records) of the open roster; 0 when none is open.
  int StudentCount() { return dataset_.Active() ? dataset_.RecordCount() : 0; }
  // Makes physical record `recno` current (a record of the grid).
  void MoveToRecord(int recno) { dataset_.SetRecNo(recno); }
  // The name (GBK) of field `index` of the open roster; null when there is no such field.
  const std::string* FieldNameAt(int index) const {
    if (!dataset_.Active() || index < 0 || index >= dataset_.FieldCount()) return nullptr;
    return &dataset_.Fields(index).FieldName();
  }
  // The open roster's path as it was opened (UTF-8); empty when none is open.
  std::string RosterPath() const { return dataset_.Active() ? dataset_.TableName : std::string(); }
  // A record is being edited or inserted.
  bool Editing() const;
  // Called on every state notice: true when an edit or insert has just ended (stored or
  // discarded), which moves no record yet changes what the current student is.
  bool EditJustEnded();
  // Stores a pending edit or insert; nothing when none.
  void PostPendingEdit();
  StudentInfoTexts StudentInfo();
  // The current student's key value as text (GBK); empty when none.
  std::string CurrentKey();
  // The current student's photo path; nullopt without the key field, without a current record,
  // or for a key that names no photo file.
  std::optional<std::string> CurrentPhotoPath();

 private:
  std::string FieldText(const char* name_utf8);

  FileSystem& fs_;
  PhotoStore store_;
  PhotoCheckCache photo_checks_;
  TTableDataSet dataset_;
  std::string key_field_name_;
  bool has_key_ = false;
  bool scroll_refresh_ = true;
  bool was_editing_ = false;
};

// Clears the scroll-refresh flag and suspends the bound controls for a walk through the table;
// both come back on every path, an error included.
class TableWalkScope {
 public:
  explicit TableWalkScope(RosterSession& session)
      : session_(session), was_refreshing_(session.scroll_refresh()), controls_(session.dataset()) {
    session_.set_scroll_refresh(false);
  }
  ~TableWalkScope() { session_.set_scroll_refresh(was_refreshing_); }
  TableWalkScope(const TableWalkScope&) = delete;
  TableWalkScope& operator=(const TableWalkScope&) = delete;

 private:
  RosterSession& session_;
  bool was_refreshing_;
  ScopedDisableControls controls_;
};

}  // namespace mirestal
