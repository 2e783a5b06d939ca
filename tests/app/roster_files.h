// Rosters for the window tests, written as table files in a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/dialogs.h"
#include "capture/video_cap.h"
#include "platform/gbk.h"
#include "tests/testutil/testutil.h"

namespace mirestal::testing {

// End of a window test, after its window is gone: the capture module back at its start, and
// every scripted answer used with no dialog shown that the test did not expect.
inline void ExpectWindowTestSettled(const ScriptedDialogs& dialogs) {
  CaptureResetForTests();
  EXPECT_TRUE(dialogs.unexpected().isEmpty())
      << dialogs.unexpected().join(QLatin1Char('\n')).toStdString();
  EXPECT_TRUE(dialogs.AllAnswersUsed());
}

inline std::string G(const char* utf8) { return Utf8ToGbkLossy(utf8); }

// The key of student i (from 1).
inline std::string KeyOf(int i) { return "2026" + std::to_string(1000000 + i); }

struct RosterSpec {
  int students = 3;
  std::set<int> deleted;       // record numbers marked deleted
  bool with_key = true;        // a 考籍号 field (the second field)
  bool with_name_sex = true;   // 姓名 and 性别 fields
};

// Writes the roster and answers its path.
inline std::string WriteRoster(const TempDir& dir, const std::string& name, const RosterSpec& spec) {
  DbfBuilder b;
  b.Field("SEQ", 'N', 5);
  if (spec.with_key) b.Field(G("考籍号"), 'C', 17);
  if (spec.with_name_sex) b.Field(G("姓名"), 'C', 10).Field(G("性别"), 'C', 2);
  for (int i = 1; i <= spec.students; ++i) {
    std::vector<std::string> values{std::to_string(i)};
    if (spec.with_key) values.push_back(KeyOf(i));
    if (spec.with_name_sex) {
      values.push_back(G("学生") + std::to_string(i));
      values.push_back(G(i % 2 ? "男" : "女"));
    }
    b.Record(values, spec.deleted.count(i) > 0);
  }
  const std::string path = dir.File(name);
  WriteFile(path, b.Build());
  return path;
}

}  // namespace mirestal::testing
