#include "capture/jpeg.h"

#include <gtest/gtest.h>

// clang-format off
#include <cstdio>
#include <jpeglib.h>
// clang-format on

#include <cstdlib>
#include <cstring>
#include <string>

#include "capture/bitmap.h"
#include "capture/crop.h"
#include "capture/testcard.h"
#include "tests/testutil/testutil.h"

namespace mirestal {
namespace {

// libjpeg's own quantisation tables for jpeg_set_defaults + jpeg_set_quality(80, TRUE), in
// natural order: [0] luminance, [1] chrominance.
std::vector<std::vector<int>> ReferenceTables() {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  c.in_color_space = JCS_RGB;
  c.input_components = 3;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 80, TRUE);
  std::vector<std::vector<int>> tables;
  for (int t = 0; t < 2; ++t) {
    tables.emplace_back(c.quant_tbl_ptrs[t]->quantval, c.quant_tbl_ptrs[t]->quantval + 64);
  }
  jpeg_destroy_compress(&c);
  return tables;
}

struct Parsed {
  bool jfif = false;
  int components = 0;
  int sampling[3][2] = {};
  int quant_index[3] = {};
  bool baseline_sof = false;
  bool progressive = false;
  std::vector<std::vector<int>> tables;  // natural order, as read by libjpeg
  J_COLOR_SPACE color = JCS_UNKNOWN;
};

Parsed ParseWithLibjpeg(const std::string& file) {
  Parsed p;
  jpeg_decompress_struct d;
  jpeg_error_mgr err;
  d.err = jpeg_std_error(&err);
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, reinterpret_cast<const unsigned char*>(file.data()), file.size());
  jpeg_read_header(&d, TRUE);
  p.jfif = d.saw_JFIF_marker;
  p.components = d.num_components;
  p.color = d.jpeg_color_space;
  p.progressive = d.progressive_mode;
  for (int i = 0; i < d.num_components && i < 3; ++i) {
    p.sampling[i][0] = d.comp_info[i].h_samp_factor;
    p.sampling[i][1] = d.comp_info[i].v_samp_factor;
    p.quant_index[i] = d.comp_info[i].quant_tbl_no;
  }
  for (int t = 0; t < 2; ++t) {
    if (d.quant_tbl_ptrs[t]) {
      p.tables.emplace_back(d.quant_tbl_ptrs[t]->quantval, d.quant_tbl_ptrs[t]->quantval + 64);
    }
  }
  jpeg_destroy_decompress(&d);
  // SOF0 (FFC0) marks a baseline frame.
  p.baseline_sof = file.find("\xFF\xC0", 0) != std::string::npos;
  return p;
}

Bitmap Frame640() { return RenderTestCard(640, 480, 17); }

TEST(JpegTest, PhotoFromA640FrameIsBaselineJfifQuality80) {
  const CropRect r = ComputeCropRect(640, 480, 84, 19);
  const Bitmap crop = CopyRect(Frame640(), r.x, r.y, r.w, r.h);
  const std::string jpeg = EncodeJpeg(crop);
  ASSERT_GT(jpeg.size(), 1000u);
  EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8");

  JpegHeader h = ReadJpegHeader(jpeg);
  EXPECT_EQ(h.width, 300);
  EXPECT_EQ(h.height, 400);
  EXPECT_FALSE(h.progressive);
  EXPECT_FALSE(h.grayscale);

  Parsed p = ParseWithLibjpeg(jpeg);
  EXPECT_TRUE(p.jfif);
  EXPECT_TRUE(p.baseline_sof);
  EXPECT_FALSE(p.progressive);
  EXPECT_EQ(p.color, JCS_YCbCr);
  ASSERT_EQ(p.components, 3);
  EXPECT_EQ(p.sampling[0][0], 2);
  EXPECT_EQ(p.sampling[0][1], 2);
  for (int c = 1; c < 3; ++c) {
    EXPECT_EQ(p.sampling[c][0], 1);
    EXPECT_EQ(p.sampling[c][1], 1);
  }
  EXPECT_EQ(p.quant_index[0], 0);
  EXPECT_EQ(p.quant_index[1], 1);
  EXPECT_EQ(p.quant_index[2], 1);
  EXPECT_EQ(p.tables, ReferenceTables());
  // Quality 80 scales the standard tables to 40%: the luminance DC entry 16 becomes 6.
  EXPECT_EQ(p.tables[0][0], 6);
}

