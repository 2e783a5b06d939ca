// The shared target rule through every command that writes a file the operator names: each
// forbidden target under each form of its name is refused with the rule's message, exit status
// 1, and the file (or folder) it names keeps its bytes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "capture/jpeg.h"
#include "capture/testcard.h"
#include "platform/gbk.h"
#include "platform/target_rule.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

namespace stdfs = std::filesystem;

std::string Cli() {
  const char* dir = std::getenv("MIRESTAL_BINARY_DIR");
  return std::string(dir ? dir : ".") + "/tools/mirestal-cli/mirestal-cli";
}

// Every file under `dir` with its bytes, so that a test sees any change anywhere.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : stdfs::recursive_directory_iterator(dir)) {
    if (!e.is_symlink() && e.is_regular_file()) files[e.path().string()] = testing::ReadFile(e.path().string());
  }
  return files;
}

class CliTargetTest : public ::testing::Test {
 protected:
  CliTargetTest() {
    // The program's own copy in the folder, so that its photo folder (beside the program, for
    // export and xls2dbf) is this one.
    stdfs::copy_file(Cli(), dir_.File("mirestal-cli"));
    stdfs::create_directories(dir_.File("照片"));
    const Bitmap face = CopyRect(RenderTestCard(640, 480, 0), 168, 38, 300, 400);
    testing::WriteFile(dir_.File("照片/20110001.jpg"), EncodeJpeg(face));
    testing::WriteFile(dir_.File("照片/b.xls"), "workbook in the photo folder");
    testing::WriteFile(dir_.File("b.xls"), "workbook");
    testing::WriteFile(dir_.File("roster.dbf"), testing::DbfBuilder()
                                                    .Field(*Utf8ToGbk("考籍号"), 'C', 17)
                                                    .Record({"20110001"})
                                                    .Build());
    // A memo file beside the roster: protected by its name and as the roster's.
    testing::WriteFile(dir_.File("roster.dbt"), std::string(512, '\0'));
    testing::WriteFile(dir_.File("other.dbf"), "another table");
    testing::WriteFile(dir_.File("kept.out"), "read-only report");
    testing::WriteFile(dir_.File("b.dbf"), "read-only table");
    ::chmod(dir_.File("kept.out").c_str(), 0444);
    ::chmod(dir_.File("b.dbf").c_str(), 0444);
    stdfs::create_directory_symlink(dir_.File("照片"), dir_.File("pics"));
  }

  testing::TempDir dir_;
};

TEST_F(CliTargetTest, EveryCommandRefusesEveryForbiddenTargetUnderEveryName) {
  struct Target {
    const char* name;      // relative to the folder
    const char* message;
  } targets[] = {
      {"roster.dbf", kMsgTargetIsTable},        {"roster.dbt", kMsgTargetIsTable},
      {"other.dbf", kMsgTargetIsTable},         {"照片/20110001.jpg", kMsgTargetInPhotoFolder},
      {"照片", kMsgTargetInPhotoFolder},        {"kept.out", kMsgTargetReadOnly},
  };
  // A name form turns the target's name into what the operator types (after making any link).
  const char* forms[] = {"plain", "./", "link", "other case"};
  const char* commands[] = {"export roster.dbf %s", "check roster.dbf --program-dir . --xls %s",
                            "package roster.dbf %s --program-dir ."};
  const auto before = Snapshot(dir_.path());
  int n = 0;
  for (const char* command : commands) {
    for (const Target& t : targets) {
      for (const std::string form : forms) {
        std::string name = t.name;
        if (form == "./") name = "./" + name;
        if (form == "link") {
          name = "link" + std::to_string(++n) + ".out";
          stdfs::create_symlink(dir_.File(t.name), dir_.File(name));
        }
        if (form == "other case") {
          for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        // Upper case on a folder that keeps case names another (new) file: only the names that
        // lead to a protected file or folder must be refused there.
        if (form == "other case" && !stdfs::exists(dir_.File(name)) &&
            t.message == kMsgTargetReadOnly) {
          continue;
        }
        std::string args(512, '\0');
        args.resize(std::snprintf(args.data(), args.size(), command, ("'" + name + "'").c_str()));
        std::string out;
        const int status = testing::RunCommand(
            "cd '" + dir_.path() + "' && ./mirestal-cli " + args + " 2>&1", &out);
        EXPECT_EQ(status, 1) << args << "\n" << out;
        EXPECT_EQ(out, std::string(t.message) + "\n" + name + "\n") << args;
      }
    }
  }
  EXPECT_EQ(Snapshot(dir_.path()), before);
}

TEST_F(CliTargetTest, TheConversionsTableFollowsTheSameRule) {
  struct Case {
    const char* book;
    std::string message;
  } cases[] = {
      {"照片/b.xls", std::string(kMsgTargetInPhotoFolder) + "\n" + dir_.File("照片/b.dbf")},
      {"pics/b.xls", std::string(kMsgTargetInPhotoFolder) + "\n" + dir_.File("pics/b.dbf")},
      {"./b.xls", std::string(kMsgTargetReadOnly) + "\n" + dir_.File("./b.dbf")},
  };
  const auto before = Snapshot(dir_.path());
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(testing::RunCommand("cd '" + dir_.path() + "' && ./mirestal-cli xls2dbf '" +
                                      std::string(c.book) + "' 2>&1",
                                  &out),
              1);
    EXPECT_EQ(out, c.message + "\n") << c.book;
  }
  EXPECT_EQ(Snapshot(dir_.path()), before);
}

}  // namespace
}  // namespace mirestal
