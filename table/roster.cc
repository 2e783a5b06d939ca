#include "table/roster.h"

namespace mirestal {

void ConfigureRoster(TTableDataSet& ds, const std::string& path) {
  ds.TableName = path;
  ds.Exclusive = true;
  ds.AutoFlush = true;
  ds.ExactCount = true;
}

}  // namespace mirestal
