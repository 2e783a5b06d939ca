// Folders the program finds for itself: its own executable's folder and the user's temporary
// folder. Paths are UTF-8 on Linux and always end in a separator.
#pragma once

#include <string>

namespace mirestal {

// The folder of the running executable, ending in '/'. Taken from /proc/self/exe; does not
// depend on the working directory. Throws IoError when the executable cannot be found.
std::string ExecutableDirectory();

// The user's temporary folder ($TMPDIR when it names a folder, otherwise /tmp), ending in '/'.
std::string UserTempDirectory();

// A folder of this process's own under the user's temporary folder ("mirestal-<pid>/"), created
// on first use; ends in '/'. Throws IoError when it cannot be created.
std::string ProcessTempDirectory();

}  // namespace mirestal
