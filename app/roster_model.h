// The roster grid's model: one column per field in table order, one row per visible record,
// bound to the dataset through its notices. A move of the current record only moves the
// indicator; rows are rebuilt when the table is opened or closed or its records change.
#pragma once

#include <QAbstractTableModel>
#include <string>

#include "app/roster_rows.h"
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

  // The row of the dataset's current record; -1 when none.
  int CurrentRow() const { return current_row_; }
  const RosterRows& rows() const { return rows_; }

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
  QString CellText(int row, int column) const;
  // Runs `read` with the view of row `row` (nullptr: the current record, read through the
  // fields directly); false when the row cannot be read.
  template <typename Read>
  bool WithRow(int row, Read read) const;

  TTableDataSet& dataset_;
  RosterRows rows_;
  int columns_ = 0;
  int current_row_ = -1;
  bool active_ = false;
  bool stale_ = false;
  bool editable_ = false;
  // The last row read for drawing, so the cells of one row read its record once.
  mutable int cached_row_ = -1;
  mutable TRecordView cached_record_{dataset_};
};

}  // namespace mirestal
