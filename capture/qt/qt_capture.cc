#include "capture/qt/qt_capture.h"

#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <cstring>
#if MIRESTAL_QT_MULTIMEDIA
#include <QCamera>
#include <QCameraDevice>
#include <QElapsedTimer>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVideoFrameFormat>
#include <QVideoSink>
#else
#include "capture/win32/vfw_capture.h"
#endif

#include "capture/testcard.h"
#include "capture/video_cap.h"
#include "platform/file.h"

namespace mirestal {

Bitmap ImageToBitmap(const QImage& image) {
  if (image.isNull()) return Bitmap();
  const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
  Bitmap b;
  b.width = rgb.width();
  b.height = rgb.height();
  b.pixels.resize(static_cast<size_t>(b.width) * b.height * 3);
  for (int y = 0; y < b.height; ++y) {
    std::memcpy(b.Row(y), rgb.constScanLine(y), static_cast<size_t>(b.width) * 3);
  }
  return b;
}

#if MIRESTAL_QT_MULTIMEDIA
Bitmap VideoFrameToBitmap(const QVideoFrame& frame) {
  if (!frame.isValid()) return Bitmap();
  return ImageToBitmap(frame.toImage());
}
#endif

QImage BitmapToImage(const Bitmap& bitmap) {
  QImage image(bitmap.width, bitmap.height, QImage::Format_RGB888);
  for (int y = 0; y < bitmap.height; ++y) {
    std::memcpy(image.scanLine(y), bitmap.Row(y), static_cast<size_t>(bitmap.width) * 3);
  }
  return image;
}

// --- PreviewWidget ---

PreviewWidget::PreviewWidget(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PreviewWidget::SetImage(QImage image) {
  image_ = std::move(image);
  ++frames_shown_;
  update();
}

void PreviewWidget::SetScale(bool on) {
  scale_ = on;
  update();
}

void PreviewWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::black);
  if (image_.isNull()) return;
  if (scale_) {
    painter.drawImage(rect(), image_);
  } else {
    painter.drawImage(QPoint(0, 0), image_);
  }
}

#if MIRESTAL_QT_MULTIMEDIA
// --- FrameGrabber ---

FrameGrabber::FrameGrabber(QVideoSink* sink, QObject* parent) : QObject(parent) {
  connect(sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
    if (!frame.isValid()) return;
    latest_ = frame;
    arrived_.start();
    emit FrameArrived(frame);
  });
}

#endif

namespace {

#if MIRESTAL_QT_MULTIMEDIA
bool WriteFrameFile(const std::string& path, const Bitmap& frame) {
  if (frame.empty()) return false;
  try {
    const std::string bytes = WriteBmp(frame);
    FileSystem::Default().Create(path)->WriteAt(0, bytes.data(), bytes.size());
    return true;
  } catch (const IoError&) {
    return false;
  }
}

#endif

QWidget* HostWidget(const CaptureHost& host) { return static_cast<QWidget*>(host.native); }

PreviewWidget* MakePreview(const CaptureHost& host, int x, int y, int width, int height) {
  QWidget* parent = HostWidget(host);
  if (!parent) return nullptr;
  auto* preview = new PreviewWidget(parent);
  preview->setGeometry(x, y, width, height);
  preview->show();
  return preview;
}

#if MIRESTAL_QT_MULTIMEDIA
QString FormatText(const QCameraFormat& f) {
  return QStringLiteral("%1 x %2  %3  %4 fps")
      .arg(f.resolution().width())
      .arg(f.resolution().height())
      .arg(QVideoFrameFormat::pixelFormatToString(f.pixelFormat()))
      .arg(f.maxFrameRate(), 0, 'f', 0);
}

// 640x480 when the camera offers it (the resolution the photos are made for), else the widest
// format of an accepted width, else the camera's first.
QCameraFormat PreferredFormat(const QList<QCameraFormat>& formats) {
  QCameraFormat best;
  for (const QCameraFormat& f : formats) {
    const QSize s = f.resolution();
    if (s == QSize(640, 480)) return f;
    if ((s.width() == 320 || s.width() == 800) &&
        (best.isNull() || s.width() > best.resolution().width())) {
      best = f;
    }
  }
  return best.isNull() && !formats.isEmpty() ? formats.first() : best;
}

// --- The Qt Multimedia camera ---

// A grab takes the latest frame only when it is this recent; cameras deliver several a second.
constexpr qint64 kMaxFrameAgeMs = 1000;

class QtCameraWindow : public CaptureWindowBase {
 public:
  QtCameraWindow(const CaptureHost& host, int x, int y, int width, int height)
      : host_(host), preview_(MakePreview(host, x, y, width, height)), grabber_(&sink_) {
    QObject::connect(&grabber_, &FrameGrabber::FrameArrived, &grabber_,
                     [this](const QVideoFrame& frame) { ShowFrame(frame); });
  }
  ~QtCameraWindow() override {
    Disconnect();
    delete preview_.data();
  }

