// Splits BIFF bytes into records and builds expected records, for the stream tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mirestal::xls::testing {

struct Record {
  size_t offset;  // of the header in the stream
  uint16_t number;
  std::string data;
};

inline std::vector<Record> SplitRecords(const std::string& bytes, size_t from = 0,
                                        size_t to = std::string::npos) {
  std::vector<Record> records;
  if (to > bytes.size()) to = bytes.size();
  size_t pos = from;
  while (pos + 4 <= to) {
    uint16_t number = static_cast<uint8_t>(bytes[pos]) | static_cast<uint8_t>(bytes[pos + 1]) << 8;
    uint16_t length = static_cast<uint8_t>(bytes[pos + 2]) | static_cast<uint8_t>(bytes[pos + 3])
                                                                 << 8;
    records.push_back(Record{pos, number, bytes.substr(pos + 4, length)});
    pos += 4 + length;
  }
  return records;
}

// Bytes from a list of values 0..255.
inline std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}
inline std::string U16(uint16_t v) { return Bytes({v & 0xFF, v >> 8}); }
inline std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
inline std::string Utf16Le(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += U16(c);
  return out;
}
inline std::string Rec(uint16_t number, const std::string& data) {
  return U16(number) + U16(static_cast<uint16_t>(data.size())) + data;
}

}  // namespace mirestal::xls::testing
