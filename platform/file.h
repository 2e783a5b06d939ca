// The file layer: every read, write, flush and lock of a table, memo, workbook or photo file
// goes through FileSystem and File, so that tests can put a fault-injecting layer in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace mirestal {

// The portable meaning of an operating-system failure. Code outside platform/ decides on this,
// never on the system's error numbers.
enum class IoErrorKind {
  kNotFound,      // the file or a folder of its path does not exist
  kAccessDenied,  // no rights, read-only, or not a regular file where one is needed
  kLocked,        // another opener (another copy of the program too) holds the file
  kOther,
};

// The kind of a system error number (errno on Linux); defined by the platform's file layer.
IoErrorKind IoErrorKindOf(int code);

// An operating-system failure. what() is an English description in UTF-8 naming the file;
// reason() is the system's own text of the failure alone ("Permission denied"). `code` is the
// system's error number (0 when there is none) and is for platform code only. Callers translate
// the failure into their own message texts by kind().
class IoError : public std::runtime_error {
 public:
  IoError(const std::string& what, IoErrorKind kind, int code = 0, std::string reason = {})
      : std::runtime_error(what), kind_(kind), code_(code), reason_(std::move(reason)) {}
  // A failure known only by its system error number.
  IoError(const std::string& what, int code) : IoError(what, IoErrorKindOf(code), code) {}
  IoErrorKind kind() const { return kind_; }
  int code() const { return code_; }
  std::string reason() const { return reason_.empty() ? what() : reason_; }

 private:
  IoErrorKind kind_;
  int code_;
  std::string reason_;
};

enum class Access { kRead, kReadWrite };
enum class Share { kNone, kReadWrite };

// One open file. Positions are absolute; there is no file pointer.
class File {
 public:
  virtual ~File() = default;
  // Reads up to n bytes at offset; returns the number read (fewer at the end of the file).
  // Throws IoError when the read fails.
  virtual size_t ReadAt(uint64_t offset, void* buffer, size_t n) = 0;
  // Writes exactly n bytes at offset or throws IoError (some bytes may have been written).
  virtual void WriteAt(uint64_t offset, const void* data, size_t n) = 0;
  virtual uint64_t Size() = 0;
  // Makes everything written so far durable (fsync).
  virtual void Flush() = 0;
  virtual void Truncate(uint64_t size) = 0;
  // Byte-range locks (fcntl record locks on Linux). Return false when another process holds
  // a conflicting lock.
  virtual bool LockRange(uint64_t offset, uint64_t length) = 0;
  virtual void UnlockRange(uint64_t offset, uint64_t length) = 0;
};

// Every file operation of the program goes through one FileSystem, so that a test can make any
// of them fail (fault_file.h). Paths are UTF-8 on Linux. Operations that change something throw
// IoError; queries answer false when the answer cannot be had.
class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing regular file; anything else (a folder, a named pipe, a device) is refused
  // with kAccessDenied without waiting for a writer or touching the device. With Share::kNone
  // the file is also locked with an advisory exclusive lock, so that a second opener (another
  // copy of this program included) fails with kLocked. Read-write access to a read-only file is
  // refused (kAccessDenied) even for an administrator.
  virtual std::unique_ptr<File> Open(const std::string& path, Access access, Share share) = 0;
  // Creates a file for reading and writing, exclusively, or empties an existing regular one once
  // its lock is held (never before: a file held by another opener keeps its bytes). Read-only
  // files and non-regular files are refused.
  virtual std::unique_ptr<File> Create(const std::string& path) = 0;
  // Creates a new regular file in `folder` (ending in a separator or not; empty: the working
  // folder) named `prefix` followed by a suffix no one can predict, exclusively: an existing
  // name of any kind, a planted link included, is never opened, never followed and never
  // emptied. The file is held exclusively; its path goes to *path_out. On failure *path_out
  // holds the last name tried.
  virtual std::unique_ptr<File> CreateExclusiveTemp(const std::string& folder,
                                                    const std::string& prefix,
                                                    std::string* path_out) = 0;
  // Replaces `to` with `from` atomically (rename); then makes the rename durable.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Deletes a file (a link itself, never what it points to).
  virtual void Remove(const std::string& path) = 0;

  // A regular file (not a folder, pipe or device) is at `path`.
  virtual bool Exists(const std::string& path) = 0;
  virtual bool DirectoryExists(const std::string& path) = 0;
  // The read-only attribute: the owner's write permission on Linux.
  virtual bool IsReadOnly(const std::string& path) = 0;
  virtual void SetReadOnly(const std::string& path, bool read_only) = 0;
  // Creates a folder and its parents; true when the folder exists afterwards.
  virtual bool MakeDirectories(const std::string& path) = 0;
  // Both names lead to the same file (device and inode on Linux), however spelled and through
  // any links; false when either is missing.
  virtual bool SameFile(const std::string& a, const std::string& b) = 0;

  // The real file system of the machine.
  static FileSystem& Default();
};

// The same queries on FileSystem::Default(), for code that has no file system of its own.
bool FileExists(const std::string& path);       // a regular file (not a folder) exists
bool DirectoryExists(const std::string& path);
bool PathExists(const std::string& path);  // anything exists under that name, a link too
bool IsReadOnly(const std::string& path);
// Size and modification time of a regular file, from one query; the time's unit is the
// platform's own and is only for comparing two stamps of one file. `id` is the file's identity
// where the same query gives it (the inode on POSIX, so a file replaced by a rename differs even
// within one clock tick), 0 elsewhere.
struct FileStamp {
  uint64_t size = 0;
  int64_t time = 0;
  uint64_t id = 0;
  bool operator==(const FileStamp&) const = default;
};
// nullopt when no regular file (links followed) is at `path`.
std::optional<FileStamp> RegularFileStamp(const std::string& path);
// Failures are silent.
void SetReadOnly(const std::string& path, bool read_only);
// Clears the read-only attribute, then deletes the file; failures are silent.
void ForceDeleteFile(const std::string& path);
// Creates a folder and its parents; returns false when it could not.
bool ForceDirectories(const std::string& path);

}  // namespace mirestal
