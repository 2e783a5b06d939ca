#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "platform/file.h"
#include "platform/process.h"

extern char** environ;

namespace mirestal {
namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// posix_spawn's attribute and file-action objects, released on every path.
class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawnattr_init(&attr_);
    ::posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  posix_spawnattr_t* attr() { return &attr_; }
  posix_spawn_file_actions_t* actions() { return &actions_; }

 private:
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

volatile sig_atomic_t g_interrupt = 0;
int g_scope_depth = 0;
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
struct sigaction g_previous[4];

extern "C" void RecordInterrupt(int sig) {
  if (g_interrupt == 0) g_interrupt = sig;
}

// The caller's environment with `overrides` ("NAME=VALUE") in place of the same names.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
  std::vector<std::string> merged;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& o : overrides) replaced = replaced || o.rfind(name, 0) == 0;
    if (!replaced) merged.push_back(entry);
  }
  merged.insert(merged.end(), overrides.begin(), overrides.end());
  return merged;
}

void SleepMs(int ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace

std::optional<std::string> FindProgram(const std::string& name) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos) {
    if (IsExecutableFile(name)) return name;
    return std::nullopt;
  }
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    std::string candidate = dir + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return std::nullopt;
}

ProcessResult RunProcess(const ProcessSpec& spec) {
  if (spec.args.empty()) throw IoError("no program to run", EINVAL);
  std::optional<std::string> program = FindProgram(spec.args[0]);
  if (!program) throw IoError("cannot run " + spec.args[0] + ": program not found", ENOENT);

  SpawnSetup setup;
  // Its own group (process group id = its pid), so that a time-out can end every process the
  // program started, not only the first one.
  ::posix_spawnattr_setpgroup(setup.attr(), 0);
  ::posix_spawnattr_setflags(setup.attr(), POSIX_SPAWN_SETPGROUP);
  const int out_flags = O_WRONLY | O_CREAT | O_TRUNC;
  ::posix_spawn_file_actions_addopen(setup.actions(), 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(
      setup.actions(), 1, spec.stdout_path.empty() ? "/dev/null" : spec.stdout_path.c_str(),
      out_flags, 0600);
  ::posix_spawn_file_actions_addopen(
      setup.actions(), 2, spec.stderr_path.empty() ? "/dev/null" : spec.stderr_path.c_str(),
      out_flags, 0600);
  if (!spec.working_directory.empty()) {
    ::posix_spawn_file_actions_addchdir_np(setup.actions(), spec.working_directory.c_str());
  }

  std::vector<char*> argv;
  for (const std::string& arg : spec.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  std::vector<std::string> env_texts;
  std::vector<char*> envp;
  if (!spec.environment.empty()) {
    env_texts = MergedEnvironment(spec.environment);
    for (std::string& e : env_texts) envp.push_back(e.data());
    envp.push_back(nullptr);
  }

  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, program->c_str(), setup.actions(), setup.attr(), argv.data(),
                         envp.empty() ? environ : envp.data());
  if (rc != 0) throw IoError("cannot run " + *program + ": " + std::strerror(rc), rc);

  ProcessResult result;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(spec.timeout_ms);
  int pause_ms = 5;
  for (;;) {
    // WNOWAIT leaves the ended program a zombie, so its pid (and with it the group id) cannot be
    // taken by another process before the group has been killed below.
    siginfo_t info{};
    int waited = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (waited == 0 && info.si_pid == pid) break;
    if (waited != 0 && errno != EINTR) break;
    if (g_interrupt != 0) {
      result.interrupted_by = g_interrupt;
      break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      result.timed_out = true;
      break;
    }
    SleepMs(pause_ms);
    if (pause_ms < 100) pause_ms *= 2;
  }
  ::kill(-pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!result.timed_out && result.interrupted_by == 0) {
    if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  }
  return result;
}

InterruptScope::InterruptScope() {
  if (g_scope_depth++ > 0) return;
  g_interrupt = 0;
  struct sigaction action {};
  action.sa_handler = RecordInterrupt;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kInterruptSignals); ++i) {
    ::sigaction(kInterruptSignals[i], &action, &g_previous[i]);
  }
}

InterruptScope::~InterruptScope() {
  if (--g_scope_depth > 0) return;
  for (size_t i = 0; i < std::size(kInterruptSignals); ++i) {
    ::sigaction(kInterruptSignals[i], &g_previous[i], nullptr);
  }
  const int sig = g_interrupt;
  g_interrupt = 0;
  if (sig != 0) ::raise(sig);
}

int InterruptScope::Pending() { return g_interrupt; }

}  // namespace mirestal
