// Helpers of the write-side tests: empty memo files of the three formats, little- and big-endian
// numbers, and opening a dataset as the program's maintenance mode does.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <set>
#include <string>

#include "table/dataset.h"
#include "table/roster.h"
#include "tests/testutil/testutil.h"

namespace mirestal::testing {

// The message of what `f` throws, or "(nothing thrown)".
inline std::string ThrownMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "(nothing thrown)";
}

inline std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

inline std::string Be32(uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * (3 - i)));
  return s;
}

inline uint32_t GetLe32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

inline uint32_t GetBe32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

// dBase III .dbt: one 512-byte header block, next free block 1.
inline std::string EmptyDbase3Memo() {
  std::string s = Le32(1);
  s.resize(512, '\0');
  return s;
}

// dBase IV .dbt: free list starting at block 1 (the end of the file), block size in bytes 20-23.
inline std::string EmptyDbase4Memo(uint32_t block_size = 512) {
  std::string s = Le32(1);
  s.resize(20, '\0');
  s += Le32(block_size);
  s.resize(block_size, '\0');
  return s;
}

// FoxPro .fpt: 512-byte header, next free block after it, block size in bytes 6-7 (big-endian).
inline std::string EmptyFoxMemo(uint32_t block_size = 64) {
  std::string s = Be32(512 / block_size) + Be32(block_size);
  s.resize(512, '\0');
  return s;
}

// Opens `path` the way the program's roster dataset is set up: exclusive, read-write, flushed
// after every write, exact count.
inline void OpenForMaintenance(TTableDataSet& ds, const std::string& path) {
  ConfigureRoster(ds, path);
  ds.ReadOnly = false;
  ds.Open();
}

// Every record of a table file as raw bytes (deleted ones included), read straight from the
// file with the header's lengths.
inline std::vector<std::string> RawRecords(const std::string& file) {
  uint32_t header_length =
      static_cast<unsigned char>(file[8]) | (static_cast<unsigned char>(file[9]) << 8);
  uint32_t record_length =
      static_cast<unsigned char>(file[10]) | (static_cast<unsigned char>(file[11]) << 8);
  std::vector<std::string> out;
  for (size_t at = header_length; at + record_length <= file.size(); at += record_length) {
    out.push_back(file.substr(at, record_length));
  }
  return out;
}

}  // namespace mirestal::testing
