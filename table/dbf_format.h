// On-disk layout of a table file (.dbf). All multi-byte integers are little-endian.
//
//   offset 0             32-byte table header
//   offset 32            n field descriptors of 32 bytes each
//   32 + 32n             descriptor terminator 0x0D (not read)
//   33 + 32n             version 0x30 only: 263-byte back-link area
//   header length        records of record length bytes, record 1 first
//   after the last one   end-of-file marker 0x1A (ignored on reading)
//
// Header: 0 version, 1-3 date of last update (yy mm dd), 4-7 record count, 8-9 header length,
// 10-11 record length (deletion flag included), 15 encryption flag, 16-19 update stamp,
// 20-23 user number, 28 table flags (bit 0 production index, bit 1 memo, bit 2 kept),
// 29 code page mark.
// Descriptor: 0-10 name (NUL-terminated), 11 type letter, 12-15 field position (ignored on
// reading; the in-memory copy holds the computed position), 16 length, 17 decimals (for C:
// high byte of the length), 26-27 (in memory) field number.
#pragma once

#include <cstdint>

namespace mirestal::dbf {

inline constexpr int kHeaderSize = 32;
inline constexpr int kDescriptorSize = 32;
inline constexpr int kBackLinkSize = 263;
inline constexpr int kMaxFields = 4096;
inline constexpr char kDeletedFlag = '*';
inline constexpr char kActiveFlag = ' ';
inline constexpr char kEndOfFile = 0x1A;
inline constexpr char kDescriptorEnd = 0x0D;

inline constexpr uint8_t kVersionDbase3 = 0x03;
inline constexpr uint8_t kVersionDbase3Alt = 0x04;
inline constexpr uint8_t kVersionVfp = 0x30;
inline constexpr uint8_t kVersionDbase3Memo = 0x83;
inline constexpr uint8_t kVersionDbase4Memo = 0x8B;
inline constexpr uint8_t kVersionFoxMemo = 0xF5;

// Header offsets.
inline constexpr int kOffVersion = 0;
inline constexpr int kOffDate = 1;
inline constexpr int kOffRecordCount = 4;
inline constexpr int kOffHeaderLength = 8;
inline constexpr int kOffRecordLength = 10;
inline constexpr int kOffEncrypted = 15;
inline constexpr int kOffStamp = 16;
inline constexpr int kOffUser = 20;
inline constexpr int kOffFlags = 28;
inline constexpr int kOffCodePage = 29;

// Descriptor offsets.
inline constexpr int kDescName = 0;
inline constexpr int kDescNameSize = 11;
inline constexpr int kDescType = 11;
inline constexpr int kDescPosition = 12;
inline constexpr int kDescLength = 16;
inline constexpr int kDescDecimals = 17;
inline constexpr int kDescNumber = 26;

// Julian day number of 31 December of year 0 (the day before 1 January of year 1).
inline constexpr int64_t kJulianDayBeforeYear1 = 1721425;
// Julian day numbers of 1 January of year 1 and of 31 December 9999: the range of T values.
inline constexpr int64_t kJulianDayOfYear1 = kJulianDayBeforeYear1 + 1;
inline constexpr int64_t kJulianDayOfYear9999End = 5373484;
inline constexpr int64_t kMsPerDay = 86400000;

inline uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t Get32BE(const unsigned char* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline void Put16(unsigned char* p, uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void Put32BE(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * (3 - i)));
}

}  // namespace mirestal::dbf
