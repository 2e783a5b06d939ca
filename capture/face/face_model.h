// dlib's frontal face detector as dlib::serialize writes it, uncompressed. The array is
// generated at build time by face_model_gen (see CMakeLists.txt).
#pragma once

#include <cstddef>

namespace mirestal {

extern const unsigned char kFrontalFaceModel[];
extern const size_t kFrontalFaceModelSize;

}  // namespace mirestal
