// Folders the program finds for itself: its own executable's folder and the user's temporary
// folder; and the one conversion between the program's path texts and std::filesystem.
//
// Paths are UTF-8 texts on both systems, with '/' as the separator (Windows accepts it as well;
// the Win32 side converts to UTF-16 at the system call). Folders always end in '/'.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace mirestal {

// A path text as a std::filesystem path, and back with '/' separators. On Windows the narrow
// std::filesystem conversions use the ANSI code page, which garbles UTF-8: go through these.
inline std::filesystem::path FsPath(std::string_view utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string Utf8Path(const std::filesystem::path& path) {
  std::u8string s = path.generic_u8string();
  return std::string(s.begin(), s.end());
}

// A path text as the operator sees it: the system's own separators ('\' on Windows, where the
// program's texts use '/'), so that a path shown beside fixed texts reads like them. For showing
// only; files are always opened with the program's form.
inline std::string DisplayPath(std::string_view path) {
  std::string text(path);
#ifdef _WIN32
  for (char& c : text) {
    if (c == '/') c = '\\';
  }
#endif
  return text;
}

// The folder of the running executable, ending in '/'. Taken from /proc/self/exe; does not
// depend on the working directory. Throws IoError when the executable cannot be found.
std::string ExecutableDirectory();

// The user's temporary folder ($TMPDIR when it names a folder, otherwise /tmp), ending in '/'.
std::string UserTempDirectory();

// A folder of this process's own under the user's temporary folder ("mirestal-<pid>/"), created
// on first use; ends in '/'. Throws IoError when it cannot be created.
std::string ProcessTempDirectory();

}  // namespace mirestal
