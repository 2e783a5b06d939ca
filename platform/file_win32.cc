// The file layer over the Win32 API. "Read-only" is the file attribute.
//
// Exclusive and shared opens: the share mode keeps every other writer out of a file held
// exclusively, and a lock on one byte far behind any data stands in for the whole-file lock of
// the Linux side (exclusive for an exclusive opener, shared for a sharing one), so a second
// opener in this program's modes (another copy of the program included) is refused as there.
// Plain readers (a backup, a viewer) may read a file held exclusively, as on Linux.
#include <algorithm>
#include <limits>
#include <random>

#include "platform/file.h"
#include "platform/win32_util.h"

namespace mirestal {
namespace {

using win32::FilePath;
using win32::ScopedHandle;

[[noreturn]] void ThrowError(const std::string& what, const std::string& path, DWORD error,
                             IoErrorKind kind) {
  std::string reason = win32::ErrorText(error);
  throw IoError(what + " " + path + ": " + reason, kind, static_cast<int>(error), reason);
}

[[noreturn]] void ThrowError(const std::string& what, const std::string& path, DWORD error) {
  ThrowError(what, path, error, IoErrorKindOf(static_cast<int>(error)));
}

[[noreturn]] void ThrowLastError(const std::string& what, const std::string& path) {
  ThrowError(what, path, ::GetLastError());
}

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED o{};
  o.Offset = static_cast<DWORD>(offset);
  o.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return o;
}

// Largest single ReadFile/WriteFile request.
constexpr size_t kMaxIo = 1u << 30;

class Win32File : public File {
 public:
  Win32File(ScopedHandle handle, std::string path)
      : handle_(std::move(handle)), path_(std::move(path)) {}

  size_t ReadAt(uint64_t offset, void* buffer, size_t n) override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED o = At(offset + done);
      DWORD got = 0;
      DWORD ask = static_cast<DWORD>(std::min(n - done, kMaxIo));
      if (!::ReadFile(handle_.get(), static_cast<char*>(buffer) + done, ask, &got, &o)) {
        DWORD error = ::GetLastError();
        if (error == ERROR_HANDLE_EOF) break;
        ThrowError("cannot read", path_, error);
      }
      if (got == 0) break;
      done += got;
    }
    return done;
  }

  void WriteAt(uint64_t offset, const void* data, size_t n) override {
    size_t done = 0;
    while (done < n) {
      OVERLAPPED o = At(offset + done);
      DWORD put = 0;
      DWORD ask = static_cast<DWORD>(std::min(n - done, kMaxIo));
      if (!::WriteFile(handle_.get(), static_cast<const char*>(data) + done, ask, &put, &o)) {
        ThrowLastError("cannot write", path_);
      }
      done += put;
    }
  }

  uint64_t Size() override {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle_.get(), &size)) ThrowLastError("cannot get the size of", path_);
    return static_cast<uint64_t>(size.QuadPart);
  }

  void Flush() override {
    if (!::FlushFileBuffers(handle_.get())) ThrowLastError("cannot flush", path_);
  }

  void Truncate(uint64_t size) override {
    FILE_END_OF_FILE_INFO info{};
    info.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFileInformationByHandle(handle_.get(), FileEndOfFileInfo, &info, sizeof info)) {
      ThrowLastError("cannot truncate", path_);
    }
  }

  // LockFileEx locks are mandatory for other handles and are not merged: the table engine takes
  // each range once (it counts nested locks itself).
  bool LockRange(uint64_t offset, uint64_t length) override {
    OVERLAPPED o = At(offset);
    if (::LockFileEx(handle_.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                     static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &o)) {
      return true;
    }
    DWORD error = ::GetLastError();
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return false;
    ThrowError("cannot lock", path_, error);
  }

  void UnlockRange(uint64_t offset, uint64_t length) override {
    OVERLAPPED o = At(offset);
    ::UnlockFileEx(handle_.get(), 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32),
                   &o);
  }

 private:
  ScopedHandle handle_;
  std::string path_;
};

// The byte whose lock marks an open file; the table lock protocols stay below 2^32.
constexpr uint64_t kOpenLockOffset = 0x7FFFFFFFFFFFFFF0ull;

// Opens with CreateFileW and makes sure the result is a file on a disk: a device name ("NUL",
// "COM1", "CON.jpg" on older systems) opens a device, which this layer never hands out.
ScopedHandle OpenHandle(const std::string& what, const std::string& path, DWORD access,
                        Share share, DWORD disposition) {
  // FILE_SHARE_DELETE lets this program rename a finished file into the place of one that is
  // open (photo writes); it admits nobody to read or write.
  DWORD share_mode = share == Share::kNone ? FILE_SHARE_READ | FILE_SHARE_DELETE
                                           : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  ScopedHandle h(::CreateFileW(FilePath(path).c_str(), access, share_mode, nullptr, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid()) ThrowLastError(what, path);
  if (::GetFileType(h.get()) != FILE_TYPE_DISK) {
    ThrowError(what, path, ERROR_ACCESS_DENIED, IoErrorKind::kAccessDenied);
  }
  OVERLAPPED o = At(kOpenLockOffset);
  DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (share == Share::kNone ? LOCKFILE_EXCLUSIVE_LOCK : 0);
  if (!::LockFileEx(h.get(), flags, 0, 1, 0, &o)) {
    ThrowError(what, path, ERROR_SHARING_VIOLATION, IoErrorKind::kLocked);
  }
  return h;
}

// The system refuses to write a read-only file, except where its files live on a POSIX file
// system and the process runs as root (wine in CI): the attribute is checked here as well, as
// the Linux side checks the owner's write bit.
void RefuseReadOnly(const std::string& what, const std::string& path) {
  DWORD a = ::GetFileAttributesW(FilePath(path).c_str());
  if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) != 0) {
    ThrowError(what, path, ERROR_ACCESS_DENIED, IoErrorKind::kAccessDenied);
  }
}

