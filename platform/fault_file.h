// A fault-injecting FileSystem for tests: it wraps another file system and makes a chosen read
// come back short, a chosen write fail half way, a chosen flush fail, or any other file
// operation fail.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "platform/file.h"

namespace mirestal {

// The operations of FileSystem that FailOperation can make fail.
enum class FileOp {
  kOpen,
  kCreate,
  kCreateExclusiveTemp,
  kRename,
  kRemove,
  kExists,
  kDirectoryExists,
  kIsReadOnly,
  kSetReadOnly,
  kMakeDirectories,
  kSameFile,
};

class FaultFileSystem : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem& base = FileSystem::Default()) : base_(base) {}

  // The n-th read from now on (1 = the next one) returns only half of what it could.
  void ShortReadAt(int n) { short_read_at_ = n; reads_ = 0; }
  // The n-th write from now on writes its first half and then throws IoError.
  void FailWriteAt(int n) { fail_write_at_ = n; writes_ = 0; }
  // The n-th flush from now on throws IoError.
  void FailFlushAt(int n) { fail_flush_at_ = n; flushes_ = 0; }
  // Calls of `op` fail from the n-th one from now on (1 = the next one), `count` of them (0: all
  // later ones). An operation that changes something throws IoError of `kind` without doing
  // anything; a query answers false, as a real one does when the answer cannot be had.
  void FailOperation(FileOp op, int n = 1, int count = 1,
                     IoErrorKind kind = IoErrorKind::kAccessDenied);
  // Every rename throws IoError when set.
  void FailRenames(bool fail);
  void Reset();

  int reads() const { return reads_; }
  // Bytes that reads have returned since construction or Reset().
  uint64_t bytes_read() const { return bytes_read_; }
  int writes() const { return writes_; }
  int flushes() const { return flushes_; }

  std::unique_ptr<File> Open(const std::string& path, Access access, Share share) override;
  std::unique_ptr<File> Create(const std::string& path) override;
  std::unique_ptr<File> CreateExclusiveTemp(const std::string& folder, const std::string& prefix,
                                            std::string* path_out) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;
  bool Exists(const std::string& path) override;
  bool DirectoryExists(const std::string& path) override;
  bool IsReadOnly(const std::string& path) override;
  void SetReadOnly(const std::string& path, bool read_only) override;
  bool MakeDirectories(const std::string& path) override;
  bool SameFile(const std::string& a, const std::string& b) override;

 private:
  friend class FaultFile;
  struct Plan {
    int calls = 0, first = 0, count = 0;
    IoErrorKind kind = IoErrorKind::kOther;
  };
  // Counts a call of `op`; true when it is to fail.
  bool Fails(FileOp op);
  // Counts a call of `op` and throws the planned IoError when it is to fail.
  void ThrowIfFails(FileOp op, const std::string& path);

  FileSystem& base_;
  int short_read_at_ = 0, reads_ = 0;
  uint64_t bytes_read_ = 0;
  int fail_write_at_ = 0, writes_ = 0;
  int fail_flush_at_ = 0, flushes_ = 0;
  std::map<FileOp, Plan> plans_;
};

}  // namespace mirestal
