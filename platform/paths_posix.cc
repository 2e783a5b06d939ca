#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/file.h"
#include "platform/paths.h"

namespace mirestal {

std::string ExecutableDirectory() {
  char buffer[PATH_MAX + 1];
  ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0)
    throw IoError(std::string("cannot find the executable: ") + std::strerror(errno), errno);
  std::string path(buffer, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

std::string UserTempDirectory() {
  const char* tmpdir = std::getenv("TMPDIR");
  std::string dir = (tmpdir && *tmpdir && DirectoryExists(tmpdir)) ? tmpdir : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string ProcessTempDirectory() {
  std::string dir = UserTempDirectory() + "mirestal-" + std::to_string(::getpid());
  // 0700: the frame files are pictures of students; other users have no business with them.
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    int code = errno;
    throw IoError("cannot create " + dir + ": " + std::strerror(code), code);
  }
  // A left-over name from an earlier process with the same id is reused only when it is a real
  // folder of ours, never a link planted by someone else.
  struct stat st;
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
    throw IoError("cannot use " + dir + ": not a private folder", ENOTDIR);
  }
  return dir + "/";
}

}  // namespace mirestal
