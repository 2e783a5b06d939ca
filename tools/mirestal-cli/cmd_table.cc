// info and dump: the table engine seen from the command line.
#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gbk.h"
#include "table/dataset.h"
#include "table/dbf_table.h"
#include "table/roster.h"
#include "tools/mirestal-cli/command.h"

namespace mirestal::cli {
namespace {

void OpenForReading(TTableDataSet& dataset, const std::string& path) {
  ConfigureRoster(dataset, path);
  dataset.ReadOnly = true;
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

// Standard output written in blocks of about 64 KiB. A failed write (a full disk, a closed pipe)
// is an error, not a dump that silently ends early.
class DumpOutput {
 public:
  DumpOutput() : buffer_(2 * kBlockBytes, '\0') {}

  // Appends the UTF-8 form of a GBK value with tab, line breaks and backslash escaped. The
  // escaped bytes are ASCII, so they are looked for in the UTF-8 form, where no character
  // contains them (a GBK trail byte may be 0x5C). Every ASCII byte of the UTF-8 form is an
  // ASCII byte of the GBK text, so a text without those bytes needs no second look.
  void AppendEscaped(std::string_view gbk) {
    Reserve(kGbkToUtf8Room * gbk.size() + 1);
    char* start = buffer_.data() + used_;
    // Copied as ASCII while the bytes are classified; decoded only when one is not ASCII.
    unsigned classes = 0;
    for (size_t i = 0; i < gbk.size(); ++i) {
      start[i] = gbk[i];
      classes |= kByteClass[static_cast<unsigned char>(gbk[i])];
    }
    char* end = classes & 1 ? GbkToUtf8Into(gbk, start) : start + gbk.size();
    if (classes & 2) {
      const std::string utf8(start, end);
      Reserve(2 * utf8.size());
      end = buffer_.data() + used_;
      for (char c : utf8) {
        if (kByteClass[static_cast<unsigned char>(c)] == 2) {
          *end++ = '\\';
          c = c == '\t' ? 't' : c == '\n' ? 'n' : c == '\r' ? 'r' : '\\';
        }
        *end++ = c;
      }
    }
    used_ = static_cast<size_t>(end - buffer_.data());
  }
  void Append(char c) {
    Reserve(1);
    buffer_[used_++] = c;
  }
  // Ends a line; writes the block when it is full.
  void EndLine() {
    Append('\n');
    if (used_ >= kBlockBytes) Flush();
  }
  void Flush() {
    if (used_ != 0 && std::fwrite(buffer_.data(), 1, used_, stdout) != used_) Fail();
    used_ = 0;
    if (std::fflush(stdout) != 0) Fail();
  }

 private:
  static constexpr size_t kBlockBytes = 64 * 1024;
  // Byte classes for one pass over a value: 1 = not ASCII, 2 = escaped.
  static constexpr auto kByteClass = [] {
    std::array<uint8_t, 256> classes{};
    for (int c = 0x80; c < 0x100; ++c) classes[c] = 1;
    for (char c : {'\t', '\n', '\r', '\\'}) classes[static_cast<unsigned char>(c)] = 2;
    return classes;
  }();

  void Reserve(size_t bytes) {
    if (used_ + bytes > buffer_.size()) buffer_.resize(used_ + bytes + kBlockBytes);
  }
  [[noreturn]] static void Fail() {
    throw std::runtime_error("cannot write the dump to standard output");
  }

  std::string buffer_;
  size_t used_ = 0;
};

int RunDump(const std::vector<std::string>& args) {
  if (args.size() != 1) throw UsageError("dump takes one table file");
  TTableDataSet dataset;
  OpenForReading(dataset, args[0]);
  const int field_count = dataset.FieldCount();
  std::vector<TField*> fields;
  for (int i = 0; i < field_count; ++i) fields.push_back(&dataset.Fields(i));
  DumpOutput out;
  for (int i = 0; i < field_count; ++i) {
    if (i > 0) out.Append('\t');
    out.AppendEscaped(fields[i]->FieldName());
  }
  out.EndLine();
  for (dataset.First(); !dataset.Eof(); dataset.Next()) {
    for (int i = 0; i < field_count; ++i) {
      if (i > 0) out.Append('\t');
      out.AppendEscaped(fields[i]->AsString());
    }
    out.EndLine();
  }
  out.Flush();
  return 0;
}

CommandRegistrar info({"info", "info FILE", RunInfo});
CommandRegistrar dump({"dump", "dump FILE", RunDump});

}  // namespace
}  // namespace mirestal::cli
