#include "table/create.h"

#include <algorithm>
#include <cstring>

#include "platform/gbk.h"
#include "platform/text.h"
#include "table/dbf_format.h"
#include "table/errors.h"
#include "table/memo.h"
#include "table/write_internal.h"

namespace mirestal {
namespace {

constexpr int kMaxCreateFields = 255;
constexpr size_t kNameBytes = 10;  // the descriptor's 11 bytes less the terminating NUL
constexpr uint8_t kCodePageGbk = 0x7A;
constexpr uint32_t kMemoBlockSize = 512;

std::string Shown(const std::string& gbk) { return GbkToUtf8(gbk); }

[[noreturn]] void Refuse(const char* format, std::initializer_list<std::string> args) {
  throw ETableError(FormatMessage(format, args));
}

void CheckField(TFieldDef& f, int number) {
  size_t first = 0, last = f.name.size();
  while (first < last && f.name[first] == ' ') ++first;
  while (last > first && f.name[last - 1] == ' ') --last;
  f.name = f.name.substr(first, last - first);
  if (f.name.empty()) Refuse("Field %d has no name", {std::to_string(number)});
  for (unsigned char c : f.name) {
    if (c < 32 || c == 127) Refuse("Field name %s holds a control character", {Shown(f.name)});
  }
  const std::string name = Shown(f.name);
  auto length_range = [&](int low, int high) {
    if (f.length < low || f.length > high) {
      Refuse("Field %s has length %d; %s fields take %d to %d",
             {name, std::to_string(f.length), std::string(1, f.type), std::to_string(low),
              std::to_string(high)});
    }
  };
  switch (f.type) {
    case 'C': length_range(1, 254); f.decimals = 0; break;
    case 'N':
      length_range(1, 20);
      if (f.decimals < 0 || (f.decimals > 0 && f.decimals > f.length - 2)) {
        Refuse("Field %s has %d decimals; a number of length %d takes at most %d",
               {name, std::to_string(f.decimals), std::to_string(f.length),
                std::to_string(std::max(f.length - 2, 0))});
      }
      break;
    case 'D': f.length = 8; f.decimals = 0; break;
    case 'L': f.length = 1; f.decimals = 0; break;
    case 'M': f.length = 10; f.decimals = 0; break;
    default:
      Refuse("Field %s has type %s; C, N, D, L and M are supported",
             {name, std::string(1, f.type >= 32 && f.type < 127 ? f.type : '?')});
  }
}

// Cuts every name to the descriptor's size and makes it unique among those before it.
void MakeNamesUnique(std::vector<TFieldDef>& fields) {
  std::vector<std::string> taken;
  for (TFieldDef& f : fields) {
    std::string name = f.name.substr(0, GbkSafePrefixLength(f.name, kNameBytes));
    for (int n = 2; std::find(taken.begin(), taken.end(), FoldCaseGbk(name)) != taken.end(); ++n) {
      const std::string suffix = "_" + std::to_string(n);
      name = f.name.substr(0, GbkSafePrefixLength(f.name, kNameBytes - suffix.size())) + suffix;
    }
    taken.push_back(FoldCaseGbk(name));
    f.name = name;
  }
}

std::string TableBytes(const std::vector<TFieldDef>& fields, bool memo) {
  const size_t header_length = dbf::kHeaderSize + fields.size() * dbf::kDescriptorSize + 1;
  int record_length = 1;
  for (const TFieldDef& f : fields) record_length += f.length;
  std::string bytes(header_length + 1, '\0');
  auto* image = reinterpret_cast<unsigned char*>(bytes.data());
  image[dbf::kOffVersion] = memo ? dbf::kVersionDbase4Memo : dbf::kVersionDbase3;
  dbf::Put16(image + dbf::kOffHeaderLength, static_cast<uint16_t>(header_length));
  dbf::Put16(image + dbf::kOffRecordLength, static_cast<uint16_t>(record_length));
  write_internal::FillHeaderImage(image, 0, false, 0, 0);
  image[dbf::kOffCodePage] = kCodePageGbk;
  unsigned char* d = image + dbf::kHeaderSize;
  for (const TFieldDef& f : fields) {
    std::memcpy(d + dbf::kDescName, f.name.data(), f.name.size());
    d[dbf::kDescType] = static_cast<unsigned char>(f.type);
    d[dbf::kDescLength] = static_cast<unsigned char>(f.length);
    d[dbf::kDescDecimals] = static_cast<unsigned char>(f.decimals);
    d += dbf::kDescriptorSize;
  }
  bytes[header_length - 1] = dbf::kDescriptorEnd;
  bytes[header_length] = dbf::kEndOfFile;
  return bytes;
}

// An empty dBase IV memo file: the free list starts at block 1, the end of the file.
std::string MemoBytes() {
  std::string bytes(kMemoBlockSize, '\0');
  auto* image = reinterpret_cast<unsigned char*>(bytes.data());
  dbf::Put32(image, 1);
  dbf::Put32(image + 20, kMemoBlockSize);
  return bytes;
}

void RemoveQuietly(FileSystem& fs, const std::string& path) {
  try {
    fs.Remove(path);
  } catch (const std::exception&) {
    // Nothing more can be done; the caller reports the write error.
  }
}

// Writes a new file whole and flushed, or removes what was created and raises "Error writing to
// %s".
void WriteNew(FileSystem& fs, const std::string& path, const std::string& bytes) {
  bool created = false;
  try {
    std::unique_ptr<File> file = fs.Create(path);
    created = true;
    file->WriteAt(0, bytes.data(), bytes.size());
    file->Flush();
  } catch (const std::exception&) {
    if (created) RemoveQuietly(fs, path);
    throw ETableError(FormatMessage("Error writing to %s", {path}));
  }
}

}  // namespace

std::vector<TFieldDef> CreateTable(const std::string& path, std::vector<TFieldDef> fields,
                                   FileSystem& fs) {
  if (fields.empty()) Refuse("A table needs at least one field", {});
  if (fields.size() > kMaxCreateFields) {
    Refuse("A table takes at most %d fields, not %d",
           {std::to_string(kMaxCreateFields), std::to_string(fields.size())});
  }
  for (size_t i = 0; i < fields.size(); ++i) CheckField(fields[i], static_cast<int>(i) + 1);
  MakeNamesUnique(fields);
  const bool memo = std::any_of(fields.begin(), fields.end(),
                                [](const TFieldDef& f) { return f.type == 'M'; });
  const std::string memo_path =
      memo ? MemoFile::MemoPathFor(path, dbf::kVersionDbase4Memo) : std::string();
  for (const std::string& p : {path, memo_path}) {
    if (!p.empty() && PathExists(p)) Refuse("File %s already exists", {p});
  }
  const std::string table = TableBytes(fields, memo);
  if (memo) WriteNew(fs, memo_path, MemoBytes());
  try {
    WriteNew(fs, path, table);
  } catch (...) {
    if (memo) RemoveQuietly(fs, memo_path);
    throw;
  }
  return fields;
}

}  // namespace mirestal
