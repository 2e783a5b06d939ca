// Running another program to completion: an argument list (never a shell), its own process
// group, output into files, and a time limit that ends the whole group.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace mirestal {

struct ProcessSpec {
  // args[0] is the program: a path, or a name looked up in PATH.
  std::vector<std::string> args;
  std::string working_directory;  // empty: the caller's
  // Files that receive standard output and standard error (created or emptied); empty:
  // /dev/null. Standard input is always /dev/null.
  std::string stdout_path;
  std::string stderr_path;
  int timeout_ms = 60000;
  // "NAME=VALUE" entries that replace the caller's variables of that name for the program.
  std::vector<std::string> environment;
};

struct ProcessResult {
  bool timed_out = false;
  int exit_code = -1;  // the exit status when the program exited, else -1
  int signal = 0;      // the signal that ended it, else 0
  // The signal an InterruptScope recorded while the program ran; the group was killed at once.
  int interrupted_by = 0;
};

// While one lives, SIGINT, SIGTERM, SIGHUP and SIGQUIT do not end the process at once: the
// first one is recorded, RunProcess kills its program's group as soon as it sees it, and work
// can ask Pending() to stop early. The destructor of the outermost scope restores the previous
// handlers and then raises the recorded signal again, so the process ends as it would have --
// after the objects inside the scope have removed their temporary files. Not for threads: one
// scope at a time, on the thread that does the work.
class InterruptScope {
 public:
  InterruptScope();
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;
  // The signal recorded since the outermost scope began; 0 when none.
  static int Pending();
};

// Starts the program in a new process group and waits for it. Inside an InterruptScope a
// recorded signal ends the wait as the time limit does (ProcessResult::interrupted_by). When the time limit passes, the
// whole group is killed (SIGKILL) and the result says so. Any process of the group still alive
// after the program itself ended is killed as well, so nothing it started outlives the call.
// Throws IoError when the program cannot be started.
ProcessResult RunProcess(const ProcessSpec& spec);

// The path of an executable program: `name` itself when it contains a '/', else the first
// match in PATH. nullopt when there is none.
std::optional<std::string> FindProgram(const std::string& name);

}  // namespace mirestal
