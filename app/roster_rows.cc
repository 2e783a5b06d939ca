#include "app/roster_rows.h"

#include <algorithm>

#include "table/dbf_format.h"
#include "table/dbf_table.h"

namespace mirestal {

void RosterRows::Rebuild() {
  recnos_.clear();
  DbfTable* table = dataset_.Table();
  if (!table) return;
  const int count = table->RecordCount();
  recnos_.reserve(static_cast<size_t>(count));
  std::string record(static_cast<size_t>(table->RecordLength()), ' ');
  for (int r = 1; r <= count; ++r) {
    table->ReadRecordCopy(r, record.data());
    if (dataset_.UseDeleted || record[0] != dbf::kDeletedFlag) recnos_.push_back(r);
  }
  recnos_.shrink_to_fit();
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

bool RosterRows::ReadRow(int row, std::string* buffer) const {
  const int recno = RecNoOfRow(row);
  return recno > 0 && dataset_.ReadRecordInto(recno, buffer);
}

}  // namespace mirestal