  bool DriverConnect(int index) override {
    const QList<QCameraDevice> devices = QMediaDevices::videoInputs();
    if (index < 0 || index >= devices.size()) return false;
    Disconnect();
    device_ = devices[index];
    camera_ = std::make_unique<QCamera>(device_);
    const QCameraFormat format = PreferredFormat(device_.videoFormats());
    if (!format.isNull()) camera_->setCameraFormat(format);
    QObject::connect(camera_.get(), &QCamera::errorOccurred, camera_.get(),
                     [this](QCamera::Error, const QString& text) {
                       Report(0, text.toStdString().c_str());
                     });
    // The sink is attached only to a real device (see QtCameraBackend).
    session_.setCamera(camera_.get());
    session_.setVideoSink(&sink_);
    set_connected(true);
    camera_->start();
    return camera_->error() == QCamera::NoError;
  }
  bool DriverDisconnect() override {
    Disconnect();
    return true;
  }
  bool GetDriverCaps(CaptureDriverCaps* caps) override {
    if (!connected()) return false;
    *caps = CaptureDriverCaps{};
    caps->fHasDlgVideoFormat = true;
    caps->fHasDlgVideoSource = true;
    caps->fCaptureInitialized = true;
    return true;
  }
  bool SetScale(bool on) override {
    CaptureWindowBase::SetScale(on);
    if (preview_) preview_->SetScale(on);
    return true;
  }
  bool SetPreview(bool on) override {
    preview_on_ = on;
    return connected();
  }
  bool DlgVideoFormat() override {
    if (!connected()) return false;
    const QList<QCameraFormat> formats = device_.videoFormats();
    CaptureChoice choice{"视频格式", "格式:", {}, 0, host_};
    for (const QCameraFormat& f : formats) {
      if (f == camera_->cameraFormat()) choice.current = static_cast<int>(choice.items.size());
      choice.items.push_back(FormatText(f).toStdString());
    }
    if (std::optional<int> chosen = CaptureChoose(choice)) {
      camera_->stop();
      camera_->setCameraFormat(formats[*chosen]);
      camera_->start();
    }
    return true;
  }
  bool DlgVideoSource() override {
    const QList<QCameraDevice> devices = QMediaDevices::videoInputs();
    if (devices.isEmpty()) return false;
    CaptureChoice choice{"视频源", "摄像头:", {}, 0, host_};
    for (int i = 0; i < devices.size(); ++i) {
      if (devices[i] == device_) choice.current = i;
      choice.items.push_back(devices[i].description().toStdString());
    }
    if (std::optional<int> chosen = CaptureChoose(choice)) DriverConnect(*chosen);
    return true;
  }
  bool GrabFrame() override {
    preview_on_ = false;
    grabbed_.reset();  // a failed grab must never leave an older frame to be saved
    if (!grabber_.HasFreshFrame(kMaxFrameAgeMs)) return false;
    grabbed_ = grabber_.Grab();
    return true;
  }
  bool SaveDib(const std::string& path) override {
    return grabbed_ && WriteFrameFile(path, *grabbed_);
  }
  Bitmap LatestFrame() override {
    if (!preview_on_ || !grabber_.HasFreshFrame(kMaxFrameAgeMs)) return Bitmap();
    return grabber_.Grab();
  }

