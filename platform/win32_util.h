// Helpers shared by the Win32 side of the platform layer (not a public header): UTF-8 <-> UTF-16,
// paths for the wide file API, system error texts and the owner of a kernel handle.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>

namespace mirestal::win32 {

// Paths and messages are UTF-8 inside the program; the system takes UTF-16. Invalid UTF-8
// converts with U+FFFD in place of the bad bytes (a path with them names no existing file).
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The path as the wide file functions take it: made absolute with '\' separators, and given the
// "\\?\" prefix when it is too long for MAX_PATH, so that long paths work as on Linux.
std::wstring FilePath(const std::string& path);

// The system's text for an error code (one line, without the trailing period and newline).
std::string ErrorText(DWORD error);


// Owns a kernel handle (INVALID_HANDLE_VALUE or nullptr: none).
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : h_(h) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(ScopedHandle&& o) noexcept : h_(o.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& o) noexcept {
    if (this != &o) {
      Close();
      h_ = o.Release();
    }
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  HANDLE get() const { return h_; }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE Release() {
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return h;
  }
  void Close() {
    if (valid()) ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE h_ = INVALID_HANDLE_VALUE;
};

}  // namespace mirestal::win32
