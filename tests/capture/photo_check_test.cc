#include "capture/photo_check.h"

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "capture/jpeg.h"
#include "capture/photo_package.h"
#include "capture/testcard.h"
#include "platform/gbk.h"
#include "platform/paths.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

Bitmap Face(int w, int h) { return CopyRect(RenderTestCard(800, 600, 3), 10, 10, w, h); }

// Encodes through libjpeg with the colour space and scan layout the store never writes.
std::string EncodeAs(const Bitmap& rgb, J_COLOR_SPACE space, bool progressive) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(rgb.width);
  cinfo.image_height = static_cast<JDIMENSION>(rgb.height);
  cinfo.input_components = space == JCS_CMYK ? 4 : space == JCS_GRAYSCALE ? 1 : 3;
  cinfo.in_color_space = space;
  jpeg_set_defaults(&cinfo);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(static_cast<size_t>(rgb.width) * 4);
  while (cinfo.next_scanline < cinfo.image_height) {
    const unsigned char* src = rgb.Row(static_cast<int>(cinfo.next_scanline));
    for (int x = 0; x < rgb.width; ++x) {
      for (int c = 0; c < cinfo.input_components; ++c)
        row[x * cinfo.input_components + c] = src[x * 3 + c % 3];
    }
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string bytes(reinterpret_cast<char*>(out), size);
  std::free(out);
  return bytes;
}

// A valid photo with the frame header's height and width set to 60000.
std::string HugeHeader(std::string jpeg) {
  const size_t sof = jpeg.find("\xFF\xC0");
  for (size_t at : {sof + 5, sof + 7}) {
    jpeg[at] = '\xEA';
    jpeg[at + 1] = '\x60';
  }
  return jpeg;
}

std::string Damaged(std::string jpeg) {
  for (size_t i = jpeg.size() / 2; i < jpeg.size() / 2 + 40; ++i) jpeg[i] = 0x55;
  return jpeg;
}

using Defects = std::vector<PhotoDefect>;

