#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "platform/file.h"

namespace mirestal {
namespace {

[[noreturn]] void ThrowErrno(const std::string& what, const std::string& path, int code,
                             IoErrorKind kind) {
  throw IoError(what + " " + path + ": " + std::strerror(code), kind, code, std::strerror(code));
}

[[noreturn]] void ThrowErrno(const std::string& what, const std::string& path, int code) {
  ThrowErrno(what, path, code, IoErrorKindOf(code));
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
// Closes `fd` and throws on failure.
void LockWholeFile(int fd, Share share, const std::string& path) {
  int op = (share == Share::kNone ? LOCK_EX : LOCK_SH) | LOCK_NB;
  if (::flock(fd, op) != 0) {
    int code = errno;
    ::close(fd);
    if (code == EWOULDBLOCK) ThrowErrno("cannot open", path, code, IoErrorKind::kLocked);
    ThrowErrno("cannot open", path, code);
  }
}

// Checks what an open descriptor is before anything is read or written through it: only a
// regular file passes, and with `writing` only one whose owner may write (the read-only
// attribute holds for an administrator too). Closes `fd` and throws otherwise.
void CheckRegular(int fd, const std::string& what, const std::string& path, bool writing) {
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int code = errno;
    ::close(fd);
    ThrowErrno(what, path, code);
  }
  int code = !S_ISREG(st.st_mode)                 ? (S_ISDIR(st.st_mode) ? EISDIR : EINVAL)
             : writing && !(st.st_mode & S_IWUSR) ? EACCES
                                                  : 0;
  if (code != 0) {
    ::close(fd);
    ThrowErrno(what, path, code, IoErrorKind::kAccessDenied);
  }
  // Opened without blocking so that a named pipe cannot hang the open; a regular file reads
  // and writes the same either way, but the flag is cleared all the same.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
}

// Twelve characters from [0-9A-Za-z], taken from the kernel's random source.
std::string RandomSuffix() {
  static constexpr char kAlphabet[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  unsigned char bytes[12];
  if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    std::random_device device;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(device());
  }
  std::string suffix;
  for (unsigned char b : bytes) suffix.push_back(kAlphabet[b % (sizeof kAlphabet - 1)]);
  return suffix;
}

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, Access access, Share share) override {
    const bool writing = access == Access::kReadWrite;
    int flags = (writing ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    int fd = ::open(path.c_str(), flags);
    if (fd < 0) ThrowErrno("cannot open", path, errno);
    CheckRegular(fd, "cannot open", path, writing);
    LockWholeFile(fd, share, path);
    return std::make_unique<PosixFile>(fd, path);
  }

  std::unique_ptr<File> Create(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) ThrowErrno("cannot create", path, errno);
    CheckRegular(fd, "cannot create", path, /*writing=*/true);
    LockWholeFile(fd, Share::kNone, path);
    // Emptied only now that the lock is held: a file another program holds keeps its bytes.
    if (::ftruncate(fd, 0) != 0) {
      int code = errno;
      ::close(fd);
      ThrowErrno("cannot create", path, code);
    }
    return std::make_unique<PosixFile>(fd, path);
  }

  std::unique_ptr<File> CreateExclusiveTemp(const std::string& folder, const std::string& prefix,
                                            std::string* path_out) override {
    std::string base = folder;
    if (!base.empty() && base.back() != '/') base += '/';
    // A clash with an existing name is retried with another suffix; with 62^12 suffixes a
    // clash twice running means someone is planting names.
    for (int attempt = 0;; ++attempt) {
      *path_out = base + prefix + RandomSuffix();
      int fd = ::open(path_out->c_str(),
                      O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0644);
      if (fd >= 0) {
        LockWholeFile(fd, Share::kNone, *path_out);
        return std::make_unique<PosixFile>(fd, *path_out);
      }
      if (errno != EEXIST || attempt == 10) ThrowErrno("cannot create", *path_out, errno);
    }
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

  bool Exists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }

  bool DirectoryExists(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }

  bool IsReadOnly(const std::string& path) override {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
  }

  void SetReadOnly(const std::string& path, bool read_only) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) ThrowErrno("cannot change the attributes of", path, errno);
    mode_t mode = st.st_mode & 07777;
    mode = read_only ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
    if (::chmod(path.c_str(), mode) != 0) {
      ThrowErrno("cannot change the attributes of", path, errno);
    }
  }

  bool MakeDirectories(const std::string& path) override {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return DirectoryExists(path);
  }

  bool SameFile(const std::string& a, const std::string& b) override {
    struct stat sa, sb;
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
  }
};

}  // namespace

FileSystem& FileSystem::Default() {
  static PosixFileSystem fs;
  return fs;
}

IoErrorKind IoErrorKindOf(int code) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
      return IoErrorKind::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return IoErrorKind::kAccessDenied;
    case EWOULDBLOCK:
      return IoErrorKind::kLocked;
    default:
      return IoErrorKind::kOther;
  }
}

bool PathExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::optional<FileStamp> RegularFileStamp(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return FileStamp{static_cast<uint64_t>(st.st_size),
                   static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                   static_cast<uint64_t>(st.st_ino)};
}

}  // namespace mirestal
