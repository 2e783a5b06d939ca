#include "table/dbf_table.h"

namespace mirestal {

void DbfHandler::Go(int target) {
  MoveTo(target);
  auto hidden = [this] {
    if (!use_deleted && IsDeleted()) return true;
    auto* table = static_cast<DbfTable*>(this);
    return table->accept_record && !table->accept_record();
  };
  switch (target) {
    case kMoveTop:
    case kMoveNext:
    case kMoveCurrent:
      while (!at_end_ && !at_begin_ && current_record_ > 0 && hidden()) MoveTo(kMoveNext);
      break;
    case kMoveBottom:
    case kMovePrevious:
      while (!at_begin_ && !at_end_ && current_record_ > 0 && hidden()) MoveTo(kMovePrevious);
      break;
    default:
      break;  // a record number reads exactly that record
  }
}

}  // namespace mirestal
