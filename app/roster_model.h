// The roster grid's model: one column per field in table order, one row per visible record,
// bound to the dataset through its notices. A move of the current record only moves the
// indicator; rows are rebuilt when the table is opened or closed or its records change. In the
// insert state the pending new record is a row of its own, where the dataset places it (at the
// row the cursor stood on for Insert, after the last row for Append); the stored records from
// there on move one row down until it is posted or cancelled.
#pragma once

#include <QAbstractTableModel>
#include <string>

#include "core/roster_rows.h"
#include "table/dataset.h"

namespace mirestal {

class RosterModel : public QAbstractTableModel, public TDataLink {
  Q_OBJECT

 public:
  explicit RosterModel(TTableDataSet& dataset, QObject* parent = nullptr);
  ~RosterModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // Editing (maintenance mode): a cell of the current row takes the typed text into its field,
  // putting the dataset into editing first; moving to another row stores it.
  bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
  void SetEditable(bool on) { editable_ = on; }

  // The dataset opened a table (possibly while its notices were suspended): the next notice
  // rebuilds rows and columns even when the active state and the count look unchanged.
  void TableOpened() { stale_ = true; }

  // The field value of a cell as text (GBK, untrimmed, as stored); empty when it cannot be read.
  std::string CellValue(int row, int column) const;

  // The row of the dataset's current record (the pending new record in the insert state); -1
  // when none.
  int CurrentRow() const { return current_row_; }
  // The row of the pending new record; -1 outside the insert state.
  int PendingRow() const { return pending_row_; }
  // Physical record number (from 1) shown in `row`; 0 for the pending row or no row.
  int RecNoOfRow(int row) const;
  // Bytes held by the row index.
  size_t RowIndexBytes() const { return rows_.MemoryBytes(); }

  // TDataLink
  void StateChanged() override;
  void DataSetChanged() override;
  // A move of the cursor: followed as a data notice is (rows are checked, then the indicator).
  void DataSetScrolled() override { DataSetChanged(); }
  void RecordChanged(const TField* field) override;

 signals:
  // The dataset's current record moved to `row` (-1: none). The view follows it.
  void CurrentRowMoved(int row);
  // Rows and columns were rebuilt (open, close, records added or removed).
  void RosterReset();

 private:
  void Rebuild();
  void FollowCurrent();
  // Whether the dataset entered or left the insert state since the rows were built.
  bool PendingRowChanged() const;
  // The row of the stored record `recno` as shown; -1 when not shown.
  int ShownRowOfRecNo(int recno) const;
  // The index in rows_ of shown row `row`; -1 for the pending row.
  int StoredRow(int row) const;
  QString CellText(int row, int column) const;
  // Runs `read` with the view of row `row` (nullptr: the current record, read through the
  // fields directly); false when the row cannot be read.
  template <typename Read>
  bool WithRow(int row, Read read) const;

  TTableDataSet& dataset_;
  RosterRows rows_;
  int columns_ = 0;
  int current_row_ = -1;
  int pending_row_ = -1;
  bool active_ = false;
  bool stale_ = false;
  bool editable_ = false;
  // The last row read for drawing, so the cells of one row read its record once.
  mutable int cached_row_ = -1;
  mutable TRecordView cached_record_{dataset_};
};

}  // namespace mirestal
