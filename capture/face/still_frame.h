// One still picture (JPEG, PNG or BMP, any size) framed by the rule and made into a photo as the
// capture button makes them (300x400): what `mirestal-cli frame` does.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "capture/bitmap.h"
#include "capture/face/face_detector.h"
#include "capture/face/framing.h"

namespace mirestal {

// The photo's size: the box of the 640x480 frame (crop.h).
inline constexpr int kFramedPhotoWidth = 300;
inline constexpr int kFramedPhotoHeight = 400;

// Why a picture gives no photo.
enum class StillProblem {
  kNotPicture,    // not a JPEG, PNG or BMP file, or one that does not decode completely
  kNoFace,
  kSeveralFaces,
  kTooClose,      // the head does not fit any 3:4 crop
  kTooFar,        // the crop would be smaller than the smallest photo
};

// The picture cannot be framed; the message is for the operator (UTF-8).
class EStillFrameError : public std::runtime_error {
 public:
  explicit EStillFrameError(const std::string& message,
                            StillProblem problem = StillProblem::kNotPicture)
      : std::runtime_error(message), problem_(problem) {}
  StillProblem problem() const { return problem_; }

 private:
  StillProblem problem_;
};

// A picture file's pixels: JPEG (libjpeg, decoded at 1/scale_denom), PNG (libpng) or BMP
// (ReadBmp), told apart by their signatures. Throws EStillFrameError for anything else or a
// picture that does not decode completely (a cut or corrupt JPEG included). The pixels are as
// stored: a JPEG's Exif orientation is not applied.
Bitmap ReadPicture(std::string_view bytes, int scale_denom = 1);

// True when the bytes start like a JPEG, PNG or BMP file.
bool LooksLikePicture(std::string_view bytes);

struct StillFrame {
  int picture_width = 0;  // the full size, upright (a JPEG's Exif orientation applied)
  int picture_height = 0;
  int orientation = 1;    // the JPEG's Exif orientation (orientation.h)
  // Already a photo of the standard: 3:4 with its one face framed within the rule's tolerances.
  // The crop is then the whole picture.
  bool whole = false;
  Bitmap searched;        // the upright picture as searched for faces (reduced)
  std::vector<FaceBox> faces;  // counted faces (CountedFaces), in full-size pixels
  FaceBox face;                // the one framed
  StillFraming framing;        // crop in full-size pixels
  Bitmap photo;                // kFramedPhotoWidth x kFramedPhotoHeight
};

// Turns a JPEG upright by its Exif orientation, finds the faces of at least a sixth of the short
// side (JPEG files are decoded at a reduced scale for that), frames the face by the rule (a
// picture that is already a photo of the standard is taken whole) and cuts the photo out of the
// picture at a resolution that is at least the photo's (a large JPEG is decoded again at the
// largest reduction that still gives it). Throws EStillFrameError when there is no face, when
// there are several and !pick_largest, and when the face is too close or too far for any valid
// crop.
StillFrame FrameStillPicture(FaceDetector& detector, std::string_view bytes, bool pick_largest);

// `source` resampled to width x height: area averaging where it shrinks, bilinear where it
// grows.
Bitmap ResizeBitmap(const Bitmap& source, int width, int height);

// Whether a w x h picture (3:4 within a pixel) with this one face is already framed as the rule
// wants a photo: head share, eye line and centre within the rule's tolerances.
bool IsFramedPhoto(const FaceBox& face, int width, int height,
                   const FramingRule& rule = kFramingRule);

}  // namespace mirestal
