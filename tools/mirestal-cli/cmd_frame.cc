// frame IMAGE OUT.jpg [--pick largest]: one still picture (JPEG, PNG or BMP) framed by the
// framing rule around its face and stored as the capture button stores photos (300x400, the
// checked store: quality 80, lowered only to fit the photo limit). Prints the face box and the
// crop in the picture's pixels. Exit status 1 with the reason when there is no face, more than
// one (unless --pick largest), or no valid crop.
#include <cstdio>
#include <stdexcept>
#include <string>

#include "capture/face/still_frame.h"
#include "capture/photo_check.h"
#include "tools/mirestal-cli/command.h"

namespace mirestal::cli {

namespace {

// The file's bytes; larger files than any camera's picture are refused before they are read.
std::string ReadPictureFile(const std::string& path) {
  uint64_t size = 0;
  {
    std::unique_ptr<File> file = FileSystem::Default().Open(path, Access::kRead, Share::kReadWrite);
    size = file->Size();
  }
  if (size > kMaxReadPhotoBytes * 4) {
    throw std::runtime_error(path + ": 文件过大（" + std::to_string(size / (1024 * 1024)) +
                             " MB）");
  }
  return PhotoStore(PhotoStore::FolderOf(path)).ReadWholeFile(path);
}

std::string Box(int x, int y, int w, int h) {
  return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(w) + "x" +
         std::to_string(h);
}

int RunFrame(const std::vector<std::string>& args) {
  std::string image, out;
  bool pick_largest = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--pick") {
      if (++i == args.size() || args[i] != "largest") throw UsageError("--pick takes 'largest'");
      pick_largest = true;
    } else if (a.starts_with("--")) {
      throw UsageError("unexpected argument '" + a + "'");
    } else if (image.empty()) {
      image = a;
    } else if (out.empty()) {
      out = a;
    } else {
      throw UsageError("unexpected argument '" + a + "'");
    }
  }
  if (out.empty()) throw UsageError("frame takes a picture and the photo to write");

  const std::string bytes = ReadPictureFile(image);
  FaceDetector detector;
  StillFrame framed;
  try {
    framed = FrameStillPicture(detector, bytes, pick_largest);
  } catch (const EStillFrameError& e) {
    throw std::runtime_error(image + ": " + e.what());
  }
  const PhotoStore store(PhotoStore::FolderOf(out));
  const StoredPhoto stored = StoreCheckedPhoto(store, out, framed.photo);

  const FaceBox& f = framed.face;
  const CropRect& c = framed.framing.crop;
  std::printf("图片 %s %dx%d\n", image.c_str(), framed.picture_width, framed.picture_height);
  std::printf("人脸 %s（共 %zu 张）\n", Box(f.x, f.y, f.w, f.h).c_str(), framed.faces.size());
  std::printf("取景 %s%s\n", Box(c.x, c.y, c.w, c.h).c_str(),
              framed.framing.shifted ? "（已移入图片内，人脸不在正中）" : "");
  std::printf("照片 %s %dx%d，质量 %d，%llu 字节\n", out.c_str(), kFramedPhotoWidth,
              kFramedPhotoHeight, stored.quality, static_cast<unsigned long long>(stored.bytes));
  return 0;
}

CommandRegistrar frame_command({"frame", "frame IMAGE OUT.jpg [--pick largest]", RunFrame});

}  // namespace
}  // namespace mirestal::cli
