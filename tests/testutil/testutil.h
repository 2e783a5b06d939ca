// Helpers shared by the tests: temporary folders, whole-file reads and writes, and a builder of
// table files in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mirestal::testing {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
// The names in a folder (links and folders included), sorted.
std::vector<std::string> FileNames(const std::string& folder);
// The folder of the source tree (from MIRESTAL_SOURCE_DIR, set by CTest).
std::string SourceDir();
// Runs a shell command; returns its exit status and puts its standard output into *out.
int RunCommand(const std::string& command, std::string* out = nullptr);

// Builds the bytes of a table file. Values given to Record() are laid into their fields: text of
// exactly the field length is copied as it is; shorter text is blank-padded, left-aligned for
// C, D and L fields and right-aligned for the others.
class DbfBuilder {
 public:
  explicit DbfBuilder(uint8_t version = 0x03) : version_(version) {}
  DbfBuilder& Field(const std::string& name, char type, int length, int decimals = 0);
  DbfBuilder& Record(const std::vector<std::string>& values, bool deleted = false);
  // Header byte 28 (table flags) and 29 (code page mark).
  DbfBuilder& Flags(uint8_t flags) { flags_ = flags; return *this; }
  DbfBuilder& HeaderCount(int64_t count) { header_count_ = count; return *this; }
  DbfBuilder& EndMarker(bool marker) { end_marker_ = marker; return *this; }
  std::string Build() const;
  int RecordLength() const;
  int HeaderLength() const;

 private:
  struct FieldSpec {
    std::string name;
    char type;
    int length;
    int decimals;
  };
  uint8_t version_;
  uint8_t flags_ = 0;
  int64_t header_count_ = -1;
  bool end_marker_ = true;
  std::vector<FieldSpec> fields_;
  std::vector<std::string> records_;
};

// A roster of `records` students (考籍号 C(17), 姓名, 性别, CLASS, BIRTH, SCORE) for benchmarks.
// With `deleted_every` > 0, every record whose index modulo it is 7 is marked deleted.
std::string MakeBenchRoster(int records, int deleted_every = 0);

}  // namespace mirestal::testing
