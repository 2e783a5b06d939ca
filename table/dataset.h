// TTableDataSet: the cursor over one table file through which every part of the program reaches
// the roster. Navigation is in physical record order with records marked deleted hidden; field
// objects give each value as text (GBK bytes) and as a typed value.
//
// This header is the dataset's whole contract; the engine behind it (table/dbf_table.h) is not
// needed to use it. Reading order: the field object, the record view (any row read without
// moving the cursor), the link of bound controls and its notices, then the dataset.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "table/errors.h"
#include "table/types.h"

namespace mirestal {

class DbfTable;
class TRecordView;
class TTableDataSet;

enum class TDataSetState { dsInactive, dsBrowse, dsEdit, dsInsert };

enum class TFieldType {
  ftString,
  ftSmallint,  // 16-bit integer
  ftInteger,   // 32-bit integer
  ftLargeint,  // 64-bit integer: N/F without decimals and of length 10 or more
  ftFloat,
  ftCurrency,
  ftBoolean,
  ftDate,
  ftDateTime,
  ftMemo,
  ftBlob,
};

enum class TLargeIntKind { asInteger, asFloat };

// One field of the dataset. The reads without a view read the dataset's current record (or the
// record of a DisplayBufferScope in force); the reads with a view read the view's record and touch
// nothing else, so a grid can draw any row while the cursor stays where it is.
class TField {
 public:
  TField(TTableDataSet& dataset, int table_field, TFieldType type, int size, std::string name);

  const std::string& FieldName() const { return name_; }  // GBK bytes as stored
  const std::string& DisplayLabel() const { return name_; }
  TFieldType DataType() const { return type_; }
  int Size() const { return size_; }  // string fields: the field length; others 0
  int DisplayWidth() const;
  bool Visible() const { return true; }
  bool IsBlob() const { return type_ == TFieldType::ftMemo || type_ == TFieldType::ftBlob; }
  int Index() const { return index_; }          // position in the dataset's field list
  int TableField() const { return table_field_; }  // field number in the table (from 1)
  char TypeLetter() const;
  int Decimals() const;
  TTableDataSet& DataSet() const { return dataset_; }

  bool IsNull() const;
  bool IsNull(const TRecordView& row) const;
  // Text of the value (GBK): strings trimmed; numbers in decimal; "True"/"False"; dates in the
  // short date format; memo fields their text; binary fields their bytes. A numeric text that
  // does not convert is returned trimmed as it stands.
  std::string AsString() const;
  std::string AsString(const TRecordView& row) const;
  // Numbers (and boolean as 0/1). Raise "Invalid numeric value in field %s" for a numeric text
  // that does not convert.
  double AsFloat() const;
  double AsFloat(const TRecordView& row) const;
  int32_t AsInteger() const;
  int32_t AsInteger(const TRecordView& row) const;
  int64_t AsLargeInt() const;
  int64_t AsLargeInt(const TRecordView& row) const;
  bool AsBoolean() const;
  bool AsBoolean(const TRecordView& row) const;
  // Dates and date-times as the serial of days since 1899-12-30; 0 when null.
  double AsDateTime() const;
  double AsDateTime(const TRecordView& row) const;
  std::optional<TDate> AsDate() const;
  std::optional<TDate> AsDate(const TRecordView& row) const;
  // As AsString, except currency fields as in the grid ("￥1,234.50", GBK) and memo and binary
  // fields as "(Memo)"/"(MEMO)", "(Blob)"/"(BLOB)" (empty/filled).
  std::string DisplayText() const;
  std::string DisplayText(const TRecordView& row) const;

  // Text typed into the grid, converted by the field's kind (empty text: no value).
  void SetAsString(const std::string& text);
  void SetAsFloat(double value);
  void SetAsInteger(int64_t value);
  void SetAsBoolean(bool value);
  void SetAsDate(const std::optional<TDate>& date);
  void Clear();

