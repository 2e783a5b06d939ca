#include "core/roster_rows.h"

#include <algorithm>

namespace mirestal {

void RosterRows::Rebuild() {
  recnos_.clear();
  if (!dataset_.Active()) return;
  // A copy of the dataset's own row index: the grid keeps the rows it announced to the view
  // until it is told of a change, while the dataset's index follows every change at once.
  const int count = dataset_.RowCount();
  recnos_.reserve(static_cast<size_t>(count));
  for (int row = 0; row < count; ++row) recnos_.push_back(dataset_.RecNoOfRow(row));
}

int RosterRows::RecNoOfRow(int row) const {
  if (row < 0 || row >= RowCount()) return 0;
  return recnos_[static_cast<size_t>(row)];
}

int RosterRows::RowOfRecNo(int recno) const {
  auto it = std::lower_bound(recnos_.begin(), recnos_.end(), recno);
  if (it == recnos_.end() || *it != recno) return -1;
  return static_cast<int>(it - recnos_.begin());
}

bool RosterRows::ReadRow(int row, TRecordView* view) const {
  const int recno = RecNoOfRow(row);
  return recno > 0 && view->Load(recno);
}

}  // namespace mirestal
