#include "app/roster_model.h"

#include <algorithm>

#include "app/gbk_qt.h"

namespace mirestal {

namespace {
// The indicator column's mark for the current record.
const QString kCurrentMark = QStringLiteral("▶");
}  // namespace

RosterModel::RosterModel(TTableDataSet& dataset, QObject* parent)
    : QAbstractTableModel(parent), dataset_(dataset), rows_(dataset) {
  dataset_.AddDataLink(this);
  if (dataset_.Active()) Rebuild();
}

RosterModel::~RosterModel() { dataset_.RemoveDataLink(this); }

int RosterModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_.RowCount() + (pending_row_ >= 0 ? 1 : 0);
}

int RosterModel::StoredRow(int row) const {
  if (pending_row_ < 0 || row < pending_row_) return row;
  return row == pending_row_ ? -1 : row - 1;
}

int RosterModel::ShownRowOfRecNo(int recno) const {
  const int row = rows_.RowOfRecNo(recno);
  return row >= 0 && pending_row_ >= 0 && row >= pending_row_ ? row + 1 : row;
}

int RosterModel::RecNoOfRow(int row) const {
  if (row < 0 || row >= rowCount()) return 0;
  const int stored = StoredRow(row);
  return stored < 0 ? 0 : rows_.RecNoOfRow(stored);
}

int RosterModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : columns_;
}

template <typename Read>
bool RosterModel::WithRow(int row, Read read) const {
  if (row == current_row_) {
    read(nullptr);
    return true;
  }
  if (row != cached_row_) {
    cached_row_ = -1;
    const int stored = StoredRow(row);
    if (stored < 0 || !rows_.ReadRow(stored, &cached_record_)) return false;
    cached_row_ = row;
  }
  read(&cached_record_);
  return true;
}

QString RosterModel::CellText(int row, int column) const {
  if (column >= dataset_.FieldCount()) return {};
  const TField& field = dataset_.Fields(column);
  QString text;
  WithRow(row, [&](const TRecordView* view) {
    text = GbkToQString(view ? field.DisplayText(*view) : field.DisplayText());
  });
  return text;
}

std::string RosterModel::CellValue(int row, int column) const {
  if (row < 0 || row >= rowCount() || column < 0 || column >= columns_ ||
      column >= dataset_.FieldCount()) {
    return {};
  }
  const TField& field = dataset_.Fields(column);
  std::string value;
  try {
    WithRow(row, [&](const TRecordView* view) {
      value = view ? field.AsString(*view) : field.AsString();
    });
  } catch (...) {  // drawn as an unreadable row: no highlight
    cached_row_ = -1;
    return {};
  }
  return value;
}

QVariant RosterModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount() || index.column() >= columns_) {
    return {};
  }
  if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::EditRole) return {};
  try {
    return CellText(index.row(), index.column());
  } catch (...) {  // a record that cannot be read is drawn empty; the event loop goes on
    cached_row_ = -1;
    return {};
  }
}

QVariant RosterModel::headerData(int section, Qt::Orientation orientation, int role) const {
  try {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Horizontal) {
      if (section < 0 || section >= columns_ || section >= dataset_.FieldCount()) return {};
      return GbkToQString(dataset_.Fields(section).FieldName());
    }
    return section == current_row_ ? kCurrentMark : QString();
  } catch (...) {
    return {};
  }
}

Qt::ItemFlags RosterModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  const Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  return editable_ ? f | Qt::ItemIsEditable : f;
}

bool RosterModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!editable_ || role != Qt::EditRole || !index.isValid() || index.row() != current_row_ ||
      index.column() >= dataset_.FieldCount()) {
    return false;
  }
  try {
    if (dataset_.State() == TDataSetState::dsBrowse) dataset_.Edit();
    dataset_.Fields(index.column()).SetAsString(QStringToGbk(value.toString()));
    return true;
  } catch (...) {  // a value the field refuses leaves the cell as it was
    return false;
  }
}

void RosterModel::Rebuild() {
  beginResetModel();
  // The reset is ended on every path, so a failing read never leaves the view suspended.
  struct EndReset {
    RosterModel* model;
    ~EndReset() { model->endResetModel(); }
  } end_reset{this};
  cached_row_ = -1;
  stale_ = false;
  active_ = dataset_.Active();
  columns_ = active_ ? dataset_.FieldCount() : 0;
  current_row_ = -1;
  pending_row_ = -1;
  rows_.Clear();
  if (active_) {
    rows_.Rebuild();
    if (dataset_.State() == TDataSetState::dsInsert) {
      pending_row_ = std::clamp(dataset_.NewRecordRow(), 0, rows_.RowCount());
      current_row_ = pending_row_;
    } else if (!dataset_.IsEmpty()) {
      current_row_ = ShownRowOfRecNo(dataset_.RecNo());
    }
  }
}

bool RosterModel::PendingRowChanged() const {
  return (dataset_.State() == TDataSetState::dsInsert) != (pending_row_ >= 0);
}

void RosterModel::FollowCurrent() {
  const int old_row = current_row_;
  if (pending_row_ < 0) {
    current_row_ =
        dataset_.Active() && !dataset_.IsEmpty() ? ShownRowOfRecNo(dataset_.RecNo()) : -1;
  }
  if (old_row == current_row_) {
    if (current_row_ >= 0) emit dataChanged(index(current_row_, 0), index(current_row_, columns_ - 1));
    return;
  }
  // The current row is read from the dataset's own record; the old one from the file again.
  cached_row_ = -1;
  for (int row : {old_row, current_row_}) {
    if (row < 0 || row >= rows_.RowCount()) continue;
    emit headerDataChanged(Qt::Vertical, row, row);
    emit dataChanged(index(row, 0), index(row, columns_ - 1));
  }
  emit CurrentRowMoved(current_row_);
}

void RosterModel::StateChanged() {
  try {
    if (stale_ || dataset_.Active() != active_ || PendingRowChanged()) {
      Rebuild();
      emit RosterReset();
      emit CurrentRowMoved(current_row_);
    }
  } catch (...) {
  }
}

void RosterModel::DataSetChanged() {
  try {
    if (stale_ || dataset_.Active() != active_ || PendingRowChanged() ||
        (dataset_.Active() && rows_.RowCount() != dataset_.RecordCount())) {
      Rebuild();
      emit RosterReset();
      emit CurrentRowMoved(current_row_);
      return;
    }
    FollowCurrent();
  } catch (...) {
  }
}

void RosterModel::RecordChanged(const TField*) {
  if (current_row_ >= 0) emit dataChanged(index(current_row_, 0), index(current_row_, columns_ - 1));
}

}  // namespace mirestal