TEST(JpegTest, DecodedPixelsAreTheFramePixelsInTheBox) {
  const Bitmap frame = Frame640();
  const CropRect r = ComputeCropRect(640, 480, 30, 5);
  const Bitmap crop = CopyRect(frame, r.x, r.y, r.w, r.h);
  const Bitmap back = DecodeJpeg(EncodeJpeg(crop));
  ASSERT_EQ(back.width, 300);
  ASSERT_EQ(back.height, 400);
  // Mean absolute error over the picture, and the error at a flat spot (inside the face).
  double total = 0;
  for (size_t i = 0; i < back.pixels.size(); ++i) {
    total += std::abs(back.pixels[i] - frame.At(r.x + static_cast<int>(i / 3 % 300),
                                                r.y + static_cast<int>(i / 900))[i % 3]);
  }
  EXPECT_LT(total / back.pixels.size(), 3.0);
  // A point well inside the face (the face centre is at 0.42 H, the box shifted by x, y).
  const int fx = 320 - r.x + 20, fy = 180 - r.y;
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(back.At(fx, fy)[c], frame.At(fx + r.x, fy + r.y)[c], 6) << c;
  }
}

TEST(JpegTest, EncodingIsByteIdenticalToCjpegQuality80) {
  const Bitmap crop = CopyRect(Frame640(), 168, 38, 300, 400);
  testing::TempDir dir;
  std::string ppm = "P6\n300 400\n255\n";
  ppm.append(reinterpret_cast<const char*>(crop.pixels.data()), crop.pixels.size());
  testing::WriteFile(dir.File("crop.ppm"), ppm);
  std::string out;
  if (testing::RunCommand("command -v cjpeg", &out) != 0) GTEST_SKIP() << "cjpeg not installed";
  ASSERT_EQ(testing::RunCommand("cjpeg -quality 80 -outfile " + dir.File("c.jpg") + " " +
                                dir.File("crop.ppm")),
            0);
  EXPECT_EQ(EncodeJpeg(crop), testing::ReadFile(dir.File("c.jpg")));
}

TEST(JpegTest, UnreadableHeadersFailWithoutEndingTheProcess) {
  const std::string good = EncodeJpeg(CopyRect(Frame640(), 168, 38, 300, 400));
  for (const std::string& bad :
       {std::string(), std::string("not a jpeg at all"), good.substr(0, 20)}) {
    EXPECT_THROW(ReadJpegHeader(bad), EJpegError);
    EXPECT_THROW(DecodeJpeg(bad), EJpegError);
  }
  EXPECT_THROW(EncodeJpeg(Bitmap()), EJpegError);
}

// A photo whose header reads is drawn as far as its data decodes and marked damaged.
TEST(JpegTest, CutOrCorruptDataDecodesAsFarAsItGoes) {
  const std::string good = EncodeJpeg(CopyRect(Frame640(), 168, 38, 300, 400));
  const DecodedJpeg whole = DecodeJpegDetailed(good);
  EXPECT_FALSE(whole.damaged);
  std::string corrupt = good;
  corrupt.insert(good.size() / 2, "\xFF\xD3");  // a restart marker where none belongs
  for (const std::string& damaged : {good.substr(0, good.size() / 2), corrupt}) {
    const DecodedJpeg part = DecodeJpegDetailed(damaged);
    EXPECT_TRUE(part.damaged);
    EXPECT_FALSE(part.problem.empty());
    ASSERT_EQ(part.bitmap.width, 300);
    ASSERT_EQ(part.bitmap.height, 400);
    // The first rows decode exactly as in the whole file.
    for (int y = 0; y < 8; ++y) {
      ASSERT_EQ(std::memcmp(part.bitmap.Row(y), whole.bitmap.Row(y), 300 * 3), 0) << y;
    }
    EXPECT_NE(part.bitmap.pixels, whole.bitmap.pixels);
  }
}

