// The orientation a camera records in a JPEG file's Exif block (tag 0x0112), and the turn or
// mirror that shows the picture upright. Cameras store the sensor's rows as they come and only
// note how the camera was held; a picture taken in portrait is stored lying on its side.
#pragma once

#include <string_view>

#include "capture/bitmap.h"

namespace mirestal {

// The Exif values: 1 upright, 2 mirrored left-right, 3 turned half round, 4 mirrored top-bottom,
// 5 mirrored along the main diagonal, 6 to be turned a quarter clockwise, 7 mirrored along the
// other diagonal, 8 to be turned a quarter anticlockwise.
inline constexpr int kOrientationUpright = 1;

// The orientation in the first Exif APP1 segment of a JPEG file (before the picture data):
// 1-8, or kOrientationUpright when there is none, it is out of range, or the block is cut or
// malformed (offsets are checked against the segment; nothing outside it is read).
int JpegExifOrientation(std::string_view jpeg);

// True for 5-8: the upright picture's width is the stored height.
inline bool OrientationSwapsSides(int orientation) { return orientation >= 5 && orientation <= 8; }

// `stored` turned and mirrored so that it shows upright for `orientation` (1-8; anything else
// gives the picture unchanged).
Bitmap OrientUpright(Bitmap stored, int orientation);

}  // namespace mirestal
