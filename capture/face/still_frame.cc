#include "capture/face/still_frame.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "capture/jpeg.h"
#include "capture/orientation.h"
#include "capture/photo_check.h"

namespace mirestal {
namespace {

bool StartsWith(std::string_view bytes, std::string_view magic) {
  return bytes.substr(0, magic.size()) == magic;
}

Bitmap ReadPng(std::string_view bytes) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size())) {
    throw EStillFrameError(std::string("PNG 图片无法读取：") + image.message);
  }
  // The image struct owns libpng's state until it is finished or freed.
  std::unique_ptr<png_image, void (*)(png_image*)> owner(&image, png_image_free);
  if (image.width == 0 || image.height == 0 || image.width > kMaxJpegDimension ||
      image.height > kMaxJpegDimension ||
      static_cast<long long>(image.width) * image.height > kMaxJpegPixels) {
    throw EStillFrameError("PNG 图片过大：" + std::to_string(image.width) + "x" +
                           std::to_string(image.height));
  }
  image.format = PNG_FORMAT_RGB;
  Bitmap b;
  b.width = static_cast<int>(image.width);
  b.height = static_cast<int>(image.height);
  b.pixels.resize(PNG_IMAGE_SIZE(image));
  // Transparent pixels are composed over white, as the photo box draws an empty photo.
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&image, &white, b.pixels.data(), 0, nullptr)) {
    throw EStillFrameError(std::string("PNG 图片无法读取：") + image.message);
  }
  return b;
}

}  // namespace

Bitmap ReadPicture(std::string_view bytes, int scale_denom) {
  try {
    if (StartsWith(bytes, "\xFF\xD8")) {
      DecodedJpeg decoded = DecodeJpegScaled(bytes, scale_denom);
      if (decoded.damaged) throw EStillFrameError("JPEG 图片已损坏：" + decoded.problem);
      return std::move(decoded.bitmap);
    }
    if (StartsWith(bytes, "\x89PNG\r\n\x1A\n")) return ReadPng(bytes);
    if (StartsWith(bytes, "BM")) return ReadBmp(bytes);
  } catch (const EJpegError& e) {
    throw EStillFrameError(std::string("JPEG 图片无法读取：") + e.what());
  } catch (const EInvalidGraphic& e) {
    throw EStillFrameError(std::string("BMP 图片无法读取：") + e.what());
  }
  throw EStillFrameError("不是 JPEG、PNG 或 BMP 图片");
}

bool LooksLikePicture(std::string_view bytes) {
  return StartsWith(bytes, "\xFF\xD8") || StartsWith(bytes, "\x89PNG\r\n\x1A\n") ||
         StartsWith(bytes, "BM");
}

bool IsFramedPhoto(const FaceBox& face, int width, int height, const FramingRule& rule) {
  if (!IsThreeByFour(width, height) || height <= 0) return false;
  const HeadGeometry head = HeadOf(face, rule);
  const double share = head.height() / height;
  const double eyes = head.eye_y / height;
  return share >= rule.head_share_min && share <= rule.head_share_max &&
         eyes >= rule.eye_line_min && eyes <= rule.eye_line_max &&
         std::abs(head.centre_x - width / 2.0) <= rule.centre_tolerance * width;
}

Bitmap ResizeBitmap(const Bitmap& source, int width, int height) {
  Bitmap out(width, height);
  if (source.empty()) return out;
  const double sx = static_cast<double>(source.width) / width;
  const double sy = static_cast<double>(source.height) / height;
  for (int y = 0; y < height; ++y) {
    uint8_t* o = out.Row(y);
    for (int x = 0; x < width; ++x, o += 3) {
      if (sx > 1 || sy > 1) {
        // Area average over the source span of this pixel (at least one pixel each way).
        const int x0 = static_cast<int>(x * sx), y0 = static_cast<int>(y * sy);
        const int x1 = std::clamp(static_cast<int>((x + 1) * sx), x0 + 1, source.width);
        const int y1 = std::clamp(static_cast<int>((y + 1) * sy), y0 + 1, source.height);
        unsigned sum[3] = {0, 0, 0};
        for (int yy = y0; yy < y1; ++yy) {
          const uint8_t* p = source.At(x0, yy);
          for (int xx = x0; xx < x1; ++xx, p += 3) {
            sum[0] += p[0];
            sum[1] += p[1];
            sum[2] += p[2];
          }
        }
        const unsigned n = static_cast<unsigned>((x1 - x0) * (y1 - y0));
        for (int c = 0; c < 3; ++c) o[c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
      } else {
        const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, source.width - 1.0);
        const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, source.height - 1.0);
        const int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
        const int x1 = std::min(x0 + 1, source.width - 1), y1 = std::min(y0 + 1, source.height - 1);
        const double ax = fx - x0, ay = fy - y0;
        for (int c = 0; c < 3; ++c) {
          const double top = source.At(x0, y0)[c] * (1 - ax) + source.At(x1, y0)[c] * ax;
          const double bottom = source.At(x0, y1)[c] * (1 - ax) + source.At(x1, y1)[c] * ax;
          o[c] = static_cast<uint8_t>(std::lround(top * (1 - ay) + bottom * ay));
        }
      }
    }
  }
  return out;
}

