// Framing geometry: the red marker box over the 320x240 preview, carried over to the frame.
#pragma once

namespace mirestal {

// The preview panel and the marker box inside it, in panel pixels.
inline constexpr int kPreviewWidth = 320;
inline constexpr int kPreviewHeight = 240;
inline constexpr int kMarkerBoxWidth = 150;
inline constexpr int kMarkerBoxHeight = 200;
// Slider ranges: the room the box (plus its 2-pixel bar) leaves in the panel.
inline constexpr int kTrackBarHorMax = 168;  // 320 - 150 - 2
inline constexpr int kTrackBarVerMax = 38;   // 240 - 200 - 2
inline constexpr int kTrackBarHorInitial = 84;
inline constexpr int kTrackBarVerInitial = 19;

struct CropRect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  friend bool operator==(const CropRect&, const CropRect&) = default;
};

// Frame widths from which a photo is cut: 320, 640 and 800. The height is not checked.
bool IsAcceptedFrameWidth(int frame_width);

// The crop rectangle of a frame_width x frame_height frame for slider values hor and ver:
//   w = Round(W*150/320), h = Round(H*200/240), x = Round(W*hor/320), y = Round(H*ver/240),
// each product exact, divided in double, rounded to nearest with ties to even.
CropRect ComputeCropRect(int frame_width, int frame_height, int hor, int ver);

// Round to nearest, ties to even, whatever the floating-point rounding mode is.
double RoundHalfEven(double value);

}  // namespace mirestal
