#include "import/workbook_cells.h"

#include <cstring>
#include <vector>

namespace mirestal::import {
namespace {

// Compound file layout (the parts needed to read one stream).
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr size_t kHeaderSize = 512;
constexpr size_t kDirectoryEntrySize = 128;

// BIFF8 record types.
constexpr uint16_t kBof = 0x0809;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kFormat = 0x041E;
constexpr uint16_t kXf = 0x00E0;
constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kNumber = 0x0203;
constexpr uint16_t kRk = 0x027E;
constexpr uint16_t kMulRk = 0x00BD;
constexpr uint16_t kBoolErr = 0x0205;
constexpr uint16_t kFormula = 0x0006;

uint16_t U16(std::string_view b, size_t at) {
  return at + 2 <= b.size() ? static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                                    static_cast<unsigned char>(b[at + 1]) << 8)
                            : 0;
}
uint32_t U32(std::string_view b, size_t at) {
  return at + 4 <= b.size() ? static_cast<uint32_t>(U16(b, at)) | static_cast<uint32_t>(U16(b, at + 2)) << 16
                            : 0;
}
double F64(std::string_view b, size_t at) {
  uint64_t bits = static_cast<uint64_t>(U32(b, at)) | static_cast<uint64_t>(U32(b, at + 4)) << 32;
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

double RkValue(uint32_t rk) {
  double value;
  if (rk & 2) {
    value = static_cast<double>(static_cast<int32_t>(rk) >> 2);
  } else {
    const uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
    std::memcpy(&value, &bits, sizeof value);
  }
  return (rk & 1) ? value / 100 : value;
}

class CompoundFile {
 public:
  explicit CompoundFile(std::string_view bytes) : bytes_(bytes) {}

  // The named stream of the root storage; empty when it cannot be found or followed.
  std::string Stream(std::u16string_view wanted) {
    if (bytes_.size() < kHeaderSize || bytes_.substr(0, 8) != std::string_view("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8)) return {};
    const uint16_t shift = U16(bytes_, 0x1E);
    if (shift != 9 && shift != 12) return {};
    sector_size_ = size_t{1} << shift;
    if (!ReadFat()) return {};
    const std::string directory = Chain(U32(bytes_, 0x30), fat_, sector_size_, Sectors());
    std::string root;
    for (size_t at = 0; at + kDirectoryEntrySize <= directory.size(); at += kDirectoryEntrySize) {
      const std::string_view entry(directory.data() + at, kDirectoryEntrySize);
      const uint8_t type = static_cast<uint8_t>(entry[66]);
      const uint32_t start = U32(entry, 116);
      const uint32_t size = U32(entry, 120);
      if (type == 5) root = Chain(start, fat_, sector_size_, Sectors());
      const size_t name_bytes = std::min<size_t>(U16(entry, 64), 64);
      std::u16string name;
      for (size_t i = 0; i + 2 <= name_bytes; i += 2) {
        if (char16_t c = U16(entry, i)) name += c;
      }
      if (type != 2 || !SameName(name, wanted)) continue;
      if (size < U32(bytes_, 0x38)) {
        std::vector<uint32_t> mini_fat;
        const std::string table = Chain(U32(bytes_, 0x3C), fat_, sector_size_, Sectors());
        for (size_t i = 0; i + 4 <= table.size(); i += 4) mini_fat.push_back(U32(table, i));
        std::string stream = Chain(start, mini_fat, 64, root.size() / 64, root);
        return stream.size() >= size ? stream.substr(0, size) : std::string();
      }
      std::string stream = Chain(start, fat_, sector_size_, Sectors());
      return stream.size() >= size ? stream.substr(0, size) : std::string();
    }
    return {};
  }

 private:
  size_t Sectors() const { return (bytes_.size() - kHeaderSize) / sector_size_; }

  static bool SameName(const std::u16string& a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      auto fold = [](char16_t c) { return c >= 'a' && c <= 'z' ? static_cast<char16_t>(c - 32) : c; };
      if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
  }

  bool ReadFat() {
    std::vector<uint32_t> fat_sectors;
    for (size_t i = 0; i < 109; ++i) fat_sectors.push_back(U32(bytes_, 0x4C + 4 * i));
    uint32_t difat = U32(bytes_, 0x44);
    for (size_t n = 0; difat < Sectors() && n < Sectors(); ++n) {
      const size_t at = kHeaderSize + difat * sector_size_;
      for (size_t i = 0; i + 1 < sector_size_ / 4; ++i) fat_sectors.push_back(U32(bytes_, at + 4 * i));
      difat = U32(bytes_, at + sector_size_ - 4);
    }
    const size_t count = U32(bytes_, 0x2C);
    for (size_t i = 0; i < fat_sectors.size() && i < count; ++i) {
      if (fat_sectors[i] >= Sectors()) return false;
      const size_t at = kHeaderSize + fat_sectors[i] * sector_size_;
      for (size_t j = 0; j < sector_size_ / 4; ++j) fat_.push_back(U32(bytes_, at + 4 * j));
    }
    return !fat_.empty();
  }

  // The sectors of one chain, in order; at most `limit` of them (a loop ends there).
  std::string Chain(uint32_t start, const std::vector<uint32_t>& table, size_t unit, size_t limit,
                    std::string_view source = {}) const {
    const bool mini = !source.empty();
    std::string out;
    for (size_t n = 0; start != kEndOfChain && n < limit && start < table.size(); ++n) {
      const size_t at = mini ? start * unit : kHeaderSize + start * unit;
      const std::string_view from = mini ? source : bytes_;
      if (at + unit > from.size()) break;
      out.append(from.substr(at, unit));
      start = table[start];
    }
    return out;
  }

  std::string_view bytes_;
  size_t sector_size_ = 512;
  std::vector<uint32_t> fat_;
};

// The width of a number format made only of zeros, 0 for any other.
int ZeroPadWidth(std::string_view record) {
  const uint16_t chars = U16(record, 2);
  const bool wide = record.size() > 4 && (record[4] & 1);
  size_t at = 5;
  for (uint16_t i = 0; i < chars; ++i) {
    const uint16_t c = wide ? U16(record, at) : static_cast<uint16_t>(static_cast<unsigned char>(record.size() > at ? record[at] : 0));
    at += wide ? 2 : 1;
    if (at > record.size() || c != '0') return 0;
  }
  return chars >= 2 ? chars : 0;
}

struct Record {
  uint16_t type;
  std::string_view data;
};

// The records from `offset` to the next EOF (or the end of the stream).
template <typename Visit>
void Walk(std::string_view stream, size_t offset, Visit visit) {
  while (offset + 4 <= stream.size()) {
    const uint16_t type = U16(stream, offset);
    const uint16_t length = U16(stream, offset + 2);
    if (offset + 4 + length > stream.size()) return;
    visit(Record{type, stream.substr(offset + 4, length)});
    if (type == kEof) return;
    offset += 4 + length;
  }
}

}  // namespace

CellFacts ReadWorkbookFacts(std::string_view bytes) {
  CellFacts facts;
  const std::string stream = CompoundFile(bytes).Stream(u"Workbook");
  if (stream.size() < 4 || U16(stream, 0) != kBof) return facts;

  std::vector<int> format_pad;  // by format index
  std::vector<uint16_t> xf_format;
  long first_sheet = -1;
  Walk(stream, 0, [&](const Record& r) {
    if (r.type == kFormat && r.data.size() >= 2) {
      const uint16_t index = U16(r.data, 0);
      if (index >= format_pad.size()) format_pad.resize(index + 1u, 0);
      format_pad[index] = ZeroPadWidth(r.data);
    } else if (r.type == kXf) {
      xf_format.push_back(U16(r.data, 2));
    } else if (r.type == kBoundSheet && first_sheet < 0 && r.data.size() >= 4) {
      first_sheet = U32(r.data, 0);
    }
  });
  if (first_sheet <= 0 || static_cast<size_t>(first_sheet) >= stream.size()) return facts;

  auto pad_of = [&](uint16_t xf) {
    if (xf >= xf_format.size()) return 0;
    const uint16_t format = xf_format[xf];
    return format < format_pad.size() ? format_pad[format] : 0;
  };
  auto number = [&](uint16_t row, uint16_t column, uint16_t xf, double value) {
    CellFact fact;
    fact.number = value;
    fact.zero_pad = pad_of(xf);
    facts[{row, column}] = fact;
  };
  auto boolean = [&](uint16_t row, uint16_t column, bool value) {
    CellFact fact;
    fact.kind = CellFact::Kind::kBoolean;
    fact.boolean = value;
    facts[{row, column}] = fact;
  };
  Walk(stream, static_cast<size_t>(first_sheet), [&](const Record& r) {
    const std::string_view d = r.data;
    if (r.type == kNumber && d.size() >= 14) {
      number(U16(d, 0), U16(d, 2), U16(d, 4), F64(d, 6));
    } else if (r.type == kRk && d.size() >= 10) {
      number(U16(d, 0), U16(d, 2), U16(d, 4), RkValue(U32(d, 6)));
    } else if (r.type == kMulRk && d.size() >= 6) {
      const uint16_t row = U16(d, 0);
      uint16_t column = U16(d, 2);
      for (size_t at = 4; at + 6 + 2 <= d.size(); at += 6, ++column) {
        number(row, column, U16(d, at), RkValue(U32(d, at + 2)));
      }
    } else if (r.type == kBoolErr && d.size() >= 8) {
      if (d[7] == 0) boolean(U16(d, 0), U16(d, 2), d[6] != 0);
    } else if (r.type == kFormula && d.size() >= 14) {
      if (U16(d, 12) != 0xFFFF) {
        number(U16(d, 0), U16(d, 2), U16(d, 4), F64(d, 6));
      } else if (d[6] == 1) {
        boolean(U16(d, 0), U16(d, 2), d[8] != 0);
      }
    }
  });
  return facts;
}

}  // namespace mirestal::import
