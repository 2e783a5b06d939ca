// A catalogue of hostile cases against mirestal-cli, beside the damaged-table catalogue: names
// that lead back to the roster, planted links and stale files, named pipes, cross-linked memo
// blocks, texts a memo format cannot give back. Grouped by the file each case guards; in every
// case the roster and its memo file keep every student, and no command hangs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "platform/target_rule.h"
#include "tests/table/write_test_util.h"

namespace mirestal {
namespace {

using testing::DbfBuilder;
using testing::Le32;
using testing::ReadFile;
using testing::RunCommand;
using testing::TempDir;
using testing::WriteFile;
namespace fs = std::filesystem;

// dBase IV roster r.dbf + r.dbt whose deleted record k2 points at the text of the live record k1
// (a damaged table, as another program can leave one).
void CrossLinkedDbase4Roster(const TempDir& dir) {
  DbfBuilder b(0x8B);
  b.Field("K", 'C', 4).Field("M", 'M', 10);
  b.Record({"k1", "1"}).Record({"k2", "1"}, /*deleted=*/true).Record({"k3", ""});
  WriteFile(dir.File("r.dbf"), b.Build());
  std::string memo = testing::EmptyDbase4Memo();
  memo.replace(0, 4, Le32(2));  // the free list starts behind the one text
  std::string text = "text one";
  memo += std::string("\xFF\xFF\x08\x00", 4) + Le32(8 + text.size()) + text;
  memo.resize(1024, '\0');
  WriteFile(dir.File("r.dbt"), memo);
}

void Dbase3Roster(const TempDir& dir) {
  DbfBuilder b(0x83);
  b.Field("K", 'C', 4).Field("M", 'M', 10).Record({"k1", ""});
  WriteFile(dir.File("r.dbf"), b.Build());
  WriteFile(dir.File("r.dbt"), testing::EmptyDbase3Memo());
}

// Visual FoxPro date-times: day number and milliseconds, little-endian.
void VfpDateTimeRoster(const TempDir& dir) {
  DbfBuilder b(0x30);
  b.Field("K", 'C', 2).Field("T", 'T', 8);
  b.Record({"ok", Le32(2451545) + Le32(3723000)});     // 2000-01-01 01:02:03
  b.Record({"lo", Le32(1) + Le32(0)});                 // 4713 BC
  b.Record({"hi", Le32(0xFFFFFFFF) + Le32(0)});        // far beyond 9999
  b.Record({"ms", Le32(2451545) + Le32(0xFFFFFFFF)});  // a time of day past its end
  WriteFile(dir.File("r.dbf"), b.Build());
}

struct Hostile {
  const char* name;
  std::function<void(const TempDir&)> roster;
  std::function<void(const TempDir&)> plant;  // what the hostile side leaves beside it
  std::string args;                           // "%D" is the folder
  int status;
  std::string output;                         // standard output and error; "%D" is the folder
  bool roster_kept;                           // r.dbf and r.dbt byte for byte as they were
  std::function<void(const TempDir&)> check;  // more to check afterwards
};

std::string WithFolder(std::string text, const std::string& folder) {
  for (size_t at; (at = text.find("%D")) != std::string::npos;) text.replace(at, 2, folder);
  return text;
}

void MakeFifo(const std::string& path) { ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path; }

std::string Cli(const std::string& args) {
  // A hang is a failure of its own (status 124), not a test that never ends.
  return "timeout 60 " + std::string(std::getenv("MIRESTAL_CLI")) + " " + args + " 2>&1";
}

TEST(HostileInputs, EachIsRefusedOrHandledWithoutLoss) {
  // Targets are refused by the shared rule before the roster is opened.
  const std::string kTable = kMsgTargetIsTable, kNotFile = kMsgTargetNotAFile;
  const auto none = [](const TempDir&) {};
  const std::string long_text(65520, 'a');
  const std::vector<Hostile> catalogue = {
      // --- The roster and its memo file, named as an export's target ---
      {"export onto the roster", CrossLinkedDbase4Roster, none, "export %D/r.dbf %D/r.dbf", 1,
       kTable + "\n%D/r.dbf\n", true, nullptr},
      {"export onto the roster spelled otherwise", CrossLinkedDbase4Roster, none,
       "export %D/r.dbf %D/./r.dbf", 1, kTable + "\n%D/./r.dbf\n",
       true, nullptr},
      {"export onto a link to the roster", CrossLinkedDbase4Roster,
       [](const TempDir& d) { fs::create_symlink(d.File("r.dbf"), d.File("book.xls")); },
       "export %D/r.dbf %D/book.xls", 1, kTable + "\n%D/book.xls\n",
       true, nullptr},
      {"export onto the memo file", CrossLinkedDbase4Roster, none, "export %D/r.dbf %D/r.dbt", 1,
       kTable + "\n%D/r.dbt\n", true, nullptr},
      {"export of a read-only roster", CrossLinkedDbase4Roster,
       [](const TempDir& d) { ::chmod(d.File("r.dbf").c_str(), 0444); },
       "export %D/r.dbf %D/book.xls", 0, "2 records exported\n", true,
       [](const TempDir& d) { EXPECT_TRUE(fs::is_regular_file(d.File("book.xls"))); }},
      // --- The workbook target: only a regular file is replaced, and only by a whole workbook ---
      {"export onto a named pipe", CrossLinkedDbase4Roster,
       [](const TempDir& d) { MakeFifo(d.File("book.xls")); }, "export %D/r.dbf %D/book.xls", 1,
       kNotFile + "\n%D/book.xls\n", true,
       [](const TempDir& d) { EXPECT_TRUE(fs::is_fifo(d.File("book.xls"))); }},
      {"export onto a folder", CrossLinkedDbase4Roster,
       [](const TempDir& d) { fs::create_directory(d.File("book.xls")); },
       "export %D/r.dbf %D/book.xls", 1, kNotFile + "\n%D/book.xls\n", true,
       nullptr},
      // --- The temporary file of pack ---
      {"pack beside a planted link and a stale file", CrossLinkedDbase4Roster,
       [](const TempDir& d) {
         WriteFile(d.File("victim"), "victim");
         fs::create_symlink(d.File("victim"), d.File("r.dbf.pack-tmp"));
         WriteFile(d.File("r.dbf.pack-tmp-Xa3kQ9"), "left by a killed pack");
       },
       "pack %D/r.dbf", 0, "1 deleted record removed\n", false,
       [](const TempDir& d) {
         EXPECT_EQ(ReadFile(d.File("victim")), "victim");
         EXPECT_TRUE(fs::is_symlink(d.File("r.dbf.pack-tmp")));
         EXPECT_FALSE(fs::is_symlink(d.File("r.dbf")));
         EXPECT_EQ(testing::FileNames(d.path()),
                   (std::vector<std::string>{"r.dbf", "r.dbf.pack-tmp", "r.dbt", "victim"}));
       }},
      // --- The memo file ---
      {"pack of a deleted record sharing a kept record's text", CrossLinkedDbase4Roster, none,
       "pack %D/r.dbf", 0, "1 deleted record removed\n", false,
       [](const TempDir& d) {
         std::string out;
         EXPECT_EQ(RunCommand(Cli("dump " + d.File("r.dbf")), &out), 0);
         EXPECT_EQ(out, "K\tM\nk1\ttext one\nk3\t\n");
         EXPECT_EQ(testing::GetLe32(ReadFile(d.File("r.dbt")), 0), 2u) << "text given back";
       }},
      {"memo file that is a named pipe", CrossLinkedDbase4Roster,
       [](const TempDir& d) {
         fs::remove(d.File("r.dbt"));
         MakeFifo(d.File("r.dbt"));
       },
       "dump %D/r.dbf", 1, "Access denied to file %D/r.dbt\n", false, nullptr},
      {"dBase III memo text longer than the format gives back", Dbase3Roster, none,
       "set %D/r.dbf 1 M " + long_text, 1,
       "Text of 65520 bytes is too long for memo field M: a dBase III memo holds at most 65519 "
       "bytes\n",
       true, nullptr},
      {"dBase III memo text holding its end mark", Dbase3Roster, none,
       "set %D/r.dbf 1 M \"$(printf 'a\\032b')\"", 1,
       "Memo field M cannot hold the byte 0x1A: it ends a text in a dBase III memo\n", true,
       nullptr},
      {"dBase III memo text of the longest length", Dbase3Roster, none,
       "set %D/r.dbf 1 M " + long_text.substr(1), 0, long_text.substr(1) + "\n", false, nullptr},
      // --- The table file ---
      {"table that is a named pipe", none, [](const TempDir& d) { MakeFifo(d.File("p.dbf")); },
       "info %D/p.dbf", 1, "Cannot find file %D/p.dbf\n", true, nullptr},
      {"date-times outside the years 1 to 9999", VfpDateTimeRoster, none, "dump %D/r.dbf", 0,
       "K\tT\nok\t2000/1/1 1:02:03\nlo\t\nhi\t\nms\t\n", true, nullptr},
  };
  for (const Hostile& h : catalogue) {
    SCOPED_TRACE(h.name);
    TempDir dir;
    h.roster(dir);
    const auto read = [&](const char* name) {
      return fs::exists(dir.File(name)) && fs::is_regular_file(dir.File(name))
                 ? ReadFile(dir.File(name))
                 : std::string();
    };
    const std::string dbf = read("r.dbf"), dbt = read("r.dbt");
    h.plant(dir);
    std::string out;
    EXPECT_EQ(RunCommand(Cli(WithFolder(h.args, dir.path())), &out), h.status);
    EXPECT_EQ(out, WithFolder(h.output, dir.path()));
    if (h.roster_kept) {
      EXPECT_EQ(read("r.dbf"), dbf);
      EXPECT_EQ(read("r.dbt"), dbt);
    }
    if (h.check) h.check(dir);
  }
}

}  // namespace
}  // namespace mirestal
