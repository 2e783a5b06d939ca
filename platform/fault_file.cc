#include "platform/fault_file.h"

#include <errno.h>

namespace mirestal {

class FaultFile : public File {
 public:
  FaultFile(FaultFileSystem& fs, std::unique_ptr<File> base) : fs_(fs), base_(std::move(base)) {}

  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
    if (++fs_.reads_ == fs_.short_read_at_) n /= 2;
    return base_->ReadAt(offset, buffer, n);
  }
  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (++fs_.writes_ == fs_.fail_write_at_) {
      base_->WriteAt(offset, data, n / 2);
      throw IoError("injected write failure", ENOSPC);
    }
    base_->WriteAt(offset, data, n);
  }
  uint64_t Size() override { return base_->Size(); }
  void Flush() override {
    if (++fs_.flushes_ == fs_.fail_flush_at_) throw IoError("injected flush failure", EIO);
    base_->Flush();
  }
  void Truncate(uint64_t size) override { base_->Truncate(size); }
  bool LockRange(uint64_t offset, uint64_t length) override {
    return base_->LockRange(offset, length);
  }
  void UnlockRange(uint64_t offset, uint64_t length) override {
    base_->UnlockRange(offset, length);
  }

 private:
  FaultFileSystem& fs_;
  std::unique_ptr<File> base_;
};

void FaultFileSystem::Reset() {
  short_read_at_ = reads_ = 0;
  fail_write_at_ = writes_ = 0;
  fail_flush_at_ = flushes_ = 0;
  fail_renames_ = false;
}

std::unique_ptr<File> FaultFileSystem::Open(const std::string& path, Access access, Share share) {
  return std::make_unique<FaultFile>(*this, base_.Open(path, access, share));
}

std::unique_ptr<File> FaultFileSystem::Create(const std::string& path) {
  return std::make_unique<FaultFile>(*this, base_.Create(path));
}

void FaultFileSystem::Rename(const std::string& from, const std::string& to) {
  if (fail_renames_) throw IoError("injected rename failure", EIO);
  base_.Rename(from, to);
}

void FaultFileSystem::Remove(const std::string& path) { base_.Remove(path); }

}  // namespace mirestal