 private:
  friend class TTableDataSet;
  // The readers behind both forms; `record` is a whole record (record length + 1 bytes).
  bool NullIn(const std::string& record) const;
  std::string StringIn(const std::string& record) const;
  double FloatIn(const std::string& record) const;
  int32_t IntegerIn(const std::string& record) const;
  int64_t LargeIntIn(const std::string& record) const;
  bool BooleanIn(const std::string& record) const;
  double DateTimeIn(const std::string& record) const;
  std::optional<TDate> DateIn(const std::string& record) const;
  std::string DisplayTextIn(const std::string& record) const;
  const std::string& RecordOf(const TRecordView& row) const;

  TTableDataSet& dataset_;
  int table_field_;
  TFieldType type_;
  int size_;
  std::string name_;
  int index_ = 0;
};

// A copy of one record of an open dataset, read without moving the cursor, for the field reads
// that take a view. Loading reads the record from the table; the copy stays as it was until the
// next Load. A view must be loaded again after the dataset is closed, reopened or packed: reading
// one loaded before raises "<name>: Record view is not loaded".
class TRecordView {
 public:
  explicit TRecordView(TTableDataSet& dataset);

  // Reads physical record `recno` (from 1); false (and not loaded) when there is no such record
  // or the dataset is closed. Deleted records load too: Deleted() tells.
  bool Load(int recno);
  // Copies the dataset's current record as it stands, typed values of an edit or insert
  // included; false when there is none. RecNo() is 0 for a new record not yet posted.
  bool LoadCurrent();
  int RecNo() const { return recno_; }
  bool Loaded() const { return loaded_; }
  bool Deleted() const;
  TTableDataSet& DataSet() const { return dataset_; }

 private:
  friend class TField;
  TTableDataSet& dataset_;
  std::string record_;
  int recno_ = 0;
  bool loaded_ = false;
  uint64_t generation_ = 0;
};

// A bound control's connection to a dataset. The link owns its registration: SetDataSet moves it
// from one dataset to another, its destructor unregisters it, and a dataset destroyed first
// leaves its links detached (DataSet() == nullptr) instead of dangling.
//
// Notices (none while DisableControls is in force; EnableControls then sends one
// DataSetChanged):
//   ActiveChanged    the dataset was opened or closed;
//   DataSetScrolled  only the cursor moved (First, Next, Prior, Last, MoveBy, SetRecNo, bookmarks);
//                    the rows are as they were;
//   DataSetChanged   rows may differ: post, delete, pack, cancel of an insert, EnableControls;
//   RecordChanged    a field of the current record was set (null: the whole record, as by the
//                    cancel of an edit);
//   StateChanged     the state changed (browse, edit, insert, inactive); entering the insert
//                    state is how a pending new row appears (TTableDataSet::NewRecordRow).
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  void SetDataSet(TTableDataSet* dataset);
  TTableDataSet* DataSet() const { return dataset_; }

  virtual void ActiveChanged() {}
  virtual void DataSetScrolled() {}
  virtual void DataSetChanged() {}
  virtual void RecordChanged(const TField* field) { (void)field; }
  virtual void StateChanged() {}

 private:
  friend class TTableDataSet;
  TTableDataSet* dataset_ = nullptr;
};

// Where the pending new record of the insert state is shown: Insert shows it at the current row,
// Append after the last row. Posting writes both at the end of the table.
enum class TNewRecordPlace { kNone, kInsert, kAppend };

class TTableDataSet {
 public:
  using Event = std::function<void(TTableDataSet&)>;

  explicit TTableDataSet(std::string name = "Dbf", FileSystem& fs = FileSystem::Default());
  ~TTableDataSet();
  TTableDataSet(const TTableDataSet&) = delete;
  TTableDataSet& operator=(const TTableDataSet&) = delete;

