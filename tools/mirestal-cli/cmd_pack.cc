// pack: removes the deleted records of a table through the dataset, as the program's maintenance
// mode does (exclusive, flushed after every write).
#include <cstdio>
#include <string>

#include "table/dataset.h"
#include "table/dbf_table.h"
#include "table/roster.h"
#include "tools/mirestal-cli/command.h"

namespace mirestal::cli {
namespace {

void OpenForWriting(TTableDataSet& dataset, const std::string& path) {
  ConfigureRoster(dataset, path);
  dataset.Open();
}

// pack FILE: removes the records marked deleted and prints how many were removed.
int RunPack(const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("pack takes one table file");
  TTableDataSet dataset;
  OpenForWriting(dataset, args[0]);
  const int before = dataset.Table()->RecordCount();
  dataset.Pack();
  const int removed = before - dataset.Table()->RecordCount();
  dataset.Close();
  std::printf("%d deleted record%s removed\n", removed, removed == 1 ? "" : "s");
  return 0;
}

CommandRegistrar pack({"pack", "pack FILE", RunPack});

}  // namespace
}  // namespace mirestal::cli
