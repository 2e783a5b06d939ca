// The photo standard as advice on a stored photo: face found, one face, centred, head neither
// too large nor too small, red or blue background. These lines never make a photo invalid for
// the upload package; the photo check carries them beside its defects.
#pragma once

#include <string>
#include <vector>

#include "capture/bitmap.h"
#include "capture/face/face_detector.h"
#include "capture/face/framing.h"
#include "capture/photo_check.h"

namespace mirestal {

inline constexpr char kAdviceNoFace[] = "未检测到人脸";
inline constexpr char kAdviceSeveralFaces[] = "多张人脸";
inline constexpr char kAdviceOffCentre[] = "人脸不居中";
inline constexpr char kAdviceHeadSize[] = "头部过大或过小";
inline constexpr char kAdviceBackground[] = "背景不是红色或蓝色";

// The advisory lines for `photo` (UTF-8), in the order above; empty when it meets the standard.
// Centre and head size use the framing rule's tolerances.
std::vector<std::string> PhotoStandardAdvice(FaceDetector& detector, const Bitmap& photo,
                                             const FramingRule& rule = kFramingRule);

// Whether the background is red or blue, judged on the border around the head: the band above
// the crown and the strips beside the head down to the ears (the shoulders start below). Most
// of those pixels (60%) must be clearly red or clearly blue. True when the border is too small
// to judge.
bool HasRedOrBlueBackground(const Bitmap& photo, const FaceBox& face,
                            const FramingRule& rule = kFramingRule);

// Sets rules.advise to PhotoStandardAdvice with a detector of its own (the check then calls
// it for every photo it decodes).
void AddPhotoStandardAdvice(PhotoRules& rules);

}  // namespace mirestal