// Twelve characters from [0-9A-Za-z] from the system's random source.
std::string RandomSuffix() {
  static constexpr char kAlphabet[] =
      "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  std::random_device device;
  std::string out;
  for (int i = 0; i < 12; ++i) out += kAlphabet[device() % 62];
  return out;
}

DWORD Attributes(const std::string& path) {
  return ::GetFileAttributesW(FilePath(path).c_str());
}

class Win32FileSystem : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, Access access, Share share) override {
    DWORD rights = GENERIC_READ | (access == Access::kReadWrite ? GENERIC_WRITE : 0);
    if (access == Access::kReadWrite) RefuseReadOnly("cannot open", path);
    ScopedHandle h = OpenHandle("cannot open", path, rights, share, OPEN_EXISTING);
    return std::make_unique<Win32File>(std::move(h), path);
  }

  std::unique_ptr<File> Create(const std::string& path) override {
    RefuseReadOnly("cannot create", path);
    ScopedHandle h = OpenHandle("cannot create", path, GENERIC_READ | GENERIC_WRITE, Share::kNone,
                                OPEN_ALWAYS);
    // Emptied only now that the lock is held: a file another program holds keeps its bytes.
    auto file = std::make_unique<Win32File>(std::move(h), path);
    file->Truncate(0);
    return file;
  }

  std::unique_ptr<File> CreateExclusiveTemp(const std::string& folder, const std::string& prefix,
                                            std::string* path_out) override {
    std::string base = folder;
    if (!base.empty() && base.back() != '/' && base.back() != '\\') base += '/';
    // CREATE_NEW never opens an existing name, a planted link included.
    for (int attempt = 0;; ++attempt) {
      *path_out = base + prefix + RandomSuffix();
      try {
        ScopedHandle h = OpenHandle("cannot create", *path_out, GENERIC_READ | GENERIC_WRITE,
                                    Share::kNone, CREATE_NEW);
        return std::make_unique<Win32File>(std::move(h), *path_out);
      } catch (const IoError& e) {
        if (e.code() != ERROR_FILE_EXISTS || attempt == 10) throw;
      }
    }
  }

  void Rename(const std::string& from, const std::string& to) override {
    if (!::MoveFileExW(FilePath(from).c_str(), FilePath(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      ThrowLastError("cannot rename", from);
    }
  }

  void Remove(const std::string& path) override {
    if (!::DeleteFileW(FilePath(path).c_str())) ThrowLastError("cannot delete", path);
  }

  bool Exists(const std::string& path) override {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  bool DirectoryExists(const std::string& path) override {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool IsReadOnly(const std::string& path) override {
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) != 0;
  }

  void SetReadOnly(const std::string& path, bool read_only) override {
    DWORD a = Attributes(path);
    if (a == INVALID_FILE_ATTRIBUTES) ThrowLastError("cannot change the attributes of", path);
    DWORD b = read_only ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~DWORD{FILE_ATTRIBUTE_READONLY});
    if (b == 0) b = FILE_ATTRIBUTE_NORMAL;
    if (b != a && !::SetFileAttributesW(FilePath(path).c_str(), b)) {
      ThrowLastError("cannot change the attributes of", path);
    }
  }

  bool MakeDirectories(const std::string& path) override;

  // The volume serial number and file index, as the system identifies a file.
  bool SameFile(const std::string& a, const std::string& b) override {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return Identity(a, &ia) && Identity(b, &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
  }

 private:
  static bool Identity(const std::string& path, BY_HANDLE_FILE_INFORMATION* info) {
    ScopedHandle h(::CreateFileW(FilePath(path).c_str(), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h.valid() && ::GetFileInformationByHandle(h.get(), info);
  }
};

}  // namespace

FileSystem& FileSystem::Default() {
  static Win32FileSystem fs;
  return fs;
}

IoErrorKind IoErrorKindOf(int code) {
  switch (static_cast<DWORD>(code)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return IoErrorKind::kNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return IoErrorKind::kAccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return IoErrorKind::kLocked;
    default:
      return IoErrorKind::kOther;
  }
}

bool PathExists(const std::string& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

std::optional<FileStamp> RegularFileStamp(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExW(FilePath(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  return FileStamp{(static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow,
                   static_cast<int64_t>((static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                        data.ftLastWriteTime.dwLowDateTime),
                   0};
}

bool Win32FileSystem::MakeDirectories(const std::string& path) {
  std::wstring full = FilePath(path);
  while (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) full.pop_back();
  // Create from the first missing folder down, below the root ("C:\", "\\server\share").
  size_t first;
  if (full.starts_with(L"\\\\?\\UNC\\") || (full.starts_with(L"\\\\") && !full.starts_with(L"\\\\?\\"))) {
    size_t server = full.find(L'\\', full.starts_with(L"\\\\?\\") ? 8 : 2);
    first = server == std::wstring::npos ? std::wstring::npos : full.find(L'\\', server + 1);
    if (first == std::wstring::npos) return DirectoryExists(path);
  } else {
    first = full.find(L'\\', full.starts_with(L"\\\\?\\") ? 7 : 3);
  }
  for (size_t at = first; ; at = full.find(L'\\', at + 1)) {
    std::wstring part = full.substr(0, at);
    DWORD a = ::GetFileAttributesW(part.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
      if (!::CreateDirectoryW(part.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return false;
      }
    } else if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return false;
    }
    if (at == std::wstring::npos) break;
  }
  return DirectoryExists(path);
}

}  // namespace mirestal
