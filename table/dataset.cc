#include "table/dataset.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "platform/gbk.h"
#include "platform/paths.h"
#include "platform/text.h"
#include "table/dbf_table.h"

namespace mirestal {
namespace {

// Points the table at one of the dataset's buffers for a scope, and back at the one before.
class TableBufferScope {
 public:
  TableBufferScope(DbfTable& table, char* buffer)
      : table_(table), previous_(table.CurrentBuffer()) {
    table_.SetCurrentBuffer(buffer);
  }
  ~TableBufferScope() { table_.SetCurrentBuffer(previous_); }
  TableBufferScope(const TableBufferScope&) = delete;
  TableBufferScope& operator=(const TableBufferScope&) = delete;

 private:
  DbfTable& table_;
  char* previous_;
};

// Restores the table's use-deleted flag to the dataset's setting.
class UseDeletedScope {
 public:
  UseDeletedScope(DbfTable& table, bool restore) : table_(table), restore_(restore) {
    table_.use_deleted = true;
  }
  ~UseDeletedScope() { table_.use_deleted = restore_; }
  UseDeletedScope(const UseDeletedScope&) = delete;
  UseDeletedScope& operator=(const UseDeletedScope&) = delete;

 private:
  DbfTable& table_;
  bool restore_;
};

std::optional<TFieldType> KindOf(char type, int length, int decimals, uint8_t version,
                                  TLargeIntKind large) {
  bool vfp = version == dbf::kVersionVfp;
  auto numeric = [&]() -> TFieldType {
    if (decimals > 0) return TFieldType::ftFloat;
    if (length <= 4) return TFieldType::ftSmallint;
    if (length <= 9) return TFieldType::ftInteger;
    return large == TLargeIntKind::asInteger ? TFieldType::ftLargeint : TFieldType::ftFloat;
  };
  switch (type) {
    case 'C': return TFieldType::ftString;
    case 'N': case 'F': return numeric();
    case 'D': return TFieldType::ftDate;
    case 'L': return TFieldType::ftBoolean;
    case 'M': return TFieldType::ftMemo;
    case 'B': case 'G': return TFieldType::ftBlob;
    case 'I': return vfp ? TFieldType::ftInteger : numeric();
    case 'T': return vfp ? TFieldType::ftDateTime : numeric();
    case 'Y': return vfp ? TFieldType::ftCurrency : numeric();
    default: return std::nullopt;
  }
}

}  // namespace

TTableDataSet::TTableDataSet(std::string name, FileSystem& fs) : name_(std::move(name)), fs_(fs) {}

TTableDataSet::~TTableDataSet() {
  for (TDataLink* link : links_) link->dataset_ = nullptr;
  links_.clear();
  if (!table_) return;
  fields_.clear();
  state_ = TDataSetState::dsInactive;
  table_.reset();  // writes a pending header; errors cannot be reported from here
}

void TTableDataSet::DatabaseError(const std::string& text) const {
  throw EDatabaseError(name_ + ": " + text);
}

void TTableDataSet::CheckActive() const {
  if (!table_) DatabaseError("Cannot perform this operation on a closed dataset");
}

// --- Opening and closing ---

void TTableDataSet::Open() {
  if (table_) return;
  Fire(BeforeOpen);
  if (TableName.empty()) throw EDatabaseError("Table name missing");
  std::string path = TableName;
  if (!FsPath(path).has_extension()) {
    std::string upper = path + ".DBF";
    path = (!FileExists(DatabaseName.empty() ? upper : DatabaseName + "/" + upper) &&
            FileExists(DatabaseName.empty() ? path + ".dbf" : DatabaseName + "/" + path + ".dbf"))
               ? path + ".dbf"
               : upper;
  }
  if (!DatabaseName.empty()) {
    std::string folder = DatabaseName;
    if (folder.back() != '/') folder += '/';
    path = folder + path;
  }
  if (!FileExists(path)) throw EDatabaseError(FormatMessage("Cannot find file %s", {path}));
  try {
    table_ = std::make_unique<DbfTable>(fs_);
    table_->OpenTable(path, !ReadOnly, !Exclusive, EncryptionKey);
    table_->auto_flush = AutoFlush;
    table_->use_deleted = UseDeleted;
    table_->lock_protocol = LockProtocol;
    table_->user_id = UserID;
    BuildFields();
    current_.assign(table_->RecordLength() + 1, ' ');
    current_.back() = dbf::kEndOfFile;
    rows_.reset();
    ++generation_;
    modified_ = false;
    new_place_ = TNewRecordPlace::kNone;
    current_recno_ = 0;
    table_->Go(kMoveTop);
    has_current_ = !table_->AtEnd() && !table_->AtBegin() && table_->CurrentRecord() > 0;
    if (has_current_) TakeCurrent();
    eof_ = !has_current_;
    bof_ = true;
  } catch (...) {
    fields_.clear();
    table_.reset();
    throw;
  }
  SetState(TDataSetState::dsBrowse);
  NotifyActiveChanged();
  Fire(AfterOpen);
  if (has_current_) Fire(AfterScroll);
}

void TTableDataSet::BuildFields() {
  fields_.clear();
  std::vector<std::string> seen;
  for (int f = 1; f <= table_->FieldCount(); ++f) {
    auto kind = KindOf(table_->FieldType(f), table_->FieldLength(f), table_->FieldDecimals(f),
                       table_->Version(), LargeIntegerAs);
    if (!kind) continue;
    std::string name = table_->FieldName(f);
    std::string upper = FoldCaseGbk(name);
    if (std::find(seen.begin(), seen.end(), upper) != seen.end()) {
      throw EDatabaseError(FormatMessage("A component named %s already exists", {GbkToUtf8(name)}));
    }
    seen.push_back(upper);
    int size = *kind == TFieldType::ftString ? table_->FieldLength(f) : 0;
    auto field = std::make_unique<TField>(*this, f, *kind, size, name);
    field->index_ = static_cast<int>(fields_.size());
    fields_.push_back(std::move(field));
  }
}

TField* TTableDataSet::FindField(const std::string& name) {
  std::string upper = FoldCaseGbk(name);
  for (auto& field : fields_) {
    if (FoldCaseGbk(field->FieldName()) == upper) return field.get();
  }
  return nullptr;
}

TField& TTableDataSet::FieldByName(const std::string& name) {
  TField* field = FindField(name);
  if (!field) DatabaseError(FormatMessage("Field '%s' not found", {GbkToUtf8(name)}));
  return *field;
}

void TTableDataSet::Close() {
  if (!table_) return;
  Fire(BeforeClose);
  SetState(TDataSetState::dsInactive);
  fields_.clear();
  std::unique_ptr<DbfTable> table = std::move(table_);
  has_current_ = false;
  current_recno_ = 0;  // no record: the next table must not inherit this one's position
  eof_ = bof_ = true;
  rows_.reset();
  shared_rows_.clear();
  ++generation_;
  new_place_ = TNewRecordPlace::kNone;
  try {
    table->CloseTable();  // writes a pending header; the table object is freed either way
  } catch (...) {
    NotifyActiveChanged();
    throw;
  }
  NotifyActiveChanged();
  Fire(AfterClose);
}

// --- State and notices ---

void TTableDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  NotifyStateChanged();
}