// The frame header's height and width fields (after FFC0, length, precision).
std::string WithSize(std::string jpeg, int width, int height) {
  size_t sof = jpeg.find("\xFF\xC0");
  jpeg[sof + 5] = static_cast<char>(height >> 8);
  jpeg[sof + 6] = static_cast<char>(height);
  jpeg[sof + 7] = static_cast<char>(width >> 8);
  jpeg[sof + 8] = static_cast<char>(width);
  return jpeg;
}

TEST(JpegTest, HeadersPromisingHugePicturesAreRefused) {
  const std::string good = EncodeJpeg(CopyRect(Frame640(), 0, 0, 64, 48));
  EXPECT_NO_THROW(ReadJpegHeader(WithSize(good, 4000, 3000)));  // 12 megapixels: allowed
  EXPECT_THROW(ReadJpegHeader(WithSize(good, 65535, 65535)), EJpegError);
  EXPECT_THROW(ReadJpegHeader(WithSize(good, 65501, 10)), EJpegError);
  EXPECT_THROW(ReadJpegHeader(WithSize(good, 65500, 65500)), EJpegError);  // memory bound
  try {
    ReadJpegHeader(WithSize(good, 10000, 5000));
    ADD_FAILURE() << "10000x5000 accepted";
  } catch (const EJpegError& e) {
    EXPECT_STREQ(e.what(), "JPEG image too large: 10000x5000");
  }
  EXPECT_THROW(DecodeJpeg(WithSize(good, 10000, 5000)), EJpegError);
}

// A 16x8 picture of one colour in the given colour space, as another program would write it
// (libjpeg writes the Adobe marker for CMYK).
std::string EncodeOneColour(J_COLOR_SPACE space, std::vector<unsigned char> pixel) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buf = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buf, &size);
  c.image_width = 16;
  c.image_height = 8;
  c.input_components = static_cast<int>(pixel.size());
  c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  jpeg_start_compress(&c, TRUE);
  std::vector<unsigned char> row;
  for (int x = 0; x < 16; ++x) row.insert(row.end(), pixel.begin(), pixel.end());
  while (c.next_scanline < 8) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::string file(reinterpret_cast<char*>(buf), size);
  std::free(buf);
  return file;
}

TEST(JpegTest, GrayscaleAndCmykDecodeToRgb) {
  struct Case {
    J_COLOR_SPACE space;
    std::vector<unsigned char> pixel;
    int r, g, b;
  } cases[] = {
      {JCS_GRAYSCALE, {100}, 100, 100, 100},
      // Inverted CMYK (Adobe): no cyan, full magenta and yellow, no black: red.
      {JCS_CMYK, {255, 0, 0, 255}, 255, 0, 0},
      {JCS_CMYK, {255, 255, 255, 128}, 128, 128, 128},  // half black
  };
  for (const Case& c : cases) {
    const std::string file = EncodeOneColour(c.space, c.pixel);
    EXPECT_EQ(ReadJpegHeader(file).grayscale, c.space == JCS_GRAYSCALE);
    const DecodedJpeg d = DecodeJpegDetailed(file);
    EXPECT_FALSE(d.damaged) << d.problem;
    ASSERT_EQ(d.bitmap.pixels.size(), 16u * 8 * 3);
    EXPECT_NEAR(d.bitmap.At(5, 5)[0], c.r, 3) << c.space;
    EXPECT_NEAR(d.bitmap.At(5, 5)[1], c.g, 3) << c.space;
    EXPECT_NEAR(d.bitmap.At(5, 5)[2], c.b, 3) << c.space;
  }
}

}  // namespace
}  // namespace mirestal