  // --- Properties ---
  const std::string& Name() const { return name_; }
  std::string TableName;     // UTF-8 path on Linux
  std::string DatabaseName;  // folder put in front of TableName when not empty
  bool Exclusive = false;
  bool ReadOnly = false;
  bool AutoFlush = false;
  bool ExactCount = false;
  bool UseDeleted = false;
  bool TranslateASCII = true;
  TLargeIntKind LargeIntegerAs = TLargeIntKind::asInteger;
  TLockProtocol LockProtocol = TLockProtocol::Default;
  int32_t UserID = 0;
  std::string EncryptionKey;

  // --- Events ---
  Event BeforeOpen, AfterOpen, BeforeClose, AfterClose, BeforeInsert, AfterInsert, BeforeEdit,
      AfterEdit, BeforePost, AfterPost, BeforeCancel, AfterCancel, BeforeDelete, AfterDelete,
      BeforeScroll, AfterScroll, OnNewRecord;

  // --- Opening and closing ---
  void Open();
  void Close();
  bool Active() const { return table_ != nullptr; }
  void SetActive(bool active) { active ? Open() : Close(); }
  TDataSetState State() const { return state_; }

  // --- Fields ---
  int FieldCount() const { return static_cast<int>(fields_.size()); }
  TField& Fields(int i) { return *fields_.at(i); }
  const TField& Fields(int i) const { return *fields_.at(i); }
  TField* FindField(const std::string& name);
  TField& FieldByName(const std::string& name);

  // --- Navigation ---
  void First();
  void Next();
  void Prior();
  void Last();
  void MoveBy(int n);
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  bool IsEmpty() const;
  int RecNo() const;
  void SetRecNo(int record);
  // Number of visible records. With ExactCount it is RowCount(); without, the number of records
  // in the file, deleted ones included.
  int RecordCount();
  // A fresh scan of the file, for checks of the kept count and index.
  int CountVisibleByScan();

  // --- Visible rows ---
  // Row r (from 0) is the r-th visible record in physical order. The index is built by one scan
  // at first use and then kept by every change the dataset makes (append, delete, recall, pack;
  // closing drops it), so these calls read no record. The file is held exclusively, so the kept index
  // equals a fresh scan; in shared mode every call scans again.
  int RowCount();
  // Physical record number (from 1) of row `row`; -1 when there is no such row.
  int RecNoOfRow(int row);
  // Row of physical record `recno`; -1 when that record is not visible.
  int RowOfRecNo(int recno);
  bool IsSequenced() const { return true; }

  // --- Bookmarks: the record number as 10 right-aligned digits and a NUL ---
  std::string GetBookmark() const;
  void GotoBookmark(const std::string& bookmark);
  static int CompareBookmarks(const std::string& a, const std::string& b);
  bool BookmarkValid(const std::string& bookmark) const;

  // --- Changes ---
  void Edit();
  void Insert();
  void Append();
  void Post();
  void Cancel();
  void Delete();
  // Clears the delete mark of physical record `recno` (posting a pending edit first); the record
  // becomes visible again and the cursor stays on its record. Failing: "Cannot recall the
  // record".
  void Recall(int recno);
  void Pack();
  bool CanModify() const { return !ReadOnly; }
  bool Modified() const { return modified_; }
  // Where the pending new record is shown (kNone outside the insert state), and its row: the
  // current row for Insert, RowCount() for Append; -1 when there is none.
  TNewRecordPlace NewRecordPlace() const { return new_place_; }
  int NewRecordRow();

