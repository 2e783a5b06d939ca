// The file layer: every read, write, flush and lock of a table, memo, workbook or photo file
// goes through FileSystem and File, so that tests can put a fault-injecting layer in between.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace mirestal {

// An operating-system failure. `code` is the errno value (0 when there is none); what() is an
// English description in UTF-8. Callers translate it into their own message texts.
class IoError : public std::runtime_error {
 public:
  IoError(const std::string& what, int code) : std::runtime_error(what), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
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

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Opens an existing file. With Share::kNone the file is also locked with an advisory
  // exclusive lock, so that a second opener (another copy of this program included) fails.
  // Throws IoError when the file is missing, locked or not accessible.
  virtual std::unique_ptr<File> Open(const std::string& path, Access access, Share share) = 0;
  // Creates (or empties) a file for reading and writing, exclusively.
  virtual std::unique_ptr<File> Create(const std::string& path) = 0;
  // Replaces `to` with `from` atomically (rename); then makes the rename durable.
  virtual void Rename(const std::string& from, const std::string& to) = 0;
  // Deletes a file; throws IoError on failure.
  virtual void Remove(const std::string& path) = 0;

  // The real file system of the machine.
  static FileSystem& Default();
};

// File attributes and simple queries on the real file system (paths in UTF-8 on Linux).
bool FileExists(const std::string& path);       // a regular file (not a folder) exists
bool DirectoryExists(const std::string& path);
bool PathExists(const std::string& path);        // anything exists under that name
// Read-only maps to the owner's write permission on Linux.
bool IsReadOnly(const std::string& path);
void SetReadOnly(const std::string& path, bool read_only);
// Clears the read-only attribute, then deletes the file; failures are silent.
void ForceDeleteFile(const std::string& path);
// Creates a folder and its parents; returns false when it could not.
bool ForceDirectories(const std::string& path);

}  // namespace mirestal
