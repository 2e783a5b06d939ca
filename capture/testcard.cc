#include "capture/testcard.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <string_view>

#include "capture/jpeg.h"
#include "capture/video_cap.h"
#include "platform/file.h"

namespace mirestal {

// capture/testcard_portrait.jpg, compiled in (see capture/CMakeLists.txt).
extern const unsigned char kTestCardPortrait[];
extern const size_t kTestCardPortraitSize;

namespace {

const Bitmap& Portrait() {
  static const Bitmap portrait = DecodeJpeg(std::string_view(
      reinterpret_cast<const char*>(kTestCardPortrait), kTestCardPortraitSize));
  return portrait;
}

// The portrait scaled to the frame, bilinear; the view is the portrait less a margin at each
// side that the sway uses.
void DrawPortrait(Bitmap& b, double sway) {
  const Bitmap& p = Portrait();
  constexpr double kMargin = 16;
  const double view_w = p.width - 2 * kMargin;
  const double scale = view_w / b.width;  // portrait pixels per frame pixel
  const double x0 = kMargin - sway * view_w / 320;
  for (int y = 0; y < b.height; ++y) {
    const double fy = std::clamp((y + 0.5) * scale - 0.5, 0.0, p.height - 1.0);
    const int y0 = static_cast<int>(fy), y1 = std::min(y0 + 1, p.height - 1);
    const double ay = fy - y0;
    uint8_t* out = b.Row(y);
    for (int x = 0; x < b.width; ++x, out += 3) {
      const double fx = std::clamp(x0 + (x + 0.5) * scale - 0.5, 0.0, p.width - 1.0);
      const int xa = static_cast<int>(fx), xb = std::min(xa + 1, p.width - 1);
      const double ax = fx - xa;
      for (int c = 0; c < 3; ++c) {
        const double top = p.At(xa, y0)[c] * (1 - ax) + p.At(xb, y0)[c] * ax;
        const double bottom = p.At(xa, y1)[c] * (1 - ax) + p.At(xb, y1)[c] * ax;
        out[c] = static_cast<uint8_t>(top * (1 - ay) + bottom * ay + 0.5);
      }
    }
  }
}

struct Rgb {
  uint8_t r, g, b;
};

PreviewSurfaceFactory& SurfaceFactory() {
  static PreviewSurfaceFactory factory;
  return factory;
}

void FillEllipse(Bitmap& b, double cx, double cy, double rx, double ry, Rgb c, double max_y = 1e9) {
  const int y0 = std::max(0, static_cast<int>(cy - ry));
  const int y1 = std::min(b.height - 1, static_cast<int>(std::min(cy + ry, max_y)));
  for (int y = y0; y <= y1; ++y) {
    const double dy = (y + 0.5 - cy) / ry;
    if (dy * dy > 1) continue;
    const double half = rx * std::sqrt(1 - dy * dy);
    const int x0 = std::max(0, static_cast<int>(std::ceil(cx - half - 0.5)));
    const int x1 = std::min(b.width - 1, static_cast<int>(std::floor(cx + half - 0.5)));
    for (int x = x0; x <= x1; ++x) {
      uint8_t* p = b.At(x, y);
      p[0] = c.r;
      p[1] = c.g;
      p[2] = c.b;
    }
  }
}

void DrawCartoon(Bitmap& b, double sway) {
  const int width = b.width, height = b.height;
  // Blue background, lighter towards the top, as for a registration photo.
  for (int y = 0; y < height; ++y) {
    const uint8_t shade = static_cast<uint8_t>(60 + 100 * (height - y) / height);
    uint8_t* p = b.Row(y);
    for (int x = 0; x < width; ++x, p += 3) {
      p[0] = 20;
      p[1] = static_cast<uint8_t>(shade / 2);
      p[2] = shade;
    }
  }
  // Figure in preview units (320x240) scaled to the frame.
  const double sx = width / 320.0, sy = height / 240.0;
  const double cx = (160 + sway) * sx, cy = 100 * sy;
  FillEllipse(b, cx, 230 * sy, 80 * sx, 60 * sy, {40, 40, 60});             // shoulders
  FillEllipse(b, cx, 150 * sy, 18 * sx, 20 * sy, {225, 185, 150});          // neck
  FillEllipse(b, cx, cy - 14 * sy, 44 * sx, 44 * sy, {30, 25, 20}, cy);     // hair
  FillEllipse(b, cx, cy, 38 * sx, 50 * sy, {235, 195, 160});                // face
  FillEllipse(b, cx - 14 * sx, cy - 8 * sy, 6 * sx, 4 * sy, {40, 30, 30});  // eyes
  FillEllipse(b, cx + 14 * sx, cy - 8 * sy, 6 * sx, 4 * sy, {40, 30, 30});
  FillEllipse(b, cx, cy + 8 * sy, 3 * sx, 7 * sy, {210, 160, 130});  // nose
  FillEllipse(b, cx, cy + 26 * sy, 13 * sx, 4 * sy, {190, 60, 70});  // mouth
}

class TestCardWindow : public CaptureWindowBase {
 public:
  TestCardWindow(const CaptureHost& host, int x, int y, int width, int height)
      : host_(host), picture_(TestCardPictureFromEnvironment()) {
    if (SurfaceFactory()) surface_ = SurfaceFactory()(host, x, y, width, height);
  }

