#include "table/dataset.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "platform/gbk.h"
#include "platform/text.h"

namespace mirestal {
namespace {

// Restores the table's own record buffer when the dataset has pointed it at one of its own.
class TableBufferScope {
 public:
  TableBufferScope(DbfTable& table, char* buffer) : table_(table) { table_.SetCurrentBuffer(buffer); }
  ~TableBufferScope() { table_.SetCurrentBuffer(nullptr); }
  TableBufferScope(const TableBufferScope&) = delete;
  TableBufferScope& operator=(const TableBufferScope&) = delete;

 private:
  DbfTable& table_;
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
  if (!std::filesystem::path(path).has_extension()) {
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
    kept_count_.reset();
    modified_ = false;
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
  eof_ = bof_ = true;
  table->CloseTable();  // writes a pending header; the table object is freed either way
  Fire(AfterClose);
}

// --- State and notices ---

void TTableDataSet::SetState(TDataSetState state) {
  if (state_ == state) return;
  state_ = state;
  NotifyStateChanged();
}

void TTableDataSet::NotifyStateChanged() {
  if (disable_count_ > 0) return;
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->StateChanged();
}

void TTableDataSet::NotifyDataSetChanged() {
  if (disable_count_ > 0) return;
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->DataSetChanged();
}

void TTableDataSet::NotifyRecordChanged(const TField* field) {
  if (disable_count_ > 0) return;
  for (TDataLink* link : std::vector<TDataLink*>(links_)) link->RecordChanged(field);
}

void TTableDataSet::AddDataLink(TDataLink* link) { links_.push_back(link); }

void TTableDataSet::RemoveDataLink(TDataLink* link) {
  links_.erase(std::remove(links_.begin(), links_.end(), link), links_.end());
}

void TTableDataSet::DisableControls() {
  if (disable_count_++ == 0) disabled_state_ = state_;
}

void TTableDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  if (--disable_count_ > 0) return;
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
  NotifyDataSetChanged();
  Fire(AfterScroll);
}

void TTableDataSet::Last() {
  CheckActive();
  CheckPendingEdit();
  Fire(BeforeScroll);
  has_current_ = GoEnd(kMoveBottom);
  eof_ = true;
  bof_ = !has_current_;
  NotifyDataSetChanged();
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
  NotifyDataSetChanged();
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
  NotifyDataSetChanged();
  Fire(AfterScroll);
}

int TTableDataSet::CountVisibleByScan() {
  // Reads beside the cursor, so that counting in edit or insert state leaves the table object
  // on the record being edited.
  std::string record(table_->RecordLength(), ' ');
  int count = 0;
  for (int r = 1; r <= table_->RecordCount(); ++r) {
    table_->ReadRecordCopy(r, record.data());
    if (table_->use_deleted || record[0] != dbf::kDeletedFlag) ++count;
  }
  return count;
}

int TTableDataSet::RecordCount() {
  if (!table_) throw EDatabaseError("Cannot perform this operation on a closed dataset");
  if (!ExactCount) return table_->RecordCount();
  if (table_->shared()) {
    table_->RefreshHeader();
    return CountVisibleByScan();
  }
  if (!kept_count_) kept_count_ = CountVisibleByScan();
  return *kept_count_;
}

bool TTableDataSet::ReadRecordInto(int record, std::string* buffer) {
  CheckActive();
  if (record < 1 || record > table_->RecordCount()) return false;
  buffer->assign(table_->RecordLength() + 1, ' ');
  table_->ReadRecordCopy(record, buffer->data());
  buffer->back() = dbf::kEndOfFile;
  return true;
}

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
  NotifyDataSetChanged();
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

void TTableDataSet::StartInsert() {
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
  SetState(TDataSetState::dsInsert);
  Fire(OnNewRecord);
  Fire(AfterInsert);
  NotifyDataSetChanged();
  Fire(AfterScroll);
}

void TTableDataSet::Insert() { StartInsert(); }

void TTableDataSet::Append() { StartInsert(); }

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
  if (inserting && kept_count_) ++*kept_count_;
  if (!inserting) table_->Unlock();
  modified_ = false;
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
  SetState(TDataSetState::dsBrowse);
  int record = inserting ? insert_return_ : current_recno_;
  if (record > 0) {
    Resync(record);
  } else {
    has_current_ = GoEnd(kMoveTop);
    eof_ = bof_ = !has_current_;
  }
  NotifyDataSetChanged();
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
  if (kept_count_) --*kept_count_;
  has_current_ = Step(record, 1) || Step(record, -1);
  eof_ = bof_ = !has_current_;
  NotifyDataSetChanged();
  Fire(AfterDelete);
  Fire(AfterScroll);
}

void TTableDataSet::Pack() {
  CheckActive();
  CheckCanModify();
  CheckPendingEdit();
  kept_count_.reset();
  table_->Pack();
  current_.assign(table_->RecordLength() + 1, ' ');
  current_.back() = dbf::kEndOfFile;
  First();
}

}  // namespace mirestal