// A link may unregister itself or another during a notice; each one is asked only while it is
// still registered.
template <typename Notice>
void TTableDataSet::Notify(Notice notice) {
  if (disable_count_ > 0) return;
  const std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) {
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) notice(*link);
  }
}

void TTableDataSet::NotifyActiveChanged() {
  Notify([](TDataLink& link) { link.ActiveChanged(); });
}

void TTableDataSet::NotifyScrolled() {
  Notify([](TDataLink& link) { link.DataSetScrolled(); });
}

void TTableDataSet::NotifyStateChanged() {
  Notify([](TDataLink& link) { link.StateChanged(); });
}

void TTableDataSet::NotifyDataSetChanged() {
  Notify([](TDataLink& link) { link.DataSetChanged(); });
}

void TTableDataSet::NotifyRecordChanged(const TField* field) {
  Notify([field](TDataLink& link) { link.RecordChanged(field); });
}

TDataLink::~TDataLink() { SetDataSet(nullptr); }

void TDataLink::SetDataSet(TTableDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_) {
    auto& links = dataset_->links_;
    links.erase(std::remove(links.begin(), links.end(), this), links.end());
  }
  dataset_ = dataset;
  if (dataset_) dataset_->links_.push_back(this);
}

void TTableDataSet::AddDataLink(TDataLink* link) { link->SetDataSet(this); }

