#include "tools/mirestal-cli/photo_report.h"

#include <cstdio>
#include <stdexcept>

#include "platform/gbk.h"
#include "table/dataset.h"
#include "table/roster.h"
#include "tools/mirestal-cli/command.h"

namespace mirestal::cli {

RosterForCheck ReadRosterForCheck(const std::string& roster, const std::string& filter) {
  std::string filter_field, filter_value;
  if (!filter.empty()) {
    const size_t eq = filter.find('=');
    if (eq == 0 || eq == std::string::npos) throw UsageError("--class takes FIELD=VALUE");
    const std::optional<std::string> field = Utf8ToGbk(filter.substr(0, eq));
    const std::optional<std::string> value = Utf8ToGbk(TrimKey(filter.substr(eq + 1)));
    if (!field || !value) throw UsageError("--class: text that GBK cannot hold: " + filter);
    filter_field = *field;
    filter_value = *value;
  }

  TTableDataSet dataset;
  ConfigureRoster(dataset, roster);
  dataset.ReadOnly = true;
  dataset.Open();
  TField* key = dataset.FindField(*Utf8ToGbk("考籍号"));
  if (!key) throw std::runtime_error(roster + ": the roster has no field 考籍号");
  TField* name = dataset.FindField(*Utf8ToGbk("姓名"));
  TField* group = nullptr;
  if (!filter_field.empty()) {
    group = dataset.FindField(filter_field);
    if (!group) {
      throw std::runtime_error(roster + ": the roster has no field " + GbkToUtf8(filter_field));
    }
  }

  RosterForCheck out;
  for (dataset.First(); !dataset.Eof(); dataset.Next()) {
    out.students.push_back({dataset.RecNo(), key->AsString(), name ? name->AsString() : ""});
    out.selected.push_back(!group || TrimKey(group->AsString()) == filter_value);
  }
  return out;
}

uint64_t ParseMaxKb(const std::string& text) {
  size_t used = 0;
  long long kb = -1;
  try {
    kb = std::stoll(text, &used);
  } catch (const std::exception&) {
  }
  if (used != text.size() || kb < 1 || kb > 1024 * 1024) {
    throw UsageError("--max-kb takes a number of kilobytes, not '" + text + "'");
  }
  return static_cast<uint64_t>(kb) * 1024;
}

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

void PrintLine(const ReportLine& line) {
  std::string text;
  for (size_t i = 0; i < line.size(); ++i) text += (i ? "\t" : "") + line[i];
  PrintLine(text);
}

}  // namespace mirestal::cli