TEST(PhotoCheckTest, EveryKindOfBadPhotoGetsItsReason) {
  testing::TempDir dir;
  PhotoStore store(dir.path());
  const std::string folder = store.PhotoFolder();
  ASSERT_TRUE(std::filesystem::create_directories(FsPath(folder)));
  const std::string good = EncodeJpeg(Face(300, 400));
  const auto file = [&](std::string bytes) {
    return [bytes](const std::string& path) { testing::WriteFile(path, bytes); };
  };
  testing::WriteFile(dir.File("outside.jpg"), good);

  struct Case {
    const char* key;
    std::function<void(const std::string& path)> make;  // null: no file
    StudentPhotoState state;
    Defects defects;
  } cases[] = {
      {"valid", file(good), StudentPhotoState::kValid, {}},
      {"within-one-pixel", file(EncodeJpeg(Face(301, 400))), StudentPhotoState::kValid, {}},
      {"ratio",
       file(EncodeJpeg(Face(300, 300))),
       StudentPhotoState::kInvalid,
       {PhotoDefect::kRatio}},
      {"damaged", file(Damaged(good)), StudentPhotoState::kInvalid, {PhotoDefect::kDamaged}},
      {"truncated",
       file(good.substr(0, good.size() / 2)),
       StudentPhotoState::kInvalid,
       {PhotoDefect::kDamaged}},
      {"not-jpeg", file("GIF89a..."), StudentPhotoState::kInvalid, {PhotoDefect::kNotJpeg}},
      {"cmyk",
       file(EncodeAs(Face(300, 400), JCS_CMYK, false)),
       StudentPhotoState::kInvalid,
       {PhotoDefect::kCmyk}},
      {"grey",
       file(EncodeAs(Face(300, 400), JCS_GRAYSCALE, false)),
       StudentPhotoState::kInvalid,
       {PhotoDefect::kGreyscale}},
      {"progressive",
       file(EncodeAs(Face(300, 400), JCS_RGB, true)),
       StudentPhotoState::kInvalid,
       {PhotoDefect::kProgressive}},
      {"huge-header",
       file(HugeHeader(good)),
       StudentPhotoState::kInvalid,
       {PhotoDefect::kHugeHeader}},
      {"zero-bytes", file(""), StudentPhotoState::kInvalid, {PhotoDefect::kEmpty}},
      {"over-limit",
       file(good + std::string(kDefaultMaxPhotoBytes, '\0')),
       StudentPhotoState::kInvalid,
       {PhotoDefect::kOverLimit}},
      {"folder",
       [](const std::string& p) { std::filesystem::create_directory(FsPath(p)); },
       StudentPhotoState::kInvalid,
       {PhotoDefect::kFolder}},
#ifndef _WIN32  // symbolic links need a privilege on Windows
      {"link-outside",
       [&](const std::string& p) { std::filesystem::create_symlink(dir.File("outside.jpg"), p); },
       StudentPhotoState::kInvalid,
       {PhotoDefect::kLink}},
#endif
      {"missing", nullptr, StudentPhotoState::kMissing, {}},
      {"a/b", nullptr, StudentPhotoState::kRefusedKey, {}},
      {"", nullptr, StudentPhotoState::kRefusedKey, {}},
  };
  std::vector<RosterStudent> roster;
  for (const Case& c : cases) {
    roster.push_back({static_cast<int>(roster.size()) + 1, std::string(" ") + c.key + " ", ""});
    if (c.make) c.make(folder + c.key + ".jpg");
  }
  // A second student with the key of the first, and the folder's other entries.
  roster.push_back({99, "valid", ""});
  for (const char* name : {"Near-Match.JPG", ".mirestal-7-0.tmp", "stranger.jpg"}) {
    testing::WriteFile(folder + name, good);
  }
  roster.push_back({100, "near-match", ""});
  ASSERT_TRUE(std::filesystem::create_directory(FsPath(folder + "sub")));

  const RosterPhotoCheck check = CheckRosterPhotos(roster, store, PhotoRules{});
  ASSERT_EQ(check.students.size(), roster.size());
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].key);
    EXPECT_EQ(check.students[i].state, cases[i].state)
        << PhotoDefectsText(check.students[i].check, PhotoRules{});
    EXPECT_EQ(check.students[i].check.defects, cases[i].defects);
    EXPECT_FALSE(PhotoDefectsText(check.students[i].check, PhotoRules{}).empty() &&
                 !cases[i].defects.empty());
  }
  EXPECT_EQ(check.students[std::size(cases)].duplicate_of, 0);
  EXPECT_EQ(check.students.back().state, StudentPhotoState::kMissing);

  std::vector<std::tuple<std::string, StrayKind, bool, int>> strays;
  for (const StrayEntry& e : check.strays) strays.emplace_back(e.name, e.kind, e.folder, e.student);
  const int near = static_cast<int>(roster.size()) - 1;
  EXPECT_EQ(strays, (decltype(strays){{".mirestal-7-0.tmp", StrayKind::kTempFile, false, -1},
                                      {"Near-Match.JPG", StrayKind::kNearMatch, false, near},
                                      {"stranger.jpg", StrayKind::kUnmatched, false, -1},
                                      {"sub", StrayKind::kUnmatched, true, -1}}));
  EXPECT_EQ(check.valid, 3);  // valid twice (the shared key) and within-one-pixel
  EXPECT_EQ(check.missing, 2);
  EXPECT_EQ(check.refused, 2);
  EXPECT_EQ(check.duplicates, 1);
  EXPECT_FALSE(check.AllGood());

  // Without decoding, only what the listing and the size tell remains.
  PhotoRules listing_only;
  listing_only.decode = false;
  const RosterPhotoCheck quick = CheckRosterPhotos(roster, store, listing_only);
  EXPECT_EQ(quick.students[3].state, StudentPhotoState::kValid);  // damaged, not read
  EXPECT_EQ(quick.students[10].check.defects, Defects{PhotoDefect::kEmpty});
  EXPECT_EQ(quick.students[11].check.defects, Defects{PhotoDefect::kOverLimit});