  bool DriverConnect(int index) override {
    if (index != 0) return false;
    set_connected(true);
    Report(0, "Mirestal test card connected");
    return true;
  }
  bool DriverDisconnect() override {
    StopPreview();
    set_connected(false);
    return true;
  }
  bool GetDriverCaps(CaptureDriverCaps* caps) override {
    if (!connected()) return false;
    *caps = CaptureDriverCaps{};
    caps->fHasDlgVideoFormat = true;
    caps->fHasDlgVideoSource = false;  // one source only
    caps->fCaptureInitialized = true;
    return true;
  }
  bool SetPreview(bool on) override {
    if (!connected()) return false;
    previewing_ = on;
    if (on) {
      if (surface_) surface_->Start([this] { return ShowNextFrame(); }, rate_ms(), scale());
    } else {
      StopPreview();
    }
    return true;
  }
  Bitmap LatestFrame() override {
    if (!connected() || !previewing_) return Bitmap();
    // Before the surface has pulled a frame (or without a surface) the next one stands in.
    if (shown_.empty()) shown_ = NextFrame();
    return shown_;
  }
  bool DlgVideoFormat() override {
    if (!connected()) return false;
    const std::vector<FrameSize>& sizes = TestCardBackend::Sizes();
    CaptureChoice choice{"视频格式", "分辨率:", {}, 0, host_};
    for (const FrameSize& s : sizes) {
      if (s == size_) choice.current = static_cast<int>(choice.items.size());
      choice.items.push_back(std::to_string(s.width) + " x " + std::to_string(s.height));
    }
    if (std::optional<int> chosen = CaptureChoose(choice)) {
      size_ = sizes[*chosen];
      shown_ = Bitmap();
    }
    return true;
  }
  bool DlgVideoSource() override { return false; }
  bool GrabFrame() override {
    grabbed_.reset();  // a failed grab must never leave an older frame to be saved
    if (!connected()) return false;
    StopPreview();
    grabbed_ = NextFrame();
    return true;
  }
  bool SaveDib(const std::string& path) override {
    if (!grabbed_) return false;
    try {
      const std::string bytes = WriteBmp(*grabbed_);
      FileSystem::Default().Create(path)->WriteAt(0, bytes.data(), bytes.size());
      return true;
    } catch (const IoError&) {
      return false;
    }
  }

 private:
  Bitmap NextFrame() { return RenderTestCard(size_.width, size_.height, frame_++, picture_); }
  Bitmap ShowNextFrame() {
    shown_ = NextFrame();
    return shown_;
  }
  void StopPreview() {
    previewing_ = false;
    shown_ = Bitmap();
    if (surface_) surface_->Stop();
  }

  CaptureHost host_;
  TestCardPicture picture_;
  std::unique_ptr<PreviewSurface> surface_;
  FrameSize size_ = TestCardBackend::kDefaultSize;
  uint64_t frame_ = 0;
  bool previewing_ = false;
  Bitmap shown_;  // the frame the preview shows now; empty when none
  std::optional<Bitmap> grabbed_;
};

}  // namespace

TestCardPicture TestCardPictureFromEnvironment() {
  const char* value = std::getenv("MIRESTAL_TESTCARD");
  return value && std::string_view(value) == "cartoon" ? TestCardPicture::kCartoon
                                                       : TestCardPicture::kPortrait;
}

Bitmap RenderTestCard(int width, int height, uint64_t frame, TestCardPicture picture) {
  Bitmap b(width, height);
  const double sway = 12.0 * std::sin(static_cast<double>(frame % 100) * std::numbers::pi / 50);
  if (picture == TestCardPicture::kPortrait) {
    DrawPortrait(b, sway);
  } else {
    DrawCartoon(b, sway);
  }
  // A bar running along the bottom shows that the picture is live.
  const int bar_y0 = height - std::max(2, height / 60);
  const int bar_w = std::max(4, width / 20);
  const int bar_x = static_cast<int>((frame * 4 * static_cast<uint64_t>(std::max(1, width / 320))) %
                                     static_cast<uint64_t>(width));
  for (int y = bar_y0; y < height; ++y) {
    for (int x = bar_x; x < std::min(width, bar_x + bar_w); ++x) {
      uint8_t* p = b.At(x, y);
      p[0] = p[1] = p[2] = 255;
    }
  }
  return b;
}

const std::vector<FrameSize>& TestCardBackend::Sizes() {
  static const std::vector<FrameSize> sizes = {{320, 240}, {640, 480}, {800, 600}};
  return sizes;
}

void TestCardBackend::SetPreviewSurfaceFactory(PreviewSurfaceFactory factory) {
  SurfaceFactory() = std::move(factory);
}

std::unique_ptr<CaptureWindow> TestCardBackend::CreateCaptureWindow(const std::string&,
                                                                    const CaptureHost& host, int x,
                                                                    int y, int width, int height) {
  return std::make_unique<TestCardWindow>(host, x, y, width, height);
}

std::optional<CaptureDriverDescription> TestCardBackend::GetDriverDescription(int index) {
  if (index != 0) return std::nullopt;
  return CaptureDriverDescription{kDriverName, "1.0"};
}

}  // namespace mirestal
