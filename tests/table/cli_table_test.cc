// mirestal-cli info and dump, and dump compared with an independent reader (dbfread) on tables
// of every accepted version, with deleted records and GBK names and values.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/table/write_test_util.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

using testing::Be32;
using testing::DbfBuilder;
using testing::Le32;
using testing::RunCommand;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

std::string Cli() { return std::getenv("MIRESTAL_CLI"); }

std::string Pad(std::string s, size_t n) {
  s.resize(n, '\0');
  return s;
}

const std::string kKey = "\xBF\xBC\xBC\xAE\xBA\xC5";   // 考籍号
const std::string kName = "\xD0\xD5\xC3\xFB";           // 姓名
const std::string kWang = "\xCD\xF5\xD0\xA1\xC3\xF7";   // 王小明

std::string Dump(const std::string& path, int* status) {
  std::string out;
  *status = RunCommand(Cli() + " dump '" + path + "' 2>&1", &out);
  return out;
}

std::string Reference(const std::string& path) {
  std::string out;
  int status = RunCommand("/usr/bin/python3 " + SourceDir() + "/tests/table/dbfread_dump.py '" +
                              path + "'",
                          &out);
  EXPECT_EQ(status, 0) << out;
  return out;
}

TEST(CliDump, AgreesWithAnIndependentReaderForEveryVersion) {
  TempDir dir;
  for (uint8_t version : {0x03, 0x04, 0x83, 0x8B, 0xF5, 0x30}) {
    SCOPED_TRACE(static_cast<int>(version));
    bool memo = version != 0x03 && version != 0x04;
    DbfBuilder b(version);
    b.Field(kKey, 'C', 17).Field(kName, 'C', 10).Field("SCORE", 'N', 6, 2).Field("AGE", 'N', 3)
        .Field("BIRTH", 'D', 8).Field("OK", 'L', 1);
    if (memo) b.Field("NOTE", 'M', version == 0x30 ? 4 : 10);
    if (version == 0x30) b.Field("CNT", 'I', 4).Flags(0x02);
    auto block = [&](uint32_t n) { return version == 0x30 ? Le32(n) : std::to_string(n); };
    std::vector<std::vector<std::string>> rows = {
        {"110101200800001", kWang, "3.5", "17", "20080105", "T", block(1), Le32(7)},
        {"110101200800002", "A\tB\\C", "-12.25", "-3", "", "F", block(0), Le32(0)},
        {"110101200800003", "gone", "1", "1", "20080101", "T", block(0), Le32(1)},
        {"110101200800004", "", "", "", "19991231", " ", block(2), Le32(0xFFFFFFFF)},
    };
    for (size_t i = 0; i < rows.size(); ++i) {
      if (!memo) rows[i].resize(6);
      if (memo && version != 0x30) rows[i].resize(7);
      b.Record(rows[i], i == 2);
    }
    std::string path = dir.File("v" + std::to_string(version) + ".dbf");
    WriteFile(path, b.Build());
    std::string memo1 = "line1\r\n" + kWang, memo2 = "second";
    if (version == 0x83) {
      WriteFile(dir.File("v131.dbt"), Pad(Le32(3), 512) + Pad(memo1 + "\x1A\x1A", 512) +
                                           Pad(memo2 + "\x1A\x1A", 512));
    } else if (version == 0x8B) {
      auto text = [](const std::string& t) { return std::string("\xFF\xFF\x08\x00", 4) + Le32(8 + t.size()) + t; };
      WriteFile(dir.File("v139.dbt"), Pad(Le32(3) + std::string(16, '\0') + Le32(512), 512) +
                                           Pad(text(memo1), 512) + Pad(text(memo2), 512));
    } else if (version == 0xF5 || version == 0x30) {
      auto text = [](const std::string& t) { return Be32(1) + Be32(t.size()) + t; };
      WriteFile(dir.File("v" + std::to_string(version) + ".fpt"),
                Pad(Be32(3) + Be32(512), 512) + Pad(text(memo1), 512) + Pad(text(memo2), 512));
    }
    int status;
    std::string ours = Dump(path, &status);
    EXPECT_EQ(status, 0) << ours;
    EXPECT_EQ(ours, Reference(path));
  }
}

TEST(CliDump, SampleRosterMatchesTheIndependentReader) {
  std::string roster = SourceDir() + "/examples/roster.dbf";
  int status;
  std::string ours = Dump(roster, &status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ours, Reference(roster));
  std::string info;
  EXPECT_EQ(RunCommand(Cli() + " info " + roster, &info), 0);
  EXPECT_NE(info.find("version: 0x03\n"), std::string::npos) << info;
  EXPECT_NE(info.find("  考籍号\tC\t17\t0\n"), std::string::npos) << info;
  EXPECT_NE(info.find("visible records: 116\n"), std::string::npos) << info;
}

TEST(CliDump, ErrorsAndUsage) {
  TempDir dir;
  std::string out;
  EXPECT_EQ(RunCommand(Cli() + " dump " + dir.File("none.dbf") + " 2>&1", &out), 1);
  EXPECT_EQ(out, "Cannot find file " + dir.File("none.dbf") + "\n");
  // A dump that cannot be written is a failure, not a short dump.
  EXPECT_EQ(RunCommand(Cli() + " dump " + SourceDir() + "/examples/roster.dbf 2>&1 >/dev/full",
                       &out), 1);
  EXPECT_EQ(out, "cannot write the dump to standard output\n");
  EXPECT_EQ(RunCommand(Cli() + " dump 2>/dev/null", &out), 2);
  EXPECT_EQ(RunCommand(Cli() + " frobnicate 2>/dev/null", &out), 2);
}

}  // namespace
}  // namespace mirestal