#ifndef _WIN32
  EXPECT_EQ(quick.students[13].check.defects, Defects{PhotoDefect::kLink});
#endif
}

TEST(PhotoCheckTest, OnlyAFolderOfValidPhotosForEveryStudentIsAllGood) {
  testing::TempDir dir;
  PhotoStore store(dir.path());
  const std::vector<RosterStudent> roster = {{1, "1", ""}, {2, *Utf8ToGbk("二"), ""}};
  EXPECT_FALSE(CheckRosterPhotos(roster, store, PhotoRules{}).folder_exists);
  ASSERT_TRUE(std::filesystem::create_directories(FsPath(store.PhotoFolder())));
  for (const char* name : {"1.jpg", "二.jpg"}) {
    testing::WriteFile(store.PhotoFolder() + name, EncodeJpeg(Face(150, 200)));
  }
  EXPECT_TRUE(CheckRosterPhotos(roster, store, PhotoRules{}).AllGood());
}

TEST(PhotoCheckTest, PhotoChangedAfterTheCheckFailsThePackageAndKeepsTheOldOne) {
  testing::TempDir dir;
  PhotoStore store(dir.path() + "/program");
  ASSERT_TRUE(std::filesystem::create_directories(FsPath(store.PhotoFolder())));
  const std::vector<RosterStudent> roster = {{1, "1", ""}, {2, "2", ""}};
  for (const char* name : {"1.jpg", "2.jpg"}) {
    testing::WriteFile(store.PhotoFolder() + name, EncodeJpeg(Face(150, 200)));
  }
  const RosterPhotoCheck check = CheckRosterPhotos(roster, store, PhotoRules{});
  testing::WriteFile(dir.File("p.zip"), "old");
  testing::WriteFile(store.PhotoFolder() + "2.jpg", "replaced after the check");
  EXPECT_THROW(WritePhotoPackage(check, dir.File("p.zip")), EPackageError);
  EXPECT_EQ(testing::ReadFile(dir.File("p.zip")), "old");
  int entries = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(FsPath(dir.path()))) ++entries;
  EXPECT_EQ(entries, 2);  // program/ and p.zip: no temporary archive left
}

TEST(PhotoCheckTest, CacheChecksAgainWhenTheFileChanges) {
  testing::TempDir dir;
  const std::string path = dir.File("1.jpg");
  PhotoCheckCache cache;
  using R = PhotoCheckCache::Result;
  const std::pair<std::string, R> steps[] = {
      {Damaged(EncodeJpeg(Face(150, 200))), R::kInvalid},
      {EncodeJpeg(Face(150, 200)), R::kValid},  // a new capture over the bad one, same size
      {EncodeJpeg(Face(200, 150)), R::kInvalid},
  };
  for (const auto& [bytes, result] : steps) {
    // Replaced as the store replaces a photo: a new file renamed over the old one.
    testing::WriteFile(path + ".new", bytes);
    std::filesystem::rename(FsPath(path + ".new"), FsPath(path));
    EXPECT_EQ(cache.Check(path), result);
    EXPECT_EQ(cache.Check(path), result);
  }
  std::filesystem::remove(FsPath(path));
  EXPECT_EQ(cache.Check(path), R::kNoFile);
  std::filesystem::create_directory(FsPath(path));
  EXPECT_EQ(cache.Check(path), R::kNoFile);
}

TEST(PhotoCheckTest, ThreeByFourWithinOnePixel) {
  struct {
    int w, h;
    bool ok;
  } cases[] = {{300, 400, true},  {301, 400, true},  {300, 401, true},  {299, 399, true},
               {302, 400, false}, {300, 402, false}, {400, 300, false}, {0, 0, false}};
  for (auto c : cases) EXPECT_EQ(IsThreeByFour(c.w, c.h), c.ok) << c.w << "x" << c.h;
}

}  // namespace
}  // namespace mirestal
