// info and dump: the table engine seen from the command line.
#include <cstdio>
#include <string>

#include "platform/gbk.h"
#include "table/dataset.h"
#include "tools/mirestal-cli/command.h"

namespace mirestal::cli {
namespace {

void OpenForReading(TTableDataSet& dataset, const std::string& path) {
  dataset.TableName = path;
  dataset.ReadOnly = true;
  dataset.Exclusive = true;
  dataset.ExactCount = true;
  dataset.TranslateASCII = true;
  dataset.Open();
}

int RunInfo(const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("info takes one table file");
  TTableDataSet dataset;
  OpenForReading(dataset, args[0]);
  DbfTable& t = *dataset.Table();
  std::printf("version: 0x%02X\n", t.Version());
  std::printf("header record count: %u\n", t.HeaderRecordCount());
  std::printf("record count: %d\n", t.RecordCount());
  std::printf("header length: %d\n", t.HeaderLength());
  std::printf("record length: %d\n", t.RecordLength());
  std::printf("fields: %d\n", t.FieldCount());
  for (int f = 1; f <= t.FieldCount(); ++f) {
    char type = t.FieldType(f);
    std::string letter = type >= 32 && type < 127 ? std::string(1, type) : "?";
    std::printf("  %s\t%s\t%d\t%d\n", GbkToUtf8(t.FieldName(f)).c_str(), letter.c_str(),
                t.FieldLength(f), t.FieldDecimals(f));
  }
  std::printf("visible records: %d\n", dataset.RecordCount());
  return 0;
}

std::string Escape(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char c : utf8) {
    switch (c) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\\': out += "\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

int RunDump(const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("dump takes one table file");
  TTableDataSet dataset;
  OpenForReading(dataset, args[0]);
  std::string line;
  for (int i = 0; i < dataset.FieldCount(); ++i) {
    if (i > 0) line += '\t';
    line += Escape(GbkToUtf8(dataset.Fields(i).FieldName()));
  }
  std::puts(line.c_str());
  for (dataset.First(); !dataset.Eof(); dataset.Next()) {
    line.clear();
    for (int i = 0; i < dataset.FieldCount(); ++i) {
      if (i > 0) line += '\t';
      line += Escape(GbkToUtf8(dataset.Fields(i).AsString()));
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
  return 0;
}

CommandRegistrar info({"info", "info FILE", RunInfo});
CommandRegistrar dump({"dump", "dump FILE", RunDump});

}  // namespace
}  // namespace mirestal::cli
