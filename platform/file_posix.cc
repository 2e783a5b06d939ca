#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/file.h"

namespace mirestal {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what, const std::string& path, int code) {
  throw IoError(what + " " + path + ": " + std::strerror(code), code);
}

// Owns a descriptor; closing it also drops the flock taken at open.
class PosixFile : public File {
 public:
  PosixFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }
  PosixFile(const PosixFile&) = delete;
  PosixFile& operator=(const PosixFile&) = delete;

  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pread(fd_, static_cast<char*>(buffer) + done, n - done, offset + done);
      if (r < 0) {
        if (errno == EINTR) continue;
        ThrowErrno("cannot read", path_, errno);
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    return done;
  }

  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    size_t done = 0;
    while (done < n) {
      ssize_t r = ::pwrite(fd_, static_cast<const char*>(data) + done, n - done, offset + done);
      if (r < 0) {
        if (errno == EINTR) continue;
        ThrowErrno("cannot write", path_, errno);
      }
      done += static_cast<size_t>(r);
    }
  }

  uint64_t Size() override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) ThrowErrno("cannot get the size of", path_, errno);
    return static_cast<uint64_t>(st.st_size);
  }

  void Flush() override {
    if (::fdatasync(fd_) != 0) ThrowErrno("cannot flush", path_, errno);
  }

  void Truncate(uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) ThrowErrno("cannot truncate", path_, errno);
  }

  bool LockRange(uint64_t offset, uint64_t length) override {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    if (::fcntl(fd_, F_SETLK, &fl) == 0) return true;
    if (errno == EACCES || errno == EAGAIN) return false;
    ThrowErrno("cannot lock", path_, errno);
  }

  void UnlockRange(uint64_t offset, uint64_t length) override {
    struct flock fl {};
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(offset);
    fl.l_len = static_cast<off_t>(length);
    ::fcntl(fd_, F_SETLK, &fl);
  }

 private:
  int fd_;
  std::string path_;
};

// Takes the advisory whole-file lock that stands in for the sharing mode: exclusive openers
// take LOCK_EX, sharing openers LOCK_SH, so each excludes the other as the sharing modes do.
void LockWholeFile(int fd, Share share, const std::string& path) {
  int op = (share == Share::kNone ? LOCK_EX : LOCK_SH) | LOCK_NB;
  if (::flock(fd, op) != 0) {
    int code = errno == EWOULDBLOCK ? EACCES : errno;
    ::close(fd);
    ThrowErrno("cannot open", path, code);
  }
}

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, Access access, Share share) override {
    int flags = (access == Access::kRead ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    int fd = ::open(path.c_str(), flags);
    if (fd < 0) ThrowErrno("cannot open", path, errno);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      int code = errno ? errno : EISDIR;
      ::close(fd);
      ThrowErrno("cannot open", path, S_ISDIR(st.st_mode) ? EISDIR : code);
    }
    // The read-only attribute is the owner's write bit; root would otherwise ignore it.
    if (access == Access::kReadWrite && (st.st_mode & S_IWUSR) == 0) {
      ::close(fd);
      ThrowErrno("cannot open", path, EACCES);
    }
    LockWholeFile(fd, share, path);
    return std::make_unique<PosixFile>(fd, path);
  }

  std::unique_ptr<File> Create(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) ThrowErrno("cannot create", path, errno);
    LockWholeFile(fd, Share::kNone, path);
    return std::make_unique<PosixFile>(fd, path);
  }

  void Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) ThrowErrno("cannot rename", from, errno);
    // Make the new directory entry durable as well.
    std::string dir = std::filesystem::path(to).parent_path().string();
    int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
      ::fsync(dfd);
      ::close(dfd);
    }
  }

  void Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) ThrowErrno("cannot delete", path, errno);
  }
};

}  // namespace

FileSystem& FileSystem::Default() {
  static PosixFileSystem fs;
  return fs;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsReadOnly(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

void SetReadOnly(const std::string& path, bool read_only) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return;
  mode_t mode = st.st_mode & 07777;
  mode = read_only ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  ::chmod(path.c_str(), mode);
}

void ForceDeleteFile(const std::string& path) {
  SetReadOnly(path, false);
  ::unlink(path.c_str());
}

bool ForceDirectories(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return DirectoryExists(path);
}

}  // namespace mirestal
