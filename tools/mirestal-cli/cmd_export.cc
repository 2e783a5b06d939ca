// export ROSTER.dbf OUT.xls: the roster export of the main window from the command line, with the
// same dataset settings and the exporter's defaults.
#include <cstdio>
#include <string>

#include "capture/photo_store.h"
#include "platform/paths.h"
#include "platform/target_rule.h"
#include "table/dataset.h"
#include "table/roster.h"
#include "tools/mirestal-cli/command.h"
#include "xls/xls_export.h"

namespace mirestal::cli {
namespace {

// Writes the workbook and prints the number of records exported. A failed export leaves the
// target as it was; its error goes to standard error (exit status 1, by main()).
int RunExport(const std::vector<std::string>& args) {
  if (args.size() != 2) throw UsageError("export takes a table file and a workbook file");
  // The photo folder beside the program, as the window protects it.
  RequireTarget(args[1], {args[0], ExecutableDirectory() + kPhotoFolderName + "/", {}});
  TTableDataSet dataset;
  ConfigureRoster(dataset, args[0]);
  // The export only reads: a roster carrying the read-only attribute (copied from a CD or a
  // download) is exported all the same.
  dataset.ReadOnly = true;
  dataset.Open();
  TXlsExport exporter;
  exporter.DataSet = &dataset;
  exporter.FileName = args[1];
  exporter.Execute();
  std::printf("%d record%s exported\n", exporter.ExportedRecords(),
              exporter.ExportedRecords() == 1 ? "" : "s");
  return 0;
}

CommandRegistrar export_command({"export", "export ROSTER.dbf OUT.xls", RunExport});

}  // namespace
}  // namespace mirestal::cli
