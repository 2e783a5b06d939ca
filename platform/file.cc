// The queries and helpers on FileSystem::Default() that are the same on every platform.
#include "platform/file.h"

namespace mirestal {

bool FileExists(const std::string& path) { return FileSystem::Default().Exists(path); }

bool DirectoryExists(const std::string& path) {
  return FileSystem::Default().DirectoryExists(path);
}

bool IsReadOnly(const std::string& path) { return FileSystem::Default().IsReadOnly(path); }

void SetReadOnly(const std::string& path, bool read_only) {
  try {
    FileSystem::Default().SetReadOnly(path, read_only);
  } catch (const IoError&) {
  }
}

void ForceDeleteFile(const std::string& path) {
  SetReadOnly(path, false);
  try {
    FileSystem::Default().Remove(path);
  } catch (const IoError&) {
  }
}

bool ForceDirectories(const std::string& path) {
  return FileSystem::Default().MakeDirectories(path);
}

}  // namespace mirestal