  // --- Bound controls ---
  // Same as link->SetDataSet(this) / link->SetDataSet(nullptr).
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }

  // Reads record `record` (physical number) into `buffer` without moving the cursor, for
  // controls that draw other rows; returns false when there is no such record.
  bool ReadRecordInto(int record, std::string* buffer);
  // While alive, the field reads without a view read `buffer` instead of the current record:
  // for a control that must treat the drawn row as the active one. Other drawing reads through a
  // TRecordView.
  class DisplayBufferScope {
   public:
    DisplayBufferScope(TTableDataSet& dataset, const std::string& buffer);
    ~DisplayBufferScope();
    DisplayBufferScope(const DisplayBufferScope&) = delete;
    DisplayBufferScope& operator=(const DisplayBufferScope&) = delete;

   private:
    TTableDataSet& dataset_;
    const std::string* previous_;
  };

  // The table object while open (for the engine's own tools and tests).
  DbfTable* Table() { return table_.get(); }
  // Raises "<name>: <text>".
  [[noreturn]] void DatabaseError(const std::string& text) const;

 private:
  friend class TField;
  friend class TRecordView;
  friend class TDataLink;
  friend class DisplayBufferScope;

  void CheckActive() const;
  void CheckCanModify() const;
  void SetState(TDataSetState state);
  template <typename Notice>
  void Notify(Notice notice);
  void NotifyActiveChanged();
  void NotifyScrolled();
  void NotifyStateChanged();
  void NotifyDataSetChanged();
  void NotifyRecordChanged(const TField* field);
  void Fire(const Event& event) {
    if (event) event(*this);
  }
  void BuildFields();
  // Copies the table's current buffer into the dataset's current record.
  void TakeCurrent();
  // True when the record in the table's buffer is not visible (deleted, or refused).
  bool Hidden() const;
  // Reads records from `from` + direction onward until a visible one; false when none.
  bool Step(int from, int direction);
  // Goes to the first (kMoveTop) or last (kMoveBottom) visible record; false when none.
  bool GoEnd(int code);
  // Pending edit handling: posts a modified record, cancels an unmodified one.
  void CheckPendingEdit();
  // Makes `record` current again after a change; a hidden record gives way to the next visible
  // one, then to the previous one. Eof and Bof are False unless no visible record is left.
  void Resync(int record);
  void StartInsert(TNewRecordPlace place);
  // The visible rows' record numbers, ascending: the kept index, or a fresh one in shared mode.
  const std::vector<int>& Rows();
  std::vector<int> ScanRows();
  const std::string& ActiveBuffer() const { return display_buffer_ ? *display_buffer_ : current_; }

  std::string name_;
  FileSystem& fs_;
  std::unique_ptr<DbfTable> table_;
  std::vector<std::unique_ptr<TField>> fields_;
  TDataSetState state_ = TDataSetState::dsInactive;
  std::string current_;  // the current record's bytes (record length + 1, last 0x1A)
  int current_recno_ = 0;
  bool has_current_ = false;  // a visible record (or a new one) is current
  int insert_return_ = 0;     // record current before Insert, for Cancel
  TNewRecordPlace new_place_ = TNewRecordPlace::kNone;
  const std::string* display_buffer_ = nullptr;
  bool eof_ = true;
  bool bof_ = true;
  bool modified_ = false;
  std::optional<std::vector<int>> rows_;  // kept index (exclusive mode)
  std::vector<int> shared_rows_;          // the last fresh index (shared mode)
  uint64_t generation_ = 0;               // changed by open, close and pack (record views)
  int disable_count_ = 0;
  TDataSetState disabled_state_ = TDataSetState::dsInactive;
  bool disabled_active_ = false;
  std::vector<TDataLink*> links_;
};

// Keeps DisableControls in force for a scope; EnableControls also runs when an error unwinds.
class ScopedDisableControls {
 public:
  explicit ScopedDisableControls(TTableDataSet& dataset) : dataset_(dataset) {
    dataset_.DisableControls();
  }
  ~ScopedDisableControls() { dataset_.EnableControls(); }
  ScopedDisableControls(const ScopedDisableControls&) = delete;
  ScopedDisableControls& operator=(const ScopedDisableControls&) = delete;

 private:
  TTableDataSet& dataset_;
};

}  // namespace mirestal
