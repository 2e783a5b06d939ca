// A child process packs a table, or posts new students into it, and is killed with SIGKILL at a
// random moment; after every kill the table opens and holds every student exactly once. The
// suite runs a small table and a bounded number of kills; MIRESTAL_CRASH_KILLS raises the count.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "table/dataset.h"
#include "tests/table/write_test_util.h"

namespace mirestal {
namespace {

using testing::DbfBuilder;
using testing::OpenForMaintenance;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

int Kills() {
  const char* n = std::getenv("MIRESTAL_CRASH_KILLS");
  return n ? std::max(1, std::atoi(n)) : 15;
}

// Key -> how many visible records carry it, read by a fresh dataset.
std::map<std::string, int> VisibleKeys(const std::string& path, int* count) {
  TTableDataSet ds;
  OpenForMaintenance(ds, path);
  std::map<std::string, int> keys;
  for (ds.First(); !ds.Eof(); ds.Next()) ++keys[ds.FieldByName("KEY").AsString()];
  *count = ds.RecordCount();
  EXPECT_EQ(*count, ds.CountVisibleByScan());
  return keys;
}

// Runs `work` in a child process, kills it after `delay` unless it has ended; returns true when
// it was killed.
bool RunAndKill(const std::function<void()>& work, std::chrono::microseconds delay) {
  pid_t pid = fork();
  if (pid == 0) {
    try {
      work();
    } catch (...) {
      _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + delay;
  while (std::chrono::steady_clock::now() < deadline) {
    if (waitpid(pid, &status, WNOHANG) == pid) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child's work failed";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  bool killed = ::kill(pid, SIGKILL) == 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) {
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's work failed";
    return false;
  }
  return killed && WIFSIGNALED(status);
}

class Crash : public ::testing::Test {
 protected:
  std::string Path() const { return dir_.File("roster.dbf"); }
  TempDir dir_;
  std::mt19937 random_{std::random_device{}()};
};

TEST_F(Crash, KilledPackLeavesEveryStudentExactlyOnce) {
  constexpr int kStudents = 20000;
  DbfBuilder b;
  b.Field("KEY", 'C', 10).Field("NAME", 'C', 20).Field("N", 'N', 6);
  std::map<std::string, int> expected;
  for (int i = 1; i <= kStudents; ++i) {
    bool marked = i % 5 == 1;  // the first record is marked: every record moves
    b.Record({"k" + std::to_string(i), "student " + std::to_string(i), std::to_string(i)}, marked);
    if (!marked) expected["k" + std::to_string(i)] = 1;
  }
  const std::string original = b.Build();
  auto pack = [&] {
    TTableDataSet ds;
    OpenForMaintenance(ds, Path());
    ds.Pack();
  };
  // How long one pack takes here, so that the kills spread over it.
  WriteFile(Path(), original);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(RunAndKill(pack, std::chrono::seconds(5)));
  auto span = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  std::uniform_int_distribution<int64_t> delay(0, span.count() * 3 / 2);

  int killed = 0;
  for (int round = 0; round < Kills(); ++round) {
    WriteFile(Path(), original);
    if (RunAndKill(pack, std::chrono::microseconds(delay(random_)))) ++killed;
    int count = 0;
    EXPECT_EQ(VisibleKeys(Path(), &count), expected) << "round " << round;
    EXPECT_EQ(count, static_cast<int>(expected.size()));
    // Either the old table or the packed one.
    std::string file = ReadFile(Path());
    EXPECT_TRUE(file == original || file.size() == static_cast<size_t>(b.HeaderLength()) +
                                                       expected.size() * b.RecordLength() + 1)
        << "round " << round;
  }
  RecordProperty("kills", killed);
  EXPECT_GT(killed, 0) << "no kill landed during a pack";
}

TEST_F(Crash, KilledPostsLeaveEveryPostedStudentExactlyOnce) {
  DbfBuilder b;
  b.Field("KEY", 'C', 10).Field("NAME", 'C', 20).Field("N", 'N', 6);
  for (int i = 1; i <= 50; ++i) b.Record({"k" + std::to_string(i), "old", std::to_string(i)});
  WriteFile(Path(), b.Build());
  std::map<std::string, int> expected;
  for (int i = 1; i <= 50; ++i) expected["k" + std::to_string(i)] = 1;

  int next = 1;
  std::uniform_int_distribution<int> delay_us(0, 60000);
  for (int round = 0; round < Kills(); ++round) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const int first = next;
    // The child posts new students one at a time and reports each post that returned.
    auto post = [&, first] {
      ::close(fds[0]);
      TTableDataSet ds;
      OpenForMaintenance(ds, Path());
      for (int k = first; k < first + 100000; ++k) {
        ds.Append();
        ds.FieldByName("KEY").SetAsString("p" + std::to_string(k));
        ds.FieldByName("NAME").SetAsString("new");
        ds.FieldByName("N").SetAsInteger(k % 100000);
        ds.Post();
        if (::write(fds[1], &k, sizeof k) != sizeof k) _exit(4);
      }
    };
    RunAndKill(post, std::chrono::microseconds(delay_us(random_)));
    ::close(fds[1]);
    int k;
    int confirmed = first - 1;
    while (::read(fds[0], &k, sizeof k) == sizeof k) confirmed = k;
    ::close(fds[0]);
    for (int i = first; i <= confirmed; ++i) expected["p" + std::to_string(i)] = 1;

    int count = 0;
    auto seen = VisibleKeys(Path(), &count);
    // The post in flight when the kill came may have landed; nothing else is extra.
    std::string in_flight = "p" + std::to_string(confirmed + 1);
    if (seen.count(in_flight)) {
      EXPECT_EQ(seen[in_flight], 1) << "round " << round;
      expected[in_flight] = 1;
      ++confirmed;
    }
    EXPECT_EQ(seen, expected) << "round " << round;
    EXPECT_EQ(count, static_cast<int>(expected.size()));
    next = confirmed + 1;
  }
}

}  // namespace
}  // namespace mirestal
