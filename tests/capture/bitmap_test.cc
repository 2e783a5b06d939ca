#include "capture/bitmap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/crop.h"
#include "capture/preview_frame.h"

namespace mirestal {
namespace {

Bitmap Gradient(int w, int h) {
  Bitmap b(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = b.At(x, y);
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[2] = static_cast<uint8_t>(x * 7 + y * 3);
    }
  }
  return b;
}

void PutU32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// A 32-bit BMP (top-down when `top_down`), built by hand so the reader is not only checked
// against its own writer.
std::string Bmp32(const Bitmap& b, bool top_down) {
  std::string s(54, '\0');
  s[0] = 'B';
  s[1] = 'M';
  PutU32(s, 2, 54 + b.width * b.height * 4);
  PutU32(s, 10, 54);
  PutU32(s, 14, 40);
  PutU32(s, 18, b.width);
  PutU32(s, 22, top_down ? -b.height : b.height);
  s[26] = 1;
  s[28] = 32;
  for (int i = 0; i < b.height; ++i) {
    int y = top_down ? i : b.height - 1 - i;
    for (int x = 0; x < b.width; ++x) {
      const uint8_t* p = b.At(x, y);
      s += static_cast<char>(p[2]);
      s += static_cast<char>(p[1]);
      s += static_cast<char>(p[0]);
      s += '\x7f';
    }
  }
  return s;
}

TEST(BitmapTest, Bmp24RoundTripsWithRowPadding) {
  // Width 5: 15 bytes of pixels padded to 16 per row.
  Bitmap b = Gradient(5, 3);
  std::string file = WriteBmp(b);
  EXPECT_EQ(file.size(), 54u + 16 * 3);
  EXPECT_EQ(file.substr(0, 2), "BM");
  Bitmap back = ReadBmp(file);
  EXPECT_EQ(back.width, 5);
  EXPECT_EQ(back.height, 3);
  EXPECT_EQ(back.pixels, b.pixels);
  // Bottom-up, blue-green-red: the first stored pixel is the bottom-left one.
  EXPECT_EQ(static_cast<uint8_t>(file[54]), b.At(0, 2)[2]);
  EXPECT_EQ(static_cast<uint8_t>(file[56]), b.At(0, 2)[0]);
}

TEST(BitmapTest, Reads32BitBottomUpAndTopDown) {
  Bitmap b = Gradient(7, 4);
  EXPECT_EQ(ReadBmp(Bmp32(b, false)).pixels, b.pixels);
  EXPECT_EQ(ReadBmp(Bmp32(b, true)).pixels, b.pixels);
}

TEST(BitmapTest, RefusesDamagedAndUnsupportedFiles) {
  const std::string good = WriteBmp(Gradient(4, 4));
  ASSERT_NO_THROW(ReadBmp(good));
  auto damaged = [&](size_t at, uint32_t value, int bytes = 4) {
    std::string s = good;
    for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>(value >> (8 * i));
    return s;
  };
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"empty", ""},
      {"signature", damaged(0, 'X', 1)},
      {"header only", good.substr(0, 54)},
      {"last row short", good.substr(0, good.size() - 1)},
      {"core header", damaged(14, 12)},
      {"odd header size", damaged(14, 41)},
      {"zero width", damaged(18, 0)},
      {"negative width", damaged(18, 0xFFFFFFFFu)},
      {"zero height", damaged(22, 0)},
      {"absurd width", damaged(18, 100000)},
      {"absurd height", damaged(22, 0x80000000u)},
      {"planes", damaged(26, 2, 2)},
      {"8 bits", damaged(28, 8, 2)},
      {"16 bits", damaged(28, 16, 2)},
      {"RLE", damaged(30, 1)},
      {"bit fields on 24 bits", damaged(30, 3)},
      {"pixels beyond the end", damaged(10, 60)},
      {"pixels inside the header", damaged(10, 20)},
  };
  for (const auto& [name, bytes] : cases) {
    try {
      ReadBmp(bytes);
      ADD_FAILURE() << name << " was accepted";
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "Bitmap image is not valid") << name;
    }
  }
}

TEST(BitmapTest, CopyRectCopiesWithoutScalingAndLeavesOutsideWhite) {
  Bitmap frame = Gradient(20, 10);
  Bitmap crop = CopyRect(frame, 3, 2, 5, 4);
  ASSERT_EQ(crop.width, 5);
  ASSERT_EQ(crop.height, 4);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(0, std::memcmp(crop.At(x, y), frame.At(x + 3, y + 2), 3)) << x << "," << y;
    }
  }
  Bitmap edge = CopyRect(frame, 18, 8, 4, 4);
  EXPECT_EQ(0, std::memcmp(edge.At(1, 1), frame.At(19, 9), 3));
  EXPECT_EQ(edge.At(2, 2)[0], 255);
  EXPECT_EQ(edge.At(3, 0)[1], 255);
}

