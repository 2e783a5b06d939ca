// Matching picture file names to students, and the Exif orientation of camera pictures.
#include <gtest/gtest.h>

#include "capture/jpeg.h"
#include "capture/orientation.h"
#include "capture/photo_match.h"
#include "platform/gbk.h"

namespace mirestal {
namespace {

std::string Gbk(const char* utf8) { return *Utf8ToGbk(utf8); }

TEST(PhotoMatchTest, FileNamesAsKeysNamesAndCopies) {
  const std::vector<RosterStudent> students = {
      {1, "20110001", Gbk("甲")},    {2, "A2011 02  ", Gbk("乙")}, {3, "20110003", Gbk("丙")},
      {4, "20110004", Gbk("丙")},    {5, "20110005", Gbk("王芳")}, {6, "  ", Gbk("辛")},
  };
  const StudentMatcher matcher(students);
  struct Case {
    const char* name;
    MatchKind kind;
    int student;
  };
  const Case cases[] = {
      {"20110001.jpg", MatchKind::kKey, 0},
      {"a2011 02.JPG", MatchKind::kKey, 1},  // case and blanks
      {"A201102.jpeg", MatchKind::kKey, 1},
      {" 20110001\xE3\x80\x80.png", MatchKind::kKey, 0},  // an ideographic space
      {"甲.png", MatchKind::kName, 0},
      {"王 芳.jpg", MatchKind::kName, 4},
      {"辛.jpg", MatchKind::kName, 5},  // a blank key: the name still finds the student
      {"丙.jpg", MatchKind::kAmbiguousName, -1},
      {"20110001(1).jpg", MatchKind::kKey, 0},
      {"20110001 (12).jpg", MatchKind::kKey, 0},
      {"20110001（2）.jpg", MatchKind::kKey, 0},
      {"20110001 - 副本.jpg", MatchKind::kKey, 0},
      {"20110001 - 副本 (3).jpg", MatchKind::kKey, 0},
      {"20110001 - Copy (2).jpg", MatchKind::kKey, 0},
      {"20110001 copy.jpg", MatchKind::kKey, 0},
      {"甲(1).jpg", MatchKind::kName, 0},
      {"20110001copy.jpg", MatchKind::kNone, -1},
      {"20110001副本.jpg", MatchKind::kNone, -1},
      {"20110001(a).jpg", MatchKind::kNone, -1},
      {"20110001(1)(1).jpg", MatchKind::kNone, -1},  // one suffix only
      {"2011000(1).jpg", MatchKind::kNone, -1},
      {"20110009.jpg", MatchKind::kNone, -1},
      {".jpg", MatchKind::kNone, -1},
      {"\xE4\xB6\xAE.jpg", MatchKind::kNotGbk, -1},  // U+4DAE has no GBK form
      {"\xF0\x9F\x98\x80.jpg", MatchKind::kNotGbk, -1},
      {"\xFF\xFE.jpg", MatchKind::kNotGbk, -1},  // not UTF-8 at all
  };
  for (const Case& c : cases) {
    const PictureMatch m = matcher.MatchFileName(c.name);
    EXPECT_EQ(m.kind, c.kind) << c.name;
    EXPECT_EQ(m.student, c.student) << c.name;
  }
  // What the operator types is taken as it is: no extension, no copy suffix.
  EXPECT_EQ(matcher.MatchText("20110005").student, 4);
  EXPECT_EQ(matcher.MatchText("王芳").student, 4);
  EXPECT_EQ(matcher.MatchText("20110001.jpg").kind, MatchKind::kNone);
  EXPECT_EQ(matcher.MatchText("").kind, MatchKind::kNone);
}

TEST(PhotoMatchTest, DuplicateClaimsNameTheOtherPicture) {
  const PictureMatch none, a{MatchKind::kKey, 0}, a_by_name{MatchKind::kName, 0},
      b{MatchKind::kKey, 1};
  EXPECT_EQ(DuplicateClaims({a, none, a_by_name, b}), (std::vector<int>{2, -1, 0, -1}));
  EXPECT_EQ(DuplicateClaims({a, a, a}), (std::vector<int>{1, 0, 0}));
  EXPECT_EQ(DuplicateClaims({none, none, b}), (std::vector<int>{-1, -1, -1}));
}

// A stored 3x2 picture whose pixel (0,0) is red, (1,0) (along the first stored row) green and
// (0,1) (down the first stored column) blue. The Exif value says where that row and column are
// seen: orientation 6, for instance, puts the first row on the right, the first column at the top.
TEST(OrientationTest, EachValueTurnsTheStoredRowsWhereExifSaysTheyAreSeen) {
  Bitmap stored(3, 2);
  const auto set = [&](int x, int y, uint8_t r, uint8_t g, uint8_t b) {
    uint8_t* p = stored.At(x, y);
    p[0] = r, p[1] = g, p[2] = b;
  };
  set(0, 0, 255, 0, 0);
  set(1, 0, 0, 255, 0);
  set(0, 1, 0, 0, 255);
  struct Case {
    int orientation;
    int red_x, red_y, green_x, green_y, blue_x, blue_y;
  };
  const Case cases[] = {
      {1, 0, 0, 1, 0, 0, 1}, {2, 2, 0, 1, 0, 2, 1}, {3, 2, 1, 1, 1, 2, 0}, {4, 0, 1, 1, 1, 0, 0},
      {5, 0, 0, 0, 1, 1, 0}, {6, 1, 0, 1, 1, 0, 0}, {7, 1, 2, 1, 1, 0, 2}, {8, 0, 2, 0, 1, 1, 2},
  };
  for (const Case& c : cases) {
    const Bitmap up = OrientUpright(stored, c.orientation);
    EXPECT_EQ(up.width, c.orientation >= 5 ? 2 : 3) << c.orientation;
    EXPECT_EQ(up.At(c.red_x, c.red_y)[0], 255) << c.orientation;
    EXPECT_EQ(up.At(c.green_x, c.green_y)[1], 255) << c.orientation;
    EXPECT_EQ(up.At(c.blue_x, c.blue_y)[2], 255) << c.orientation;
  }
}

// An Exif APP1 segment holding one IFD entry (the orientation, after another entry), in either
// byte order.
std::string ExifSegment(int orientation, bool little, uint32_t ifd_offset = 8, int type = 3) {
  std::string tiff = little ? std::string("II*\0", 4) : std::string("MM\0*", 4);
  const auto u16 = [&](unsigned v) {
    tiff += little ? std::string{char(v & 0xFF), char(v >> 8)} : std::string{char(v >> 8), char(v & 0xFF)};
  };
  const auto u32 = [&](uint32_t v) {
    if (little) u16(v & 0xFFFF), u16(v >> 16);
    else u16(v >> 16), u16(v & 0xFFFF);
  };
  u32(ifd_offset);
  u16(2);
  u16(0x010F), u16(2), u32(4), u32(0);  // the maker, elsewhere
  u16(0x0112), u16(static_cast<unsigned>(type)), u32(1), u16(static_cast<unsigned>(orientation)), u16(0);
  u32(0);
  const std::string body = std::string("Exif\0\0", 6) + tiff;
  const size_t length = body.size() + 2;
  return std::string("\xFF\xE1") + char(length >> 8) + char(length & 0xFF) + body;
}

TEST(OrientationTest, ReadFromTheExifBlockInEitherByteOrder) {
  const std::string jpeg = EncodeJpeg(Bitmap(8, 8));  // SOI, then the JFIF segment
  for (bool little : {true, false}) {
    for (int o = 1; o <= 8; ++o) {
      EXPECT_EQ(JpegExifOrientation("\xFF\xD8" + ExifSegment(o, little) + jpeg.substr(2)), o);
      // After the JFIF segment, as cameras and editors also write it.
      EXPECT_EQ(JpegExifOrientation(jpeg.substr(0, 20) + ExifSegment(o, little) + jpeg.substr(20)), o);
    }
  }
  EXPECT_EQ(JpegExifOrientation(jpeg), kOrientationUpright);
  // Out of range, the wrong type, an IFD beyond the segment, a cut segment: upright.
  const auto with = [&](const std::string& segment) { return "\xFF\xD8" + segment + jpeg.substr(2); };
  EXPECT_EQ(JpegExifOrientation(with(ExifSegment(9, true))), 1);
  EXPECT_EQ(JpegExifOrientation(with(ExifSegment(6, true, 8, 4))), 1);
  EXPECT_EQ(JpegExifOrientation(with(ExifSegment(6, true, 4000))), 1);
  EXPECT_EQ(JpegExifOrientation(with(ExifSegment(6, false)).substr(0, 30)), 1);
  EXPECT_EQ(JpegExifOrientation("\xFF\xD8\xFF\xE1\x00\x01"), 1);
}

}  // namespace
}  // namespace mirestal
