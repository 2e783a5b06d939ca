// The picture box of the student photo panel. It holds nothing, a stored photo (JPEG bytes
// whose header was read when loaded; decoded when first drawn), or a captured crop, and draws
// any of them stretched to its size.
#pragma once

#include <QImage>
#include <QWidget>
#include <string>

#include "capture/bitmap.h"

namespace mirestal {

class PhotoBox : public QWidget {
  Q_OBJECT

 public:
  enum class Content { kEmpty, kStoredPhoto, kCapture };

  explicit PhotoBox(QWidget* parent = nullptr);

  void Clear();
  // Takes a stored photo's bytes. Reads the JPEG header of a non-empty file and throws
  // EJpegError when it cannot be read (the box is then left as it was). A zero-length file
  // becomes an empty picture.
  void LoadStoredPhoto(std::string jpeg_bytes);
  void ShowCapture(const Bitmap& crop);

  Content content() const { return content_; }
  // The picture as drawn (decoding a stored photo now if needed); null when there is none or
  // the stored bytes do not decode.
  QImage Picture() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Content content_ = Content::kEmpty;
  std::string jpeg_;
  mutable QImage image_;
  mutable bool decoded_ = false;
};

}  // namespace mirestal
