// create TABLE.dbf NAME:TYPE:LEN[:DEC] ...: a new, empty dBASE IV table (with its memo file when
// a field is M). Names are UTF-8 and stored as GBK; D, L and M may leave out LEN. Prints the
// fields as written (names cut and made unique), one a line as `info` does.
#include <cctype>
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gbk.h"
#include "table/create.h"
#include "tools/mirestal-cli/command.h"

namespace mirestal::cli {
namespace {

int Number(std::string_view text, const std::string& spec) {
  int value = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size()) {
    throw UsageError("'" + spec + "' needs a number where it has '" + std::string(text) + "'");
  }
  return value;
}

TFieldDef ParseField(const std::string& spec) {
  std::vector<std::string_view> parts;
  std::string_view rest = spec;
  for (size_t colon; (colon = rest.find(':')) != std::string_view::npos;) {
    parts.push_back(rest.substr(0, colon));
    rest.remove_prefix(colon + 1);
  }
  parts.push_back(rest);
  const bool fixed = parts.size() >= 2 && parts[1].size() == 1 &&
                     std::string_view("DLMdlm").find(parts[1][0]) != std::string_view::npos;
  if (parts.size() < (fixed ? 2u : 3u) || parts.size() > 4 || parts[1].size() != 1) {
    throw UsageError("'" + spec + "' is not NAME:TYPE:LEN[:DEC]");
  }
  TFieldDef field;
  auto name = Utf8ToGbk(parts[0]);
  if (!name) throw UsageError("the name in '" + spec + "' holds a character GBK cannot store");
  field.name = *name;
  field.type = static_cast<char>(std::toupper(static_cast<unsigned char>(parts[1][0])));
  if (parts.size() > 2) field.length = Number(parts[2], spec);
  if (parts.size() > 3) field.decimals = Number(parts[3], spec);
  return field;
}

int RunCreate(const std::vector<std::string>& args) {
  if (args.size() < 2) throw UsageError("create takes a table file and at least one field");
  std::vector<TFieldDef> fields;
  for (size_t i = 1; i < args.size(); ++i) fields.push_back(ParseField(args[i]));
  for (const TFieldDef& f : CreateTable(args[0], fields)) {
    std::printf("%s\t%c\t%d\t%d\n", GbkToUtf8(f.name).c_str(), f.type, f.length, f.decimals);
  }
  return 0;
}

CommandRegistrar create({"create", "create TABLE.dbf NAME:TYPE:LEN[:DEC] ...", RunCreate});

}  // namespace
}  // namespace mirestal::cli