TEST(CropTest, StandardFramesFollowTheTable) {
  // hor/ver at their extremes, the initial values and odd values on each accepted frame.
  for (int hor : {0, 1, 3, 84, 167, 168}) {
    for (int ver : {0, 1, 19, 37, 38}) {
      EXPECT_EQ(ComputeCropRect(320, 240, hor, ver), (CropRect{hor, ver, 150, 200}));
      EXPECT_EQ(ComputeCropRect(640, 480, hor, ver), (CropRect{2 * hor, 2 * ver, 300, 400}));
      CropRect r = ComputeCropRect(800, 600, hor, ver);
      EXPECT_EQ(r.w, 375);
      EXPECT_EQ(r.h, 500);
      EXPECT_EQ(r.x, static_cast<int>(RoundHalfEven(2.5 * hor)));
      EXPECT_EQ(r.y, static_cast<int>(RoundHalfEven(2.5 * ver)));
      EXPECT_LE(r.x + r.w, 800);
      EXPECT_LE(r.y + r.h, 600);
    }
  }
}

TEST(CropTest, TiesGoToEven) {
  EXPECT_EQ(ComputeCropRect(800, 600, 1, 0).x, 2);    // 2.5
  EXPECT_EQ(ComputeCropRect(800, 600, 3, 0).x, 8);    // 7.5
  EXPECT_EQ(ComputeCropRect(800, 600, 5, 0).x, 12);   // 12.5
  EXPECT_EQ(ComputeCropRect(800, 600, 0, 19).y, 48);  // 47.5
  EXPECT_EQ(ComputeCropRect(800, 600, 0, 37).y, 92);  // 92.5
  EXPECT_EQ(ComputeCropRect(800, 600, 168, 38), (CropRect{420, 95, 375, 500}));
  EXPECT_EQ(RoundHalfEven(-2.5), -2);
  EXPECT_EQ(RoundHalfEven(0.49999999), 0);
}

TEST(CropTest, InitialSlidersOn640x480) {
  EXPECT_EQ(ComputeCropRect(640, 480, kTrackBarHorInitial, kTrackBarVerInitial),
            (CropRect{168, 38, 300, 400}));
}

TEST(CropTest, OnlyTheWidthIsCheckedAndHeightScalesAsItIs) {
  EXPECT_TRUE(IsAcceptedFrameWidth(320));
  EXPECT_TRUE(IsAcceptedFrameWidth(640));
  EXPECT_TRUE(IsAcceptedFrameWidth(800));
  EXPECT_FALSE(IsAcceptedFrameWidth(1024));
  EXPECT_FALSE(IsAcceptedFrameWidth(352));
  // 640x360: 300x300 at (2 hor, 1.5 ver rounded): ver 19 gives 28.5, which rounds to 28.
  EXPECT_EQ(ComputeCropRect(640, 360, 84, 19), (CropRect{168, 28, 300, 300}));
  EXPECT_EQ(ComputeCropRect(640, 360, 84, 21).y, 32);  // 31.5
}

// Preview frames as drivers hand them over: padded RGB rows either way up, packed YUY2, and what
// cannot be read (short, compressed, odd) as no picture at all.
TEST(PreviewFrameTest, ConvertsTheDriversRawFormats) {
  const uint32_t yuy2 = FourCc('Y', 'U', 'Y', '2');
  struct Case {
    const char* name;
    PreviewFrameFormat format;
    std::string data;
    std::vector<uint8_t> top_row;  // RGB of the first row, left to right; empty: no picture
  };
  const std::string rgb24_bottom_up = std::string("\x01\x02\x03\x04\x05\x06\0\0", 8) +  // bottom row
                                      std::string("\x0a\x0b\x0c\x0d\x0e\x0f\0\0", 8);   // top row
  const Case cases[] = {
      {"24-bit bottom-up, rows padded", {2, 2, 24, 0}, rgb24_bottom_up, {12, 11, 10, 15, 14, 13}},
      {"32-bit top-down", {1, -2, 32, 0}, std::string("\x01\x02\x03\xff\x04\x05\x06\xff", 8),
       {3, 2, 1}},
      {"YUY2 white, black and red", {4, 1, 16, yuy2},
       std::string("\xeb\x80\x10\x80\x51\x5a\x51\xf0", 8), {255, 255, 255, 0, 0, 0, 255, 0, 0, 255, 0, 0}},
      {"short data", {2, 2, 24, 0}, rgb24_bottom_up.substr(0, 15), {}},
      {"compressed", {2, 2, 24, FourCc('M', 'J', 'P', 'G')}, rgb24_bottom_up, {}},
      {"YUY2 of odd width", {3, 1, 16, yuy2}, std::string(8, '\x80'), {}},
      {"no width", {0, 2, 24, 0}, rgb24_bottom_up, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bitmap b = PreviewFrameToBitmap(c.format, c.data);
    if (c.top_row.empty()) {
      EXPECT_TRUE(b.empty());
      continue;
    }
    ASSERT_EQ(b.width, c.format.width);
    ASSERT_EQ(b.height, std::abs(c.format.height));
    EXPECT_EQ(std::vector<uint8_t>(b.Row(0), b.Row(0) + b.width * 3), c.top_row);
  }
}

}  // namespace
}  // namespace mirestal