void TTableDataSet::RemoveDataLink(TDataLink* link) {
  if (link->dataset_ == this) link->SetDataSet(nullptr);
}

void TTableDataSet::DisableControls() {
  if (disable_count_++ == 0) {
    disabled_state_ = state_;
    disabled_active_ = Active();
  }
}

void TTableDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ > 0) return;
  if (Active() != disabled_active_) NotifyActiveChanged();
  if (state_ != disabled_state_) NotifyStateChanged();
  if (table_) NotifyDataSetChanged();
}

// --- Navigation ---

void TTableDataSet::TakeCurrent() {
  std::copy(table_->CurrentBuffer(), table_->CurrentBuffer() + table_->RecordLength(),
            current_.begin());
  current_recno_ = table_->CurrentRecord();
  has_current_ = true;
}

bool TTableDataSet::Hidden() const {
  if (!table_->use_deleted && table_->IsDeleted()) return true;
  return table_->accept_record && !table_->accept_record();
}

bool TTableDataSet::Step(int from, int direction) {
  int count = table_->RecordCount();
  for (int r = from + direction;; r += direction) {
    if (r < 1) return false;
    if (r > count) {
      if (!table_->shared()) return false;
      table_->RefreshHeader();
      count = table_->RecordCount();
      if (r > count) return false;
    }
    table_->MoveTo(r);
    if (!Hidden()) {
      TakeCurrent();
      return true;
    }
  }
}

bool TTableDataSet::GoEnd(int code) {
  table_->Go(code);
  if (table_->AtEnd() || table_->AtBegin() || table_->CurrentRecord() == 0 || Hidden()) {
    return false;
  }
  TakeCurrent();
  return true;
}

void TTableDataSet::CheckPendingEdit() {
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  if (modified_) {
    Post();
  } else {
    Cancel();
  }
}

void TTableDataSet::First() {
  CheckActive();
  CheckPendingEdit();
  Fire(BeforeScroll);
  has_current_ = GoEnd(kMoveTop);
  eof_ = !has_current_;
  bof_ = true;
  NotifyScrolled();
  Fire(AfterScroll);
}

void TTableDataSet::Last() {
  CheckActive();
  CheckPendingEdit();
  Fire(BeforeScroll);
  has_current_ = GoEnd(kMoveBottom);
  eof_ = true;
  bof_ = !has_current_;
  NotifyScrolled();
  Fire(AfterScroll);
}

void TTableDataSet::Next() { MoveBy(1); }

void TTableDataSet::Prior() { MoveBy(-1); }

void TTableDataSet::MoveBy(int n) {
  CheckActive();
  CheckPendingEdit();
  if (n == 0) return;
  Fire(BeforeScroll);
  if ((n > 0 && eof_) || (n < 0 && bof_)) return;
  int direction = n > 0 ? 1 : -1;
  for (int i = 0; i != n; i += direction) {
    if (!has_current_ || !Step(current_recno_, direction)) {
      (direction > 0 ? eof_ : bof_) = true;
      break;
    }
    (direction > 0 ? bof_ : eof_) = false;
  }
  NotifyScrolled();
  Fire(AfterScroll);
}

bool TTableDataSet::IsEmpty() const { return !table_ || !has_current_; }

int TTableDataSet::RecNo() const {
  if (!table_) throw EDatabaseError("Cannot perform this operation on a closed dataset");
  return current_recno_;
}

