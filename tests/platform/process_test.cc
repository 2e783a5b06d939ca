#include "platform/process.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "platform/file.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using mirestal::testing::ReadFile;
using mirestal::testing::TempDir;

// Alive and not a zombie (an orphan may wait for a parent that never reaps it).
bool Running(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  std::getline(in, stat);
  size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
}

// Gives a killed process a moment to go.
bool StillRunningAfterAWhile(pid_t pid) {
  for (int i = 0; i < 100 && Running(pid); ++i) ::usleep(10000);
  return Running(pid);
}

TEST(ProcessTest, ArgumentsReachTheProgramUntouchedAndItsOutputGoesToFiles) {
  TempDir dir;
  ProcessSpec spec;
  spec.args = {"sh", "-c", "printf '%s|' \"$@\"; pwd; echo oops >&2; exit 3", "sh",
               "a b", "$HOME", "'; rm -rf x'", "高一"};
  spec.working_directory = dir.path();
  spec.stdout_path = dir.File("out");
  spec.stderr_path = dir.File("err");
  ProcessResult result = RunProcess(spec);
  EXPECT_FALSE(result.timed_out);
  EXPECT_EQ(result.exit_code, 3);
  EXPECT_EQ(ReadFile(dir.File("out")), "a b|$HOME|'; rm -rf x'|高一|" + dir.path() + "\n");
  EXPECT_EQ(ReadFile(dir.File("err")), "oops\n");
}

TEST(ProcessTest, TimeOutKillsEveryProcessTheProgramStarted) {
  TempDir dir;
  ProcessSpec spec;
  // The program starts a helper that would outlive it, then hangs.
  spec.args = {"sh", "-c", "sleep 600 & echo $! > \"$1\"; sleep 600", "sh", dir.File("pid")};
  spec.timeout_ms = 300;
  ProcessResult result = RunProcess(spec);
  EXPECT_TRUE(result.timed_out);
  pid_t helper = std::stoi(ReadFile(dir.File("pid")));
  EXPECT_FALSE(StillRunningAfterAWhile(helper));
}

TEST(ProcessTest, HelperLeftBehindByAFinishedProgramIsKilledToo) {
  TempDir dir;
  ProcessSpec spec;
  spec.args = {"sh", "-c", "sleep 600 & echo $! > \"$1\"", "sh", dir.File("pid")};
  EXPECT_EQ(RunProcess(spec).exit_code, 0);
  pid_t helper = std::stoi(ReadFile(dir.File("pid")));
  EXPECT_FALSE(StillRunningAfterAWhile(helper));
}

TEST(ProcessTest, MissingProgramIsAnError) {
  EXPECT_FALSE(FindProgram("mirestal-no-such-program"));
  ProcessSpec spec;
  spec.args = {"/nonexistent/soffice"};
  EXPECT_THROW(RunProcess(spec), IoError);
}

}  // namespace
}  // namespace mirestal
