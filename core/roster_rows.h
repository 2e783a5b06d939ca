// The grid's rows: the roster's visible records in physical order, row 0 first. The grid model
// addresses records only through this index, so a move of the current record never changes the
// rows and never resets the model.
#pragma once

#include <string>
#include <vector>

#include "table/dataset.h"

namespace mirestal {

class RosterRows {
 public:
  explicit RosterRows(TTableDataSet& dataset) : dataset_(dataset) {}

  // Takes the rows of the open table (none when it is closed). Needed after opening and after
  // any change that adds, removes or hides records.
  void Rebuild();
  void Clear() { recnos_.clear(); }

  int RowCount() const { return static_cast<int>(recnos_.size()); }
  // Physical record number (from 1) of `row`; 0 when there is no such row.
  int RecNoOfRow(int row) const;
  // Row of physical record `recno`; -1 when it is not a visible record.
  int RowOfRecNo(int recno) const;
  // Loads the record of `row` into `view` beside the dataset's cursor, for drawing it. False
  // when none.
  bool ReadRow(int row, TRecordView* view) const;
  // Bytes held by the index.
  size_t MemoryBytes() const { return recnos_.capacity() * sizeof(int); }

 private:
  TTableDataSet& dataset_;
  std::vector<int> recnos_;  // ascending
};

}  // namespace mirestal