void TTableDataSet::Resync(int record) {
  has_current_ = false;
  if (record >= 1 && record <= table_->RecordCount()) {
    table_->MoveTo(record);
    if (!Hidden()) {
      TakeCurrent();
    } else {
      has_current_ = Step(record, 1) || Step(record, -1);
    }
  } else {
    has_current_ = GoEnd(kMoveBottom);
  }
  eof_ = bof_ = !has_current_;
}

void TTableDataSet::SetRecNo(int record) {
  CheckActive();
  CheckPendingEdit();
  if (record == 0) return;
  if (record < 0 || record > table_->RecordCount() + 1) {
    throw ETableError(FormatMessage("Record number %d is not in table %s",
                                    {std::to_string(record), table_->FileName()}));
  }
  Resync(record);
  NotifyScrolled();
  Fire(AfterScroll);
}

std::vector<int> TTableDataSet::ScanRows() {
  // Reads beside the cursor, so that counting in edit or insert state leaves the table object
  // on the record being edited.
  std::string record(table_->RecordLength(), ' ');
  std::vector<int> rows;
  for (int r = 1; r <= table_->RecordCount(); ++r) {
    table_->ReadRecordCopy(r, record.data());
    if (table_->use_deleted || record[0] != dbf::kDeletedFlag) rows.push_back(r);
  }
  return rows;
}

int TTableDataSet::CountVisibleByScan() {
  CheckActive();
  return static_cast<int>(ScanRows().size());
}

const std::vector<int>& TTableDataSet::Rows() {
  CheckActive();
  if (table_->shared()) {
    table_->RefreshHeader();
    shared_rows_ = ScanRows();
    return shared_rows_;
  }
  if (!rows_) rows_ = ScanRows();
  return *rows_;
}

int TTableDataSet::RowCount() { return static_cast<int>(Rows().size()); }

int TTableDataSet::RecNoOfRow(int row) {
  const std::vector<int>& rows = Rows();
  return row >= 0 && row < static_cast<int>(rows.size()) ? rows[row] : -1;
}

int TTableDataSet::RowOfRecNo(int recno) {
  const std::vector<int>& rows = Rows();
  auto it = std::lower_bound(rows.begin(), rows.end(), recno);
  return it != rows.end() && *it == recno ? static_cast<int>(it - rows.begin()) : -1;
}

int TTableDataSet::RecordCount() {
  if (!table_) throw EDatabaseError("Cannot perform this operation on a closed dataset");
  if (!ExactCount) return table_->RecordCount();
  return RowCount();
}

bool TTableDataSet::ReadRecordInto(int record, std::string* buffer) {
  CheckActive();
  if (record < 1 || record > table_->RecordCount()) return false;
  buffer->assign(table_->RecordLength() + 1, ' ');
  table_->ReadRecordCopy(record, buffer->data());
  buffer->back() = dbf::kEndOfFile;
  return true;
}

// --- Record views ---

TRecordView::TRecordView(TTableDataSet& dataset) : dataset_(dataset) {}

bool TRecordView::Load(int recno) {
  loaded_ = false;
  recno_ = 0;
  if (!dataset_.Active() || !dataset_.ReadRecordInto(recno, &record_)) return false;
  recno_ = recno;
  generation_ = dataset_.generation_;
  loaded_ = true;
  return true;
}

bool TRecordView::LoadCurrent() {
  loaded_ = false;
  recno_ = 0;
  if (!dataset_.Active() || !dataset_.has_current_) return false;
  record_ = dataset_.current_;
  recno_ = dataset_.state_ == TDataSetState::dsInsert ? 0 : dataset_.current_recno_;
  generation_ = dataset_.generation_;
  loaded_ = true;
  return true;
}

bool TRecordView::Deleted() const { return loaded_ && record_[0] == dbf::kDeletedFlag; }

TTableDataSet::DisplayBufferScope::DisplayBufferScope(TTableDataSet& dataset,
                                                      const std::string& buffer)
    : dataset_(dataset), previous_(dataset.display_buffer_) {
  dataset_.display_buffer_ = &buffer;
}

