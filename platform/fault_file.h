// A fault-injecting FileSystem for tests: it wraps another file system and makes a chosen
// read come back short or a chosen write fail half way.
#pragma once

#include <memory>
#include <string>

#include "platform/file.h"

namespace mirestal {

class FaultFileSystem : public FileSystem {
 public:
  explicit FaultFileSystem(FileSystem& base = FileSystem::Default()) : base_(base) {}

  // The n-th read from now on (1 = the next one) returns only half of what it could.
  void ShortReadAt(int n) { short_read_at_ = n; reads_ = 0; }
  // The n-th write from now on writes its first half and then throws IoError.
  void FailWriteAt(int n) { fail_write_at_ = n; writes_ = 0; }
  // The n-th flush from now on throws IoError.
  void FailFlushAt(int n) { fail_flush_at_ = n; flushes_ = 0; }
  // Every rename throws IoError when set.
  void FailRenames(bool fail) { fail_renames_ = fail; }
  void Reset();

  int reads() const { return reads_; }
  int writes() const { return writes_; }
  int flushes() const { return flushes_; }

  std::unique_ptr<File> Open(const std::string& path, Access access, Share share) override;
  std::unique_ptr<File> Create(const std::string& path) override;
  void Rename(const std::string& from, const std::string& to) override;
  void Remove(const std::string& path) override;

 private:
  friend class FaultFile;
  FileSystem& base_;
  int short_read_at_ = 0, reads_ = 0;
  int fail_write_at_ = 0, writes_ = 0;
  int fail_flush_at_ = 0, flushes_ = 0;
  bool fail_renames_ = false;
};

}  // namespace mirestal
