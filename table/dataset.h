// TTableDataSet: the cursor over one table file through which every part of the program reaches
// the roster. Navigation is in physical record order with records marked deleted hidden; field
// objects give each value as text (GBK bytes) and as a typed value.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/file.h"
#include "table/dbf_table.h"
#include "table/errors.h"

namespace mirestal {

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

// One field of the dataset. Values are read from the dataset's active record buffer.
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
  // Text of the value (GBK): strings trimmed; numbers in decimal; "True"/"False"; dates in the
  // short date format; memo fields their text; binary fields their bytes. A numeric text that
  // does not convert is returned trimmed as it stands.
  std::string AsString() const;
  // Numbers (and boolean as 0/1). Raises "Invalid numeric value in field %s" for a numeric
  // text that does not convert.
  double AsFloat() const;
  int32_t AsInteger() const;
  int64_t AsLargeInt() const;
  bool AsBoolean() const;
  // Dates and date-times as the serial of days since 1899-12-30; 0 when null.
  double AsDateTime() const;
  std::optional<TDate> AsDate() const;
  // Currency fields as in the grid: "￥1,234.50" (GBK).
  std::string DisplayText() const;

  // Text typed into the grid, converted by the field's kind (empty text: no value).
  void SetAsString(const std::string& text);
  void SetAsFloat(double value);
  void SetAsInteger(int64_t value);
  void SetAsBoolean(bool value);
  void SetAsDate(const std::optional<TDate>& date);
  void Clear();

 private:
  friend class TTableDataSet;
  TTableDataSet& dataset_;
  int table_field_;
  TFieldType type_;
  int size_;
  std::string name_;
  int index_ = 0;
};

// Notified by the dataset so that bound controls (grid, labels, buttons) follow it.
class TDataLink {
 public:
  virtual ~TDataLink() = default;
  virtual void StateChanged() {}
  // The whole dataset changed or the current record moved: redraw from the current record.
  virtual void DataSetChanged() {}
  // A field of the current record was set (null: the record as a whole).
  virtual void RecordChanged(const TField* field) { (void)field; }
};

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
  // Number of visible records. Exact: counted by a scan at first use and then kept up to date
  // by every change the dataset makes (the file is not shared). In shared mode every call scans.
  int RecordCount();
  // A fresh scan of the file, for checks of the kept count.
  int CountVisibleByScan();
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
  void Pack();
  bool CanModify() const { return !ReadOnly; }
  bool Modified() const { return modified_; }

  // --- Bound controls ---
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ > 0; }

  // Reads record `record` (physical number) into `buffer` without moving the cursor, for
  // controls that draw other rows; returns false when there is no such record.
  bool ReadRecordInto(int record, std::string* buffer);
  // While alive, field objects read from `buffer` instead of the current record.
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
  friend class DisplayBufferScope;

  void CheckActive() const;
  void CheckCanModify() const;
  void SetState(TDataSetState state);
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
  void StartInsert();
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
  const std::string* display_buffer_ = nullptr;
  bool eof_ = true;
  bool bof_ = true;
  bool modified_ = false;
  std::optional<int> kept_count_;
  int disable_count_ = 0;
  TDataSetState disabled_state_ = TDataSetState::dsInactive;
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
