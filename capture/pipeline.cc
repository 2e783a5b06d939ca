#include "capture/pipeline.h"

#include <filesystem>

#include "capture/crop.h"
#include "capture/jpeg.h"
#include "capture/video_cap.h"
#include "platform/paths.h"

namespace mirestal {
namespace {

CatchPhotoResult Message(PhotoMessageKind kind, std::string text) {
  CatchPhotoResult r;
  r.message_kind = kind;
  r.message = std::move(text);
  return r;
}

// Removes the frame file when the capture ends, whichever way it ends.
class FrameFileRemover {
 public:
  FrameFileRemover(FileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {}
  ~FrameFileRemover() {
    if (!PathExists(path_)) return;
    try {
      fs_.Remove(path_);
    } catch (const IoError&) {
      ForceDeleteFile(path_);  // read-only; the next capture refuses to run over it otherwise
    }
  }
  FrameFileRemover(const FrameFileRemover&) = delete;
  FrameFileRemover& operator=(const FrameFileRemover&) = delete;

 private:
  FileSystem& fs_;
  std::string path_;
};

}  // namespace

std::string RefusedKeyMessage(std::string_view key_gbk) {
  return "考籍号\"" + KeyForMessage(TrimKey(key_gbk)) + "\"不能作为照片文件名，无法拍照！";
}

std::string FolderNotCreatedMessage(const std::string& folder) {
  return "无法创建图片文件夹:\r" + DisplayPath(folder) + "照片文件保存失败！\r\r请检查注册号是否错误或其他问题";
}

PhotoCapture::PhotoCapture(const PhotoStore& store, std::string frame_folder, FileSystem& fs)
    : store_(store),
      frame_folder_(std::move(frame_folder)),
      fs_(fs),
      max_photo_bytes_(kDefaultMaxPhotoBytes) {
  if (!frame_folder_.empty() && frame_folder_.back() != '/') frame_folder_ += '/';
}

PhotoCapture::~PhotoCapture() {
  if (own_frame_folder_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(FsPath(own_frame_folder_), ignored);  // only an empty folder goes
}

std::string PhotoCapture::FrameFilePath() {
  if (!frame_folder_.empty()) return frame_folder_ + kFrameFileName;
  own_frame_folder_ = ProcessTempDirectory();
  return own_frame_folder_ + kFrameFileName;
}

CatchPhotoResult PhotoCapture::CatchPhoto(const CatchPhotoRequest& request,
                                          const ConfirmSaveFn& confirm) {
  if (!request.roster_open) return Message(PhotoMessageKind::kInformation, kMsgNoStudent);
  if (!request.has_key) return Message(PhotoMessageKind::kInformation, kMsgNoKeyField);
  if (!store_.PhotoFileName(request.key)) {
    return Message(PhotoMessageKind::kInformation, RefusedKeyMessage(request.key));
  }

  std::string frame_path;
  try {
    frame_path = FrameFilePath();
  } catch (const IoError& e) {
    return Message(PhotoMessageKind::kError, e.what());
  }
  if (PathExists(frame_path)) ForceDeleteFile(frame_path);
  if (PathExists(frame_path)) {
    return Message(PhotoMessageKind::kError, "无法删除上次拍照留下的临时图像文件:\r" + DisplayPath(frame_path) +
                                                 "\r\r请删除该文件后再拍照");
  }
  FrameFileRemover remover(fs_, frame_path);

  CaptureSetImageFile(frame_path);
  CaptureGrabToFile();
  CaptureResumePreview();

  std::string bytes;
  try {
    std::unique_ptr<File> file = fs_.Open(frame_path, Access::kRead, Share::kReadWrite);
    const uint64_t size = file->Size();
    if (size < kMinFrameFileBytes) {
      return Message(PhotoMessageKind::kError,
                     "摄像头没有送来完整的图像（图像文件不足100字节），请检查摄像头后再拍照");
    }
    bytes.resize(static_cast<size_t>(size));
    size_t done = 0;
    while (done < bytes.size()) {
      size_t got = file->ReadAt(done, bytes.data() + done, bytes.size() - done);
      if (got == 0) break;
      done += got;
    }
    bytes.resize(done);
  } catch (const IoError& e) {
    return Message(PhotoMessageKind::kError,
                   e.kind() == IoErrorKind::kNotFound ? kMsgFileNotFound : e.what());
  }

  Bitmap crop;
  try {
    const Bitmap frame = ReadBmp(bytes);
    if (!IsAcceptedFrameWidth(frame.width)) {
      return Message(PhotoMessageKind::kInformation, kMsgBadResolution);
    }
    const CropRect r = ComputeCropRect(frame.width, frame.height, request.hor, request.ver);
    crop = CopyRect(frame, r.x, r.y, r.w, r.h);
  } catch (const EInvalidGraphic& e) {
    return Message(PhotoMessageKind::kError, e.what());
  }

  if (request.save_at_once || (confirm && confirm(crop))) {
    CatchPhotoResult saved = SaveCatchedPhoto(request.key, crop);
    // The box keeps the capture unless the window is told to show the stored photo again.
    if (!saved.show_stored_photo) saved.crop = std::move(crop);
    return saved;
  }
  CatchPhotoResult declined;
  declined.show_stored_photo = true;
  return declined;
}

CatchPhotoResult PhotoCapture::SaveCatchedPhoto(std::string_view key, const Bitmap& picture) {
  std::optional<std::string> path = store_.PhotoFileName(key);
  if (!path) {
    CatchPhotoResult r = Message(PhotoMessageKind::kInformation, RefusedKeyMessage(key));
    r.show_stored_photo = true;
    return r;
  }
  const std::string folder = PhotoStore::FolderOf(*path);
  if (!DirectoryExists(folder)) {
    PhotoStore::EnsurePhotoFolder(*path);
    if (!DirectoryExists(folder)) {
      CatchPhotoResult r = Message(PhotoMessageKind::kInformation, FolderNotCreatedMessage(folder));
      r.show_stored_photo = true;
      return r;
    }
  }
  StoredPhoto stored;
  try {
    stored = StoreCheckedPhoto(store_, *path, picture, max_photo_bytes_);
  } catch (const EPhotoCheckError& e) {
    // The file on the disk changed but is not the photo taken: not saved. The grid may show
    // the file's new state.
    CatchPhotoResult r = Message(PhotoMessageKind::kError, "照片保存后读回检查失败：" +
                                                               DisplayPath(*path) + "\r\r" + e.what());
    r.repaint_grid = true;
    return r;
  } catch (const IoError& e) {
    // The photo box keeps the capture; the old photo, if any, is untouched.
    return Message(PhotoMessageKind::kError, "Cannot create file \"" + DisplayPath(*path) + "\". " + e.reason());
  } catch (const EJpegError& e) {
    return Message(PhotoMessageKind::kError, e.what());
  }
  CatchPhotoResult r;
  r.repaint_grid = true;
  r.saved_path = *path;
  r.saved_quality = stored.quality;
  r.status_text = StoredPhotoStatus(stored, max_photo_bytes_);
  return r;
}

}  // namespace mirestal
