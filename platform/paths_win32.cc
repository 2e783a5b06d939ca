#include <string>

#include "platform/file.h"
#include "platform/paths.h"
#include "platform/win32_util.h"

namespace mirestal {
namespace {

// The program's form of a system path: '/' separators, ending in '/'.
std::string FolderText(std::wstring_view dir) {
  std::string text = win32::Narrow(dir);
  for (char& c : text) {
    if (c == '\\') c = '/';
  }
  if (text.empty() || text.back() != '/') text += '/';
  return text;
}

}  // namespace

std::string ExecutableDirectory() {
  // The module file name can be longer than MAX_PATH; grow the buffer until it fits.
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      DWORD error = ::GetLastError();
      throw IoError("cannot find the executable: " + win32::ErrorText(error),
                    static_cast<int>(error));
    }
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  if (buffer.starts_with(L"\\\\?\\") && !buffer.starts_with(L"\\\\?\\UNC\\")) buffer.erase(0, 4);
  return FolderText(buffer.substr(0, buffer.find_last_of(L"\\/") + 1));
}

std::string UserTempDirectory() {
  // GetTempPathW: %TMP%, %TEMP%, %USERPROFILE% or the Windows folder, ending in '\'.
  wchar_t buffer[MAX_PATH + 2];
  DWORD n = ::GetTempPathW(MAX_PATH + 2, buffer);
  if (n == 0 || n > MAX_PATH + 1) return "./";
  return FolderText(std::wstring_view(buffer, n));
}

std::string ProcessTempDirectory() {
  std::string dir = UserTempDirectory() + "mirestal-" + std::to_string(::GetCurrentProcessId());
  if (!::CreateDirectoryW(win32::FilePath(dir).c_str(), nullptr)) {
    DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      throw IoError("cannot create " + dir + ": " + win32::ErrorText(error),
                    static_cast<int>(error));
    }
  }
  // A left-over name from an earlier process with the same id is reused only when it is a real
  // folder, not a file or a junction planted by someone else. The folder inherits the access
  // rights of the user's temporary folder, which is the user's own.
  DWORD a = ::GetFileAttributesW(win32::FilePath(dir).c_str());
  if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (a & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    throw IoError("cannot use " + dir + ": not a private folder", IoErrorKind::kAccessDenied);
  }
  return dir + "/";
}

}  // namespace mirestal