TTableDataSet::DisplayBufferScope::~DisplayBufferScope() { dataset_.display_buffer_ = previous_; }

// --- Bookmarks ---

std::string TTableDataSet::GetBookmark() const {
  CheckActive();
  char text[16];
  std::snprintf(text, sizeof text, "%10d", current_recno_);
  return std::string(text, 10) + '\0';
}

namespace {
std::optional<int> BookmarkNumber(const std::string& bookmark) {
  std::string_view s(bookmark.c_str());
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  int n = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), n);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return n;
}
}  // namespace

void TTableDataSet::GotoBookmark(const std::string& bookmark) {
  CheckActive();
  CheckPendingEdit();
  auto n = BookmarkNumber(bookmark);
  const std::string invalid = "Bookmark is invalid for table " + TableName;
  if (!n || *n < 1 || *n > table_->RecordCount()) throw EDatabaseError(invalid);
  Fire(BeforeScroll);
  try {
    table_->MoveTo(*n);
  } catch (const ETableError&) {
    throw EDatabaseError(invalid);
  }
  TakeCurrent();
  eof_ = bof_ = false;
  NotifyScrolled();
  Fire(AfterScroll);
}

int TTableDataSet::CompareBookmarks(const std::string& a, const std::string& b) {
  if (a.empty() && b.empty()) return 0;
  if (a.empty()) return -1;
  if (b.empty()) return 1;
  int c = std::string_view(a.c_str()).compare(std::string_view(b.c_str()));
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool TTableDataSet::BookmarkValid(const std::string& bookmark) const {
  if (!table_) return false;
  auto n = BookmarkNumber(bookmark);
  return n && *n >= 1 && *n <= table_->RecordCount();
}

// --- Changes ---

void TTableDataSet::CheckCanModify() const {
  if (!CanModify()) DatabaseError("Cannot modify a read-only dataset");
}

void TTableDataSet::Edit() {
  CheckActive();
  CheckCanModify();
  if (state_ == TDataSetState::dsEdit || state_ == TDataSetState::dsInsert) return;
  if (IsEmpty()) {
    Insert();
    return;
  }
  Fire(BeforeEdit);
  table_->MoveTo(current_recno_);
  TakeCurrent();
  if (!table_->LockRecord(current_recno_)) throw EDatabaseError("Record is locked by another user");
  modified_ = false;
  SetState(TDataSetState::dsEdit);
  Fire(AfterEdit);
}

void TTableDataSet::StartInsert(TNewRecordPlace place) {
  CheckActive();
  CheckCanModify();
  CheckPendingEdit();
  Fire(BeforeInsert);
  Fire(BeforeScroll);
  insert_return_ = has_current_ ? current_recno_ : 0;
  {
    TableBufferScope scope(*table_, current_.data());
    table_->BlankRecord();
  }
  current_.back() = dbf::kEndOfFile;
  modified_ = false;
  eof_ = bof_ = false;
  new_place_ = place;
  SetState(TDataSetState::dsInsert);
  Fire(OnNewRecord);
  Fire(AfterInsert);
  Fire(AfterScroll);
}

void TTableDataSet::Insert() { StartInsert(TNewRecordPlace::kInsert); }

void TTableDataSet::Append() { StartInsert(TNewRecordPlace::kAppend); }

int TTableDataSet::NewRecordRow() {
  switch (new_place_) {
    case TNewRecordPlace::kNone: return -1;
    case TNewRecordPlace::kAppend: return RowCount();
    case TNewRecordPlace::kInsert: break;
  }
  // The row the cursor stood on; an empty dataset shows the new record as its only row.
  int row = insert_return_ > 0 ? RowOfRecNo(insert_return_) : -1;
  return row >= 0 ? row : 0;
}

void TTableDataSet::Post() {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  Fire(BeforePost);
  bool inserting = state_ == TDataSetState::dsInsert;
  {
    // A failing write leaves the dataset in its edit or insert state with the values typed.
    TableBufferScope scope(*table_, current_.data());
    if (inserting) {
      table_->AppendCurrent();
    } else {
      table_->RewriteRecord(current_recno_);
    }
  }
  current_.back() = dbf::kEndOfFile;
  int record = table_->CurrentRecord();
  // An appended record is the last one of the file, so the index stays in order.
  if (inserting && rows_) rows_->push_back(record);
  if (!inserting) table_->Unlock();
  modified_ = false;
  new_place_ = TNewRecordPlace::kNone;
  SetState(TDataSetState::dsBrowse);
  Resync(record);
  NotifyDataSetChanged();
  Fire(AfterPost);
}

void TTableDataSet::Cancel() {
  CheckActive();
  if (state_ != TDataSetState::dsEdit && state_ != TDataSetState::dsInsert) return;
  bool inserting = state_ == TDataSetState::dsInsert;
  Fire(BeforeCancel);
  if (inserting) Fire(BeforeScroll);
  if (!inserting) table_->Unlock();
  modified_ = false;
  new_place_ = TNewRecordPlace::kNone;
  SetState(TDataSetState::dsBrowse);
  int record = inserting ? insert_return_ : current_recno_;
  if (record > 0) {
    Resync(record);
  } else {
    has_current_ = GoEnd(kMoveTop);
    eof_ = bof_ = !has_current_;
  }
  if (inserting) {
    NotifyDataSetChanged();  // the pending row goes away
  } else {
    NotifyRecordChanged(nullptr);  // the record shows its stored values again
  }
  Fire(AfterCancel);
  if (inserting) Fire(AfterScroll);
}

void TTableDataSet::Delete() {
  CheckActive();
  CheckCanModify();
  if (state_ == TDataSetState::dsInsert) {
    Cancel();
    return;
  }
  CheckPendingEdit();
  if (IsEmpty()) DatabaseError("Cannot perform this operation on an empty dataset");
  Fire(BeforeDelete);
  Fire(BeforeScroll);
  int record = current_recno_;
  try {
    UseDeletedScope use_deleted(*table_, UseDeleted);
    table_->MoveTo(record);
    table_->MarkDeleted();
  } catch (const std::exception&) {
    throw EDatabaseError("Cannot delete the record");
  }
  // With UseDeleted the marked record stays visible.
  if (rows_ && !UseDeleted) {
    auto it = std::lower_bound(rows_->begin(), rows_->end(), record);
    if (it != rows_->end() && *it == record) rows_->erase(it);
  }
  has_current_ = Step(record, 1) || Step(record, -1);
  eof_ = bof_ = !has_current_;
  NotifyDataSetChanged();
  Fire(AfterDelete);
  Fire(AfterScroll);
}

void TTableDataSet::Recall(int recno) {
  CheckActive();
  CheckCanModify();
  CheckPendingEdit();
  if (recno < 1 || recno > table_->RecordCount()) {
    throw ETableError(FormatMessage("Record number %d is not in table %s",
                                    {std::to_string(recno), table_->FileName()}));
  }
  bool was_deleted = false;
  try {
    UseDeletedScope use_deleted(*table_, UseDeleted);
    table_->MoveTo(recno);
    was_deleted = table_->IsDeleted();
    table_->Recall();
  } catch (const std::exception&) {
    throw EDatabaseError("Cannot recall the record");
  }
  if (!was_deleted) return;
  if (rows_ && !UseDeleted) rows_->insert(std::lower_bound(rows_->begin(), rows_->end(), recno), recno);
  if (has_current_) {
    Resync(current_recno_);
  } else {
    Resync(recno);
  }
  NotifyDataSetChanged();
}

void TTableDataSet::Pack() {
  CheckActive();
  CheckCanModify();
  CheckPendingEdit();
  rows_.reset();
  ++generation_;
  table_->Pack();
  current_.assign(table_->RecordLength() + 1, ' ');
  current_.back() = dbf::kEndOfFile;
  Fire(BeforeScroll);
  has_current_ = GoEnd(kMoveTop);
  eof_ = !has_current_;
  bof_ = true;
  NotifyDataSetChanged();
  Fire(AfterScroll);
}

}  // namespace mirestal