StillFrame FrameStillPicture(FaceDetector& detector, std::string_view bytes, bool pick_largest) {
  StillFrame result;
  const bool jpeg = StartsWith(bytes, "\xFF\xD8");
  // Faces of at least a sixth of the short side are searched for (a head of a quarter of the
  // picture's height and more: a portrait). That needs about 480 pixels along the short side,
  // so a JPEG is decoded at the largest reduction that still gives that much.
  int denom = 1;
  if (jpeg) {
    const JpegHeader header = [&] {
      try {
        return ReadJpegHeader(bytes);
      } catch (const EJpegError& e) {
        throw EStillFrameError(std::string("JPEG 图片无法读取：") + e.what());
      }
    }();
    result.orientation = JpegExifOrientation(bytes);
    const bool swap = OrientationSwapsSides(result.orientation);
    result.picture_width = swap ? header.height : header.width;
    result.picture_height = swap ? header.width : header.height;
    const int short_side = std::min(header.width, header.height);
    while (denom < 8 && short_side / (denom * 2) >= 480) denom *= 2;
  }
  Bitmap picture = OrientUpright(ReadPicture(bytes, denom), result.orientation);
  if (!jpeg) {
    result.picture_width = picture.width;
    result.picture_height = picture.height;
  }
  const int short_side = std::min(picture.width, picture.height);
  const std::vector<FaceBox> found =
      CountedFaces(detector.Detect(picture, std::max(kDetectorWindow, short_side / 6)));
  // Back to the full size's pixels.
  const double back_x = static_cast<double>(result.picture_width) / picture.width;
  const double back_y = static_cast<double>(result.picture_height) / picture.height;
  for (FaceBox f : found) {
    f.x = static_cast<int>(std::lround(f.x * back_x));
    f.w = static_cast<int>(std::lround(f.w * back_x));
    f.y = static_cast<int>(std::lround(f.y * back_y));
    f.h = static_cast<int>(std::lround(f.h * back_y));
    result.faces.push_back(f);
  }
  if (result.faces.empty()) throw EStillFrameError("未检测到人脸", StillProblem::kNoFace);
  if (result.faces.size() > 1 && !pick_largest) {
    throw EStillFrameError("画面中有多张人脸（" + std::to_string(result.faces.size()) +
                               " 张）；用 --pick largest 取最大的一张",
                           StillProblem::kSeveralFaces);
  }
  result.face = *std::max_element(result.faces.begin(), result.faces.end(),
                                  [](const FaceBox& a, const FaceBox& b) { return a.w < b.w; });
  result.whole = result.faces.size() == 1 &&
                 IsFramedPhoto(result.face, result.picture_width, result.picture_height);
  if (result.whole) {
    result.framing.crop = {0, 0, result.picture_width, result.picture_height};
  } else {
    result.framing = FrameStill(result.face, result.picture_width, result.picture_height);
  }
  if (result.framing.fit == FramingFit::kTooClose) {
    throw EStillFrameError("人脸离镜头太近：整个头部和双肩放不进 3:4 的照片",
                           StillProblem::kTooClose);
  }
  if (result.framing.fit == FramingFit::kTooFar) {
    throw EStillFrameError("人脸太小：取景框只有 " + std::to_string(result.framing.crop.w) + "x" +
                               std::to_string(result.framing.crop.h) + " 像素",
                           StillProblem::kTooFar);
  }
  // The crop at the largest reduction that keeps it at least the photo's size.
  if (jpeg) {
    int crop_denom = 1;
    while (crop_denom < 8 && result.framing.crop.h / (crop_denom * 2) >= kFramedPhotoHeight) {
      crop_denom *= 2;
    }
    if (crop_denom != denom) {
      result.searched = std::move(picture);
      picture = OrientUpright(ReadPicture(bytes, crop_denom), result.orientation);
    }
  }
  const double sx = static_cast<double>(picture.width) / result.picture_width;
  const double sy = static_cast<double>(picture.height) / result.picture_height;
  const CropRect& c = result.framing.crop;
  const int x0 = static_cast<int>(std::lround(c.x * sx)),
            y0 = static_cast<int>(std::lround(c.y * sy));
  const int x1 = std::min(picture.width, static_cast<int>(std::lround((c.x + c.w) * sx)));
  const int y1 = std::min(picture.height, static_cast<int>(std::lround((c.y + c.h) * sy)));
  result.photo = ResizeBitmap(CopyRect(picture, x0, y0, x1 - x0, y1 - y0), kFramedPhotoWidth,
                              kFramedPhotoHeight);
  if (result.searched.empty()) result.searched = std::move(picture);
  return result;
}

}  // namespace mirestal
