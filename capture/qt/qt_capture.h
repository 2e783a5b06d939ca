// The Qt back ends of the capture module: the real camera through Qt Multimedia, and the preview
// surface of the synthetic test card. Host panels are QWidgets. The camera's format and source
// dialogs are choices put to the module's chooser (CaptureSetChooser), never dialogs of their own.
//
// The application calls RegisterQtCaptureBackend() once, before CaptureStart(), and
// CaptureRelease() before its QApplication ends.
//
// Without Qt Multimedia (MIRESTAL_QT_MULTIMEDIA 0, the Windows build) the camera is the system's
// capture window (capture/win32/) as a child of the host panel's native window; the test card
// and the conversions stay the same.
#pragma once

#include <QImage>
#include <QObject>
#include <QWidget>
#include <optional>
#if MIRESTAL_QT_MULTIMEDIA
#include <QElapsedTimer>
#include <QVideoFrame>
#endif

#include "capture/bitmap.h"
#include "capture/capture_window.h"

class QVideoSink;

namespace mirestal {

// Pixel conversions. Any frame format that Qt can convert is accepted; an invalid frame or
// image gives an empty Bitmap.
#if MIRESTAL_QT_MULTIMEDIA
Bitmap VideoFrameToBitmap(const QVideoFrame& frame);
#endif
Bitmap ImageToBitmap(const QImage& image);
QImage BitmapToImage(const Bitmap& bitmap);

// Installs the Qt Multimedia camera (on Windows the system's capture window) as the capture module's camera back end and gives the test
// card a Qt preview surface.
void RegisterQtCaptureBackend();

// The child widget in the host panel that shows the live picture: the latest image, stretched
// to the widget's size when scaling is on, otherwise at its own size from the top-left corner.
class PreviewWidget : public QWidget {
  Q_OBJECT

 public:
  explicit PreviewWidget(QWidget* parent);
  void SetImage(QImage image);
  void SetScale(bool on);
  const QImage& image() const { return image_; }
  int frames_shown() const { return frames_shown_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
  bool scale_ = true;
  int frames_shown_ = 0;
};

#if MIRESTAL_QT_MULTIMEDIA
// Keeps the latest frame that a QVideoSink delivers. The camera window grabs from here instead
// of through QImageCapture, which would need GStreamer plugins this system does not carry.
class FrameGrabber : public QObject {
  Q_OBJECT

 public:
  explicit FrameGrabber(QVideoSink* sink, QObject* parent = nullptr);
  bool HasFrame() const { return latest_.isValid(); }
  // A frame that came no longer than `max_age_ms` ago: a camera that stopped delivering (pulled
  // out, switched off) must not have its last picture taken for the current one.
  bool HasFreshFrame(qint64 max_age_ms) const {
    return HasFrame() && arrived_.isValid() && arrived_.elapsed() <= max_age_ms;
  }
  // Forgets the latest frame (another camera is being connected).
  void Clear() {
    latest_ = QVideoFrame();
    arrived_.invalidate();
  }
  // The latest frame at its full resolution; empty when none has come.
  Bitmap Grab() const { return VideoFrameToBitmap(latest_); }
  const QVideoFrame& latest() const { return latest_; }

 signals:
  void FrameArrived(const QVideoFrame& frame);

 private:
  QVideoFrame latest_;
  QElapsedTimer arrived_;
};

class QtCameraBackend : public CaptureBackend {
 public:
  // Driver i is QMediaDevices::videoInputs()[i]. With no device there is no driver at all:
  // no sink is ever attached, so Qt's stand-in colour bars never reach the program.
  std::unique_ptr<CaptureWindow> CreateCaptureWindow(const std::string& window_name,
                                                     const CaptureHost& host, int x, int y,
                                                     int width, int height) override;
  std::optional<CaptureDriverDescription> GetDriverDescription(int index) override;
};
#endif  // MIRESTAL_QT_MULTIMEDIA

}  // namespace mirestal
