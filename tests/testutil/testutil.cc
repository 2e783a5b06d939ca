#include "tests/testutil/testutil.h"

#include <stdlib.h>
#ifdef _WIN32
#include <process.h>
#endif

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace mirestal::testing {

namespace {

// Paths are UTF-8 in the program; on Windows the stream must be opened by its UTF-16 name.
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

#ifdef _WIN32
TempDir::TempDir() {
  // UTF-8, as every path inside the program; names from a counter and the process id.
  static int counter = 0;
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    std::filesystem::path p = base / ("mirestal-test-" + std::to_string(_getpid()) + "-" +
                                      std::to_string(counter++));
    if (std::filesystem::create_directory(p)) {
      std::u8string u8 = p.generic_u8string();
      path_.assign(u8.begin(), u8.end());
      return;
    }
  }
}
#else
TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "mirestal-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}
#endif

TempDir::~TempDir() {
  std::error_code ec;
  // Tests make files read-only; give the owner write permission back so that removal works
  // for a non-root user as well.
  for (auto& entry : std::filesystem::recursive_directory_iterator(PathOf(path_), ec)) {
    std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  }
  std::filesystem::remove_all(PathOf(path_), ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(PathOf(path), std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> FileNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string SourceDir() {
  const char* dir = std::getenv("MIRESTAL_SOURCE_DIR");
  return dir ? dir : ".";
}

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#define WIFEXITED(status) true
#define WEXITSTATUS(status) (status)
#endif

int RunCommand(const std::string& command, std::string* out) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  std::string text;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  int status = pclose(pipe);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

DbfBuilder& DbfBuilder::Field(const std::string& name, char type, int length, int decimals) {
  fields_.push_back({name, type, length, decimals});
  return *this;
}

int DbfBuilder::RecordLength() const {
  int length = 1;
  for (const auto& f : fields_) length += f.length;
  return length;
}

int DbfBuilder::HeaderLength() const {
  return 32 + 32 * static_cast<int>(fields_.size()) + 1 + (version_ == 0x30 ? 263 : 0);
}

DbfBuilder& DbfBuilder::Record(const std::vector<std::string>& values, bool deleted) {
  std::string record(1, deleted ? '*' : ' ');
  for (size_t i = 0; i < fields_.size(); ++i) {
    const FieldSpec& f = fields_[i];
    std::string v = i < values.size() ? values[i] : "";
    if (static_cast<int>(v.size()) > f.length) v.resize(f.length);
    std::string padding(f.length - v.size(), ' ');
    bool left = f.type == 'C' || f.type == 'D' || f.type == 'L';
    record += left ? v + padding : padding + v;
  }
  records_.push_back(record);
  return *this;
}

std::string DbfBuilder::Build() const {
  std::string out(32, '\0');
  auto put16 = [&](size_t at, uint32_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
  };
  out[0] = static_cast<char>(version_);
  out[1] = 124;  // 2024
  out[2] = 3;
  out[3] = 15;
  uint32_t count = header_count_ >= 0 ? static_cast<uint32_t>(header_count_)
                                      : static_cast<uint32_t>(records_.size());
  for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<char>((count >> (8 * i)) & 0xFF);
  put16(8, HeaderLength());
  put16(10, RecordLength());
  out[28] = static_cast<char>(flags_);
  out[29] = static_cast<char>(0x7A);  // code page 936
  int position = 1;
  for (const auto& f : fields_) {
    std::string d(32, '\0');
    for (size_t i = 0; i < f.name.size() && i < 11; ++i) d[i] = f.name[i];
    d[11] = f.type;
    for (int i = 0; i < 4; ++i) d[12 + i] = static_cast<char>((position >> (8 * i)) & 0xFF);
    d[16] = static_cast<char>(f.length & 0xFF);
    d[17] = static_cast<char>(f.type == 'C' ? (f.length >> 8) : f.decimals);
    out += d;
    position += f.length;
  }
  out += '\x0D';
  if (version_ == 0x30) out += std::string(263, '\0');
  for (const auto& r : records_) out += r;
  if (end_marker_) out += '\x1A';
  return out;
}

std::string MakeBenchRoster(int records, int deleted_every) {
  DbfBuilder b;
  b.Field("\xBF\xBC\xBC\xAE\xBA\xC5", 'C', 17)  // 考籍号
      .Field("\xD0\xD5\xC3\xFB", 'C', 10)       // 姓名
      .Field("\xD0\xD4\xB1\xF0", 'C', 2)        // 性别
      .Field("CLASS", 'C', 10)
      .Field("BIRTH", 'D', 8)
      .Field("SCORE", 'N', 5, 1);
  for (int i = 0; i < records; ++i) {
    char key[32];
    std::snprintf(key, sizeof key, "1101012026%07d", i);
    b.Record({key, "\xCD\xF5\xD0\xA1\xC3\xF7", i % 2 ? "\xC4\xD0" : "\xC5\xAE",
              "G3-" + std::to_string(i % 9), "20080105", std::to_string(300 + i % 400) + ".5"},
             deleted_every > 0 && i % deleted_every == 7);
  }
  return b.Build();
}

}  // namespace mirestal::testing