 private:
  void Disconnect() {
    if (!camera_) return;
    camera_->stop();
    session_.setVideoSink(nullptr);
    session_.setCamera(nullptr);
    camera_.reset();
    set_connected(false);
    grabber_.Clear();
  }
  void ShowFrame(const QVideoFrame& frame) {
    if (!preview_on_ || !preview_) return;
    if (since_shown_.isValid() && since_shown_.elapsed() < rate_ms()) return;
    since_shown_.restart();
    preview_->SetImage(frame.toImage());
  }

  CaptureHost host_;
  QPointer<PreviewWidget> preview_;
  QMediaCaptureSession session_;
  QVideoSink sink_;
  FrameGrabber grabber_;
  QCameraDevice device_;
  std::unique_ptr<QCamera> camera_;
  bool preview_on_ = false;
  QElapsedTimer since_shown_;
  std::optional<Bitmap> grabbed_;
};

#else  // !MIRESTAL_QT_MULTIMEDIA

// The system's capture window in a Qt panel: the panel's own native window (made on first use)
// is the parent the capture window needs.
class NativeHostBackend : public CaptureBackend {
 public:
  std::unique_ptr<CaptureWindow> CreateCaptureWindow(const std::string& window_name,
                                                     const CaptureHost& host, int x, int y,
                                                     int width, int height) override {
    QWidget* panel = HostWidget(host);
    if (!panel) return nullptr;
    CaptureHost native = host;
    native.native = reinterpret_cast<void*>(panel->winId());
    return system_->CreateCaptureWindow(window_name, native, x, y, width, height);
  }
  std::optional<CaptureDriverDescription> GetDriverDescription(int index) override {
    return system_->GetDriverDescription(index);
  }

 private:
  std::unique_ptr<CaptureBackend> system_ = MakeVfwCaptureBackend();
};

#endif  // MIRESTAL_QT_MULTIMEDIA

// --- The test card's window pieces ---

class QtPreviewSurface : public PreviewSurface {
 public:
  QtPreviewSurface(const CaptureHost& host, int x, int y, int width, int height)
      : preview_(MakePreview(host, x, y, width, height)) {
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
      if (preview_ && next_frame_) preview_->SetImage(BitmapToImage(next_frame_()));
    });
  }
  ~QtPreviewSurface() override { delete preview_.data(); }

  void Start(std::function<Bitmap()> next_frame, int interval_ms, bool scale) override {
    next_frame_ = std::move(next_frame);
    if (preview_) preview_->SetScale(scale);
    timer_.start(interval_ms);
  }
  void Stop() override { timer_.stop(); }

 private:
  QPointer<PreviewWidget> preview_;
  QTimer timer_;
  std::function<Bitmap()> next_frame_;
};

}  // namespace

#if MIRESTAL_QT_MULTIMEDIA
std::unique_ptr<CaptureWindow> QtCameraBackend::CreateCaptureWindow(const std::string&,
                                                                    const CaptureHost& host, int x,
                                                                    int y, int width, int height) {
  return std::make_unique<QtCameraWindow>(host, x, y, width, height);
}

std::optional<CaptureDriverDescription> QtCameraBackend::GetDriverDescription(int index) {
  const QList<QCameraDevice> devices = QMediaDevices::videoInputs();
  if (index < 0 || index >= devices.size()) return std::nullopt;
  return CaptureDriverDescription{devices[index].description().toStdString(), ""};
}

#endif

void RegisterQtCaptureBackend() {
#if MIRESTAL_QT_MULTIMEDIA
  CaptureRegisterCameraBackend([] { return std::make_unique<QtCameraBackend>(); });
#else
  CaptureRegisterCameraBackend([] { return std::make_unique<NativeHostBackend>(); });
#endif
  TestCardBackend::SetPreviewSurfaceFactory(
      [](const CaptureHost& host, int x, int y, int width, int height) {
        return std::make_unique<QtPreviewSurface>(host, x, y, width, height);
      });
}

}  // namespace mirestal
