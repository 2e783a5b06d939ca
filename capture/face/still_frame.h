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

// The picture cannot be framed; the message is for the operator (UTF-8).
class EStillFrameError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A picture file's pixels: JPEG (libjpeg, decoded at 1/scale_denom), PNG (libpng) or BMP
// (ReadBmp), told apart by their signatures. Throws EStillFrameError for anything else or a
// picture that does not decode.
Bitmap ReadPicture(std::string_view bytes, int scale_denom = 1);

struct StillFrame {
  int picture_width = 0;  // the file's full size
  int picture_height = 0;
  std::vector<FaceBox> faces;  // counted faces (CountedFaces), in full-size pixels
  FaceBox face;                // the one framed
  StillFraming framing;        // crop in full-size pixels
  Bitmap photo;                // kFramedPhotoWidth x kFramedPhotoHeight
};

// Finds the faces of at least a sixth of the short side (JPEG files are decoded at a reduced
// scale for that), frames the face by the
// rule and cuts the photo out of the picture at a resolution that is at least the photo's
// (a large JPEG is decoded again at the largest reduction that still gives it). Throws
// EStillFrameError when there is no face, when there are several and !pick_largest, and when
// the face is too close or too far for any valid crop.
StillFrame FrameStillPicture(FaceDetector& detector, std::string_view bytes, bool pick_largest);

// `source` resampled to width x height: area averaging where it shrinks, bilinear where it
// grows.
Bitmap ResizeBitmap(const Bitmap& source, int width, int height);

}  // namespace mirestal
