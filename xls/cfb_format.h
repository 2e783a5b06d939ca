// Byte layout of the compound files (structured storage, version 3) that the export writes.
//
//   offset 0       header, 512 bytes (kHeader* offsets below)
//   sector s       file offset 512 + 512 * s
//
// The writer lays a file out as:
//   sectors 0 .. k-1   the stream's bytes, contiguous (stream offset p at file offset 512 + p)
//   sector  k          the mini FAT, only when the stream is below kMiniStreamCutoff
//   next               the directory: root entry, the stream's entry, two unused entries
//   next F sectors     the FAT
//   next D sectors     the DIFAT continuation, only when F > 109
// A stream below the cutoff lives in the mini stream, which is the root entry's chain over the
// same sectors 0 .. k-1; its mini sectors are 64 bytes and numbered from 0, so the stream's
// bytes stay where they were written in both cases.
#pragma once

#include <cstdint>

namespace mirestal::xls::cfb {

inline constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
inline constexpr uint32_t kSectorSize = 512;
inline constexpr uint32_t kMiniSectorSize = 64;
inline constexpr uint32_t kMiniStreamCutoff = 4096;
inline constexpr uint32_t kEntriesPerFatSector = kSectorSize / 4;  // 128
inline constexpr uint32_t kFatSectorsInHeader = 109;
inline constexpr uint32_t kFatSectorsPerDifatSector = kEntriesPerFatSector - 1;  // 127
inline constexpr uint32_t kDirectoryEntrySize = 128;

// Special sector numbers.
inline constexpr uint32_t kDifSect = 0xFFFFFFFC;
inline constexpr uint32_t kFatSect = 0xFFFFFFFD;
inline constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
inline constexpr uint32_t kFreeSect = 0xFFFFFFFF;
inline constexpr uint32_t kNoStream = 0xFFFFFFFF;

// Header fields (offsets into the first 512 bytes).
inline constexpr int kHeaderMinorVersion = 0x18;      // 0x003E
inline constexpr int kHeaderMajorVersion = 0x1A;      // 3
inline constexpr int kHeaderByteOrder = 0x1C;         // 0xFFFE
inline constexpr int kHeaderSectorShift = 0x1E;       // 9
inline constexpr int kHeaderMiniSectorShift = 0x20;   // 6
inline constexpr int kHeaderDirectorySectors = 0x28;  // 0 in version 3
inline constexpr int kHeaderFatSectors = 0x2C;
inline constexpr int kHeaderFirstDirectory = 0x30;
inline constexpr int kHeaderTransaction = 0x34;
inline constexpr int kHeaderMiniCutoff = 0x38;
inline constexpr int kHeaderFirstMiniFat = 0x3C;
inline constexpr int kHeaderMiniFatSectors = 0x40;
inline constexpr int kHeaderFirstDifat = 0x44;
inline constexpr int kHeaderDifatSectors = 0x48;
inline constexpr int kHeaderDifat = 0x4C;  // 109 FAT sector numbers

// Directory entry fields.
inline constexpr int kEntryName = 0;         // 32 UTF-16 units with the final zero
inline constexpr int kEntryNameLength = 64;  // bytes, final zero included
inline constexpr int kEntryType = 66;        // 1 storage, 2 stream, 5 root
inline constexpr int kEntryColor = 67;       // 0 red, 1 black
inline constexpr int kEntryLeft = 68;
inline constexpr int kEntryRight = 72;
inline constexpr int kEntryChild = 76;
inline constexpr int kEntryStartSector = 116;
inline constexpr int kEntrySize = 120;  // 64-bit; high half 0 in version 3

inline constexpr uint8_t kTypeStream = 2;
inline constexpr uint8_t kTypeRoot = 5;
inline constexpr uint8_t kBlack = 1;

}  // namespace mirestal::xls::cfb
