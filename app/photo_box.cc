#include "app/photo_box.h"

#include <QPainter>

#include "capture/jpeg.h"
#include "capture/qt/qt_capture.h"

namespace mirestal {

PhotoBox::PhotoBox(QWidget* parent) : QWidget(parent) {}

void PhotoBox::Clear() {
  content_ = Content::kEmpty;
  jpeg_.clear();
  image_ = QImage();
  decoded_ = true;
  update();
}

void PhotoBox::LoadStoredPhoto(std::string jpeg_bytes) {
  if (!jpeg_bytes.empty()) ReadJpegHeader(jpeg_bytes);  // throws before anything changes
  content_ = Content::kStoredPhoto;
  jpeg_ = std::move(jpeg_bytes);
  image_ = QImage();
  decoded_ = jpeg_.empty();
  update();
}

void PhotoBox::ShowCapture(const Bitmap& crop) {
  content_ = Content::kCapture;
  jpeg_.clear();
  image_ = BitmapToImage(crop);
  decoded_ = true;
  update();
}

QImage PhotoBox::Picture() const {
  if (!decoded_) {
    decoded_ = true;
    try {
      image_ = BitmapToImage(DecodeJpeg(jpeg_));
    } catch (...) {  // drawn as an empty picture; painting never raises
      image_ = QImage();
    }
  }
  return image_;
}

void PhotoBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().window());
  const QImage picture = Picture();
  if (!picture.isNull()) painter.drawImage(rect(), picture);
}

}  // namespace mirestal
