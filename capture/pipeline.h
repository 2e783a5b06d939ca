// The capture-and-save pipeline behind the capture button: grab a frame through the capture
// module, cut the marker box out of it at the camera's resolution, show it, and on confirmation
// store it as the student's photo. The main window only gathers the inputs, shows what the
// result says, and answers the confirmation.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "capture/bitmap.h"
#include "capture/photo_check.h"
#include "capture/photo_store.h"
#include "platform/file.h"

namespace mirestal {

// How the window shows a message.
enum class PhotoMessageKind {
  kNone,
  kInformation,  // information message: application title, the text, OK, no icon
  kError,        // general error report: message box with flags 16 (OK, stop icon)
};

// Message texts (UTF-8; "\r" is the line break of the message windows).
inline constexpr char kMsgNoStudent[] = "没有对应的学生\r\r请先选择数据文件";
inline constexpr char kMsgNoKeyField[] = "没有\"考籍号\"字段，无法拍照！";
inline constexpr char kMsgBadResolution[] = "请选择合适的分辨率:\r\r320x240 或 640x480 或 800x600";
inline constexpr char kMsgConfirmSave[] = "确认保存该照片吗？";
inline constexpr char kCaptionConfirmSave[] = "提示";
inline constexpr int kFlagsConfirmSave = 52;
inline constexpr char kMsgFileNotFound[] = "File not found";
// The name of the frame file the capture window writes.
inline constexpr char kFrameFileName[] = "tmp.bmp";
// A frame file shorter than this cannot hold a frame.
inline constexpr uint64_t kMinFrameFileBytes = 100;

// What the capture button's handler knows when it is pressed.
struct CatchPhotoRequest {
  bool roster_open = false;   // the roster dataset is open and holds at least one record
  bool has_key = false;       // the roster has the key field "考籍号"
  std::string key;            // the current record's key field value as text (GBK)
  int hor = 84;               // TrackBarHor position
  int ver = 19;               // TrackBarVer position
  bool save_at_once = false;  // UiCheckBoxSaveAtOnce
};

struct CatchPhotoResult {
  // The captured crop: when set, ImageCatchedPhoto shows it (stretched to 150x200).
  std::optional<Bitmap> crop;
  // Put back the student's stored photo (or empty the box): ShowStudentPhoto. Never set
  // together with `crop`.
  bool show_stored_photo = false;
  PhotoMessageKind message_kind = PhotoMessageKind::kNone;
  std::string message;                    // UTF-8
  bool repaint_grid = false;              // repaint DBGridList (the key cell turns green)
  // The photo written and checked after reading it back; never set when the write or the
  // check failed.
  std::optional<std::string> saved_path;
  int saved_quality = 0;    // the JPEG quality it was stored at
  std::string status_text;  // for the status bar (UTF-8): set when the quality was lowered
};

// Shows the crop in ImageCatchedPhoto and asks kMsgConfirmSave (caption kCaptionConfirmSave,
// flags 52, Yes the default). True for Yes.
using ConfirmSaveFn = std::function<bool(const Bitmap& crop)>;

class PhotoCapture {
 public:
  // `frame_folder` holds the frame file; empty: a folder of this process's own under the user's
  // temporary folder, created when first needed. `fs` reads and removes the frame file.
  explicit PhotoCapture(const PhotoStore& store, std::string frame_folder = "",
                        FileSystem& fs = FileSystem::Default());
  // Removes the process's own frame folder when it is empty.
  ~PhotoCapture();
  PhotoCapture(const PhotoCapture&) = delete;
  PhotoCapture& operator=(const PhotoCapture&) = delete;

  // The capture button. Refuses without a roster, without the key field, or for a key that
  // names no photo file (then the camera is not touched). Otherwise removes an old frame file
  // (a frame file that cannot be removed ends the capture: it would be taken for the new
  // frame), grabs into the frame file, resumes the preview, reads the frame back, checks its
  // width and cuts the crop out; the frame file is removed on every path. Then saves at once or
  // after `confirm` answered yes; otherwise asks the window to show the stored photo again.
  CatchPhotoResult CatchPhoto(const CatchPhotoRequest& request, const ConfirmSaveFn& confirm);

  // Stores `picture` as the photo of `key` (GBK) through StoreCheckedPhoto: at the highest
  // quality step that fits the photo limit, read back and decoded after the write. The photo
  // folder is created when missing; an existing photo, read-only or not, is replaced only by a
  // complete new file.
  CatchPhotoResult SaveCatchedPhoto(std::string_view key, const Bitmap& picture);

  // The frame file's path (creates the frame folder when it is the process's own).
  std::string FrameFilePath();

  // The byte limit of stored photos (default kDefaultMaxPhotoBytes).
  void SetMaxPhotoBytes(uint64_t bytes) { max_photo_bytes_ = bytes; }

 private:
  const PhotoStore& store_;
  std::string frame_folder_;
  std::string own_frame_folder_;  // the process folder once it was made
  FileSystem& fs_;
  uint64_t max_photo_bytes_;
};

// The information message for a key that names no photo file (UTF-8).
std::string RefusedKeyMessage(std::string_view key_gbk);
// The message when the photo folder cannot be created; `folder` ends in a separator.
std::string FolderNotCreatedMessage(const std::string& folder);

}  // namespace mirestal
