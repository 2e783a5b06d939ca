// Arbitrary bytes as the memo file of a one-record table: reads the record's text, writes a new
// one over it (block reuse, the dBase IV free-list walk), deletes the record and packs (release
// of its blocks), then reads again. Any exception is fine; a crash, a hang or a sanitizer report
// is a bug.
//
// Input: byte 0 picks the format (dBase III, dBase IV, FoxPro, Visual FoxPro), bytes 1-4 the
// block number in the record (little-endian), byte 5 the length of the text written (times 7);
// the rest is the memo file.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "table/dataset.h"

namespace {

std::string Base() {
  static std::string base = "/tmp/mirestal-fuzz-memo-" + std::to_string(getpid());
  return base;
}

void Put(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

void Le16(std::string& s, size_t at, uint32_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}

// A table with fields K C(2) and M (memo) and one record whose memo block is `block`.
std::string Table(uint8_t version, uint32_t block) {
  const bool vfp = version == 0x30;
  const int memo_length = vfp ? 4 : 10;
  const int header_length = 32 + 2 * 32 + 1 + (vfp ? 263 : 0);
  const int record_length = 1 + 2 + memo_length;
  std::string t(32, '\0');
  t[0] = static_cast<char>(version);
  t[4] = 1;
  Le16(t, 8, header_length);
  Le16(t, 10, record_length);
  if (vfp) t[28] = 0x02;
  std::string k(32, '\0'), m(32, '\0');
  k[0] = 'K';
  k[11] = 'C';
  k[16] = 2;
  m[0] = 'M';
  m[11] = 'M';
  m[16] = static_cast<char>(memo_length);
  t += k + m + "\x0D";
  if (vfp) t += std::string(263, '\0');
  t += " k";
  if (vfp) {
    for (int i = 0; i < 4; ++i) t += static_cast<char>((block >> (8 * i)) & 0xFF);
  } else {
    std::string digits = std::to_string(block);
    t += std::string(10 - digits.size(), ' ') + digits;
  }
  t += "\x1A";
  return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  static const uint8_t kVersions[] = {0x83, 0x8B, 0xF5, 0x30};
  const uint8_t version = kVersions[data[0] % 4];
  const uint32_t block = static_cast<uint32_t>(data[1]) | (static_cast<uint32_t>(data[2]) << 8) |
                         (static_cast<uint32_t>(data[3]) << 16) |
                         (static_cast<uint32_t>(data[4]) << 24);
  const size_t text_length = static_cast<size_t>(data[5]) * 7;
  const std::string table = Base() + ".dbf";
  const std::string memo = Base() + (version == 0x83 || version == 0x8B ? ".dbt" : ".fpt");
  Put(table, Table(version, block));
  Put(memo, std::string(reinterpret_cast<const char*>(data) + 6, size - 6));
  try {
    mirestal::TTableDataSet ds;
    ds.TableName = table;
    ds.Exclusive = true;
    ds.AutoFlush = true;
    ds.ExactCount = true;
    ds.Open();
    mirestal::TField& field = ds.FieldByName("M");
    try {
      field.AsString();
    } catch (const std::exception&) {
    }
    ds.Edit();
    try {
      field.SetAsString(std::string(text_length, 'x'));
      ds.Post();
    } catch (const std::exception&) {
      ds.Cancel();
    }
    field.AsString();
    ds.Delete();
    ds.Pack();
  } catch (const std::exception&) {
  }
  std::remove(memo.c_str());
  std::remove(table.c_str());
  return 0;
}
