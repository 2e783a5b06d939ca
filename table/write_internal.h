// Internals shared by the write side of the table engine (dbf_write.cc, memo_write.cc, pack.cc,
// field_set.cc). Not part of the engine's public interface.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "table/dbf_table.h"

namespace mirestal::write_internal {

// A byte range of the lock protocols.
struct LockRange {
  uint64_t offset;
  uint64_t length;
};

// Ranges by protocol (record numbers count from 1; no index file is ever open here).
LockRange TableLockRange(TLockProtocol protocol);
LockRange AppendLockRange(TLockProtocol protocol);
LockRange RecordLockRange(TLockProtocol protocol, int record, int header_length, int record_length);

// `value` in fixed notation with `decimals` digits after the point (no point for 0), rounded;
// a value that rounds to zero carries no sign. nullopt for NaN and infinities.
std::optional<std::string> FormatFixed(double value, int decimals);

// "numeric value too big in field NAME - TEXT" (the name converted from GBK).
std::string NumberTooBigMessage(std::string_view field_name, std::string_view text);

// Fills a 32-byte header image for writing: date of today (year modulo 100), record count,
// encryption flag, update stamp, user number and byte 28 reduced to `flag_bits` (bits 0-2);
// every other byte stays as it is. Returns the stamp written.
uint32_t FillHeaderImage(unsigned char* image, uint32_t record_count, bool enciphered,
                         int32_t user_id, uint8_t flag_bits);

// Update stamp of the header: ((hour * 64 + minute) * 64 + second) * 1024 + millisecond, from the
// local clock now; `date` receives year, month, day.
uint32_t CurrentStamp(int* year, int* month, int* day);

}  // namespace mirestal::write_internal
