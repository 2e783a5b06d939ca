// The synthetic test card: a camera without hardware for demonstrations and tests. It shows a
// moving, deterministic picture at 320x240, 640x480 (the default) or 800x600, chosen in its
// format dialog (a choice put to the capture module's chooser): a real portrait that a face
// detector finds (head and shoulders of python3-skimage's public-domain astronaut.png, compiled
// in), or with MIRESTAL_TESTCARD=cartoon the drawn face-like figure on a blue background. The
// capture module selects it only when the environment variable MIRESTAL_CAMERA is "testcard".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "capture/bitmap.h"
#include "capture/capture_window.h"

namespace mirestal {

struct FrameSize {
  int width = 0;
  int height = 0;
  friend bool operator==(const FrameSize&, const FrameSize&) = default;
};

enum class TestCardPicture {
  kCartoon,   // the drawn figure
  kPortrait,  // the photograph
};
// kCartoon when MIRESTAL_TESTCARD is "cartoon", else kPortrait: what the card's window shows.
TestCardPicture TestCardPictureFromEnvironment();

// Frame number `frame` of the test card at width x height. The same arguments always give the
// same picture; the figure sways sideways from frame to frame and a bar runs along the bottom.
// Cartoon: the head is centred at (W/2 + sway, 0.42 H) with the figure scaled to the frame, so
// it sits inside the initial marker box at every size. Portrait: the face is centred at about
// (W/2 + sway, 0.36 H), its detector box about 0.3 H high.
Bitmap RenderTestCard(int width, int height, uint64_t frame,
                      TestCardPicture picture = TestCardPicture::kCartoon);

// Where the window layer shows a live picture that the back end produces itself.
class PreviewSurface {
 public:
  virtual ~PreviewSurface() = default;
  // Pulls a frame from `next_frame` every `interval_ms` and shows it, stretched to the
  // surface's size when `scale` is set. Replaces an earlier Start.
  virtual void Start(std::function<Bitmap()> next_frame, int interval_ms, bool scale) = 0;
  // Stops pulling; the last frame stays shown.
  virtual void Stop() = 0;
};
using PreviewSurfaceFactory = std::function<std::unique_ptr<PreviewSurface>(
    const CaptureHost& host, int x, int y, int width, int height)>;

class TestCardBackend : public CaptureBackend {
 public:
  static const std::vector<FrameSize>& Sizes();  // 320x240, 640x480, 800x600
  static constexpr FrameSize kDefaultSize{640, 480};
  static constexpr char kDriverName[] = "Mirestal test card";

  // The window layer's hook, used by windows made afterwards; without a surface the card runs
  // unseen. CaptureRelease and CaptureResetForTests clear it.
  static void SetPreviewSurfaceFactory(PreviewSurfaceFactory factory);

  std::unique_ptr<CaptureWindow> CreateCaptureWindow(const std::string& window_name,
                                                     const CaptureHost& host, int x, int y,
                                                     int width, int height) override;
  // Driver 0 only.
  std::optional<CaptureDriverDescription> GetDriverDescription(int index) override;
};

}  // namespace mirestal
