// Importing pictures: the camera's orientation applied before the face is searched, a picture
// that is already a photo kept as it is, and a store that fails half way.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "capture/face/photo_import.h"
#include "capture/face/still_frame.h"
#include "capture/jpeg.h"
#include "capture/orientation.h"
#include "capture/testcard.h"
#include "platform/fault_file.h"
#include "platform/paths.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

// The JPEG with an Exif block (little-endian, one entry: the orientation) after its SOI.
std::string WithOrientation(const std::string& jpeg, int orientation) {
  std::string tiff("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 18);
  tiff += static_cast<char>(orientation);
  tiff += std::string(7, '\0');
  const std::string body = std::string("Exif\0\0", 6) + tiff;
  return std::string("\xFF\xD8\xFF\xE1\0", 5) + static_cast<char>(body.size() + 2) + body +
         jpeg.substr(2);
}

// The names in a folder, sorted (UTF-8 on every system).
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(FsPath(folder))) {
    names.push_back(Utf8Path(e.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

class PhotoImportTest : public ::testing::Test {
 protected:
  PhotoImportTest() {
    for (int i = 1; i <= 3; ++i) students_.push_back({i, "2011000" + std::to_string(i), ""});
  }
  // The pictures named, matched by name to the roster.
  std::vector<ImportPicture> Pictures(const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [name, bytes] : files) testing::WriteFile(source_.File(name), bytes);
    std::vector<ImportPicture> pictures = ListPictureFolder(source_.path());
    MatchPictures(pictures, StudentMatcher(students_));
    return pictures;
  }
  std::string Photo(int student) { return store_.PhotoFolder() + students_[student].key_gbk + ".jpg"; }

  const Bitmap portrait_ = RenderTestCard(640, 480, 0, TestCardPicture::kPortrait);
  std::vector<RosterStudent> students_;
  testing::TempDir source_, program_;
  PhotoStore store_{program_.path() + "/"};
};

TEST_F(PhotoImportTest, CameraOrientationIsAppliedBeforeTheFaceIsSearched) {
  // Taken with the camera turned: the rows are stored sideways, Exif says to turn them back.
  const std::string sideways = EncodeJpeg(OrientUpright(portrait_, 8));
  std::vector<ImportPicture> pictures =
      Pictures({{"20110001.jpg", WithOrientation(sideways, 6)}, {"20110002.jpg", sideways}});
  ImportPictures(pictures, students_, store_, ImportOptions{});
  EXPECT_EQ(pictures[0].outcome, ImportOutcome::kStored) << pictures[0].detail;
  EXPECT_EQ(pictures[0].orientation, 6);
  EXPECT_EQ(pictures[0].width, 640);
  EXPECT_EQ(pictures[1].outcome, ImportOutcome::kNoFace);
  const PhotoFileCheck check = CheckPhotoFile(Photo(0), PhotoRules{});
  EXPECT_TRUE(check.valid());
  EXPECT_EQ(check.width, 300);
}

TEST_F(PhotoImportTest, APhotoOfTheStandardIsKeptAsItIsUnlessItBreaksAnUploadRule) {
  FaceDetector detector;
  const std::string photo = EncodeJpeg(FrameStillPicture(detector, EncodeJpeg(portrait_), false).photo);
  std::vector<ImportPicture> pictures = Pictures({{"20110001.jpg", photo}, {"20110002.jpg", photo}});
  ImportOptions options;
  ImportPictures(pictures, students_, store_, options, {0});
  EXPECT_TRUE(pictures[0].whole);
  EXPECT_TRUE(pictures[0].kept_as_is);
  EXPECT_EQ(store_.ReadWholeFile(Photo(0)), photo);
  // Over a smaller limit: encoded again to fit.
  options.max_bytes = photo.size() - 1;
  ImportPictures(pictures, students_, store_, options, {1});
  EXPECT_EQ(pictures[1].outcome, ImportOutcome::kStored);
  EXPECT_FALSE(pictures[1].kept_as_is);
  EXPECT_LE(pictures[1].stored.bytes, options.max_bytes);
  EXPECT_TRUE(CheckPhotoFile(Photo(1), PhotoRules{options.max_bytes}).valid());
}

TEST_F(PhotoImportTest, ValidPhotosStayUnlessReplacedAndAFailureHalfWayLeavesEveryPhotoWhole) {
  const std::string picture = EncodeJpeg(portrait_);
  const std::string old = EncodeJpeg(CopyRect(portrait_, 170, 40, 300, 400));
  std::filesystem::create_directories(FsPath(store_.PhotoFolder()));
  store_.WritePhotoBytes(Photo(1), old);
  std::vector<ImportPicture> pictures = Pictures(
      {{"20110001.jpg", picture}, {"20110002.jpg", picture}, {"20110003.jpg", picture}});
  ImportOptions options;
  options.store = false;
  ImportPictures(pictures, students_, store_, options);
  EXPECT_EQ(pictures[1].outcome, ImportOutcome::kHasPhoto);
  EXPECT_EQ(Names(store_.PhotoFolder()), std::vector<std::string>{"20110002.jpg"});

  // Replacing, one at a time; the second rename and all after it fail.
  FaultFileSystem fs;
  const PhotoStore store(program_.path() + "/", fs);
  fs.FailOperation(FileOp::kRename, 2, 0);
  options = ImportOptions{};
  options.replace = true;
  options.threads = 1;
  ImportPictures(pictures, students_, store, options);
  EXPECT_EQ(pictures[0].outcome, ImportOutcome::kStored);
  EXPECT_EQ(pictures[1].outcome, ImportOutcome::kFailed);
  EXPECT_EQ(pictures[2].outcome, ImportOutcome::kFailed);
  EXPECT_TRUE(CheckPhotoFile(Photo(0), PhotoRules{}).valid());
  EXPECT_EQ(store_.ReadWholeFile(Photo(1)), old);
  EXPECT_EQ(Names(store_.PhotoFolder()),
            (std::vector<std::string>{"20110001.jpg", "20110002.jpg"}));
}

}  // namespace
}  // namespace mirestal
