#include "platform/fault_file.h"

namespace mirestal {

class FaultFile : public File {
 public:
  FaultFile(FaultFileSystem& fs, std::unique_ptr<File> base) : fs_(fs), base_(std::move(base)) {}

  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
    if (++fs_.reads_ == fs_.short_read_at_) n /= 2;
    const size_t got = base_->ReadAt(offset, buffer, n);
    fs_.bytes_read_ += got;
    return got;
  }
  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    if (++fs_.writes_ == fs_.fail_write_at_) {
      base_->WriteAt(offset, data, n / 2);
      throw IoError("injected write failure", IoErrorKind::kOther);
    }
    base_->WriteAt(offset, data, n);
  }
  uint64_t Size() override { return base_->Size(); }
  void Flush() override {
    if (++fs_.flushes_ == fs_.fail_flush_at_) {
      throw IoError("injected flush failure", IoErrorKind::kOther);
    }
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

void FaultFileSystem::FailOperation(FileOp op, int n, int count, IoErrorKind kind) {
  plans_[op] = Plan{0, n, count, kind};
}

void FaultFileSystem::FailRenames(bool fail) {
  if (fail) {
    FailOperation(FileOp::kRename, 1, 0, IoErrorKind::kOther);
  } else {
    plans_.erase(FileOp::kRename);
  }
}

void FaultFileSystem::Reset() {
  short_read_at_ = reads_ = 0;
  bytes_read_ = 0;
  fail_write_at_ = writes_ = 0;
  fail_flush_at_ = flushes_ = 0;
  plans_.clear();
}

bool FaultFileSystem::Fails(FileOp op) {
  auto it = plans_.find(op);
  if (it == plans_.end()) return false;
  Plan& plan = it->second;
  const int call = ++plan.calls;
  return plan.first > 0 && call >= plan.first &&
         (plan.count == 0 || call < plan.first + plan.count);
}

void FaultFileSystem::ThrowIfFails(FileOp op, const std::string& path) {
  if (Fails(op)) {
    throw IoError("injected failure on " + path, plans_[op].kind);
  }
}

std::unique_ptr<File> FaultFileSystem::Open(const std::string& path, Access access, Share share) {
  ThrowIfFails(FileOp::kOpen, path);
  return std::make_unique<FaultFile>(*this, base_.Open(path, access, share));
}

std::unique_ptr<File> FaultFileSystem::Create(const std::string& path) {
  ThrowIfFails(FileOp::kCreate, path);
  return std::make_unique<FaultFile>(*this, base_.Create(path));
}

std::unique_ptr<File> FaultFileSystem::CreateExclusiveTemp(const std::string& folder,
                                                           const std::string& prefix,
                                                           std::string* path_out) {
  *path_out = folder + (folder.empty() || folder.back() == '/' ? "" : "/") + prefix;
  ThrowIfFails(FileOp::kCreateExclusiveTemp, *path_out);
  return std::make_unique<FaultFile>(*this, base_.CreateExclusiveTemp(folder, prefix, path_out));
}

void FaultFileSystem::Rename(const std::string& from, const std::string& to) {
  if (Fails(FileOp::kRename)) {
    throw IoError("injected rename failure", plans_[FileOp::kRename].kind);
  }
  base_.Rename(from, to);
}

void FaultFileSystem::Remove(const std::string& path) {
  ThrowIfFails(FileOp::kRemove, path);
  base_.Remove(path);
}

bool FaultFileSystem::Exists(const std::string& path) {
  return !Fails(FileOp::kExists) && base_.Exists(path);
}

bool FaultFileSystem::DirectoryExists(const std::string& path) {
  return !Fails(FileOp::kDirectoryExists) && base_.DirectoryExists(path);
}

bool FaultFileSystem::IsReadOnly(const std::string& path) {
  return !Fails(FileOp::kIsReadOnly) && base_.IsReadOnly(path);
}

void FaultFileSystem::SetReadOnly(const std::string& path, bool read_only) {
  ThrowIfFails(FileOp::kSetReadOnly, path);
  base_.SetReadOnly(path, read_only);
}

bool FaultFileSystem::MakeDirectories(const std::string& path) {
  return !Fails(FileOp::kMakeDirectories) && base_.MakeDirectories(path);
}

bool FaultFileSystem::SameFile(const std::string& a, const std::string& b) {
  return !Fails(FileOp::kSameFile) && base_.SameFile(a, b);
}

}  // namespace mirestal
