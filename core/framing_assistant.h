// Guided framing in the main window without widgets: the worker thread that analyses live
// frames, and the assistant that turns each analysis into the advice line, a following move of
// the two sliders and the moment of an automatic capture.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "capture/bitmap.h"
#include "capture/face/framing.h"

namespace mirestal {

// One worker thread owning one FaceDetector (which is not thread-safe). The caller hands it the
// newest frame whenever it likes; a frame not yet started is replaced by a newer one (dropped),
// so nothing ever queues and the analysis runs at the rate the machine allows. All members are
// called from one thread (the window's).
class FrameAnalyser {
 public:
  FrameAnalyser();
  // Stops the worker: a frame being analysed is finished first (one analysis, tens of ms).
  ~FrameAnalyser();
  FrameAnalyser(const FrameAnalyser&) = delete;
  FrameAnalyser& operator=(const FrameAnalyser&) = delete;

  // Hands `frame` to the worker; a frame waiting from before is dropped.
  void Offer(Bitmap frame);
  // A frame waits or is being analysed.
  bool Busy() const;
  // The newest finished analysis not taken before; nullopt when there is none.
  std::optional<FrameAnalysis> TakeResult();
  // Frames analysed and frames dropped so far.
  uint64_t analysed() const;
  uint64_t dropped() const;

 private:
  void Run();

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<Bitmap> pending_;
  std::optional<FrameAnalysis> result_;
  bool working_ = false;
  bool stop_ = false;
  uint64_t analysed_ = 0;
  uint64_t dropped_ = 0;
  std::thread thread_;  // last: started once everything above exists
};

// What the window should do after one analysis.
struct FramingStep {
  Advice advice = Advice::kNoFace;
  // Following: the slider positions to set; nullopt when they stay.
  std::optional<std::pair<int, int>> sliders;
  // Auto-capture: press the capture button now.
  bool capture = false;
};

// The state behind the window's "自动取景", "自动跟随人脸" and "取景合适时自动拍照". Time is passed
// in, so tests need no clock.
class FramingAssistant {
 public:
  using Clock = std::chrono::steady_clock;

  // How long an analysis stays good for "自动取景" (older: the frame is analysed again).
  static constexpr std::chrono::milliseconds kFreshFor{300};

  void set_follow(bool on);
  // Switching it on arms the capture for the student in front of the camera.
  void set_auto_capture(bool on);
  bool follow() const { return follow_; }
  bool auto_capture() const { return auto_capture_; }

  // One analysis of the live picture, with the sliders where they are now, whether the
  // operator holds one and whether a capture could start now. Following moves the box towards
  // the face (never while a slider is held, and only for exactly one counted face); the advice
  // is for the box where it will be; the capture fires once the advice has read "取景合适" for a
  // second while no slider was held and a capture could start. After it fired it waits for the
  // next student: another student made current (NextStudent) and the picture once without a
  // face (the one photographed has left), in either order.
  FramingStep OnAnalysis(const FrameAnalysis& analysis, int hor, int ver, bool slider_held,
                         bool capture_ready, Clock::time_point now);

  // "自动取景": the slider positions for the strongest counted face of `analysis`; nullopt
  // without a face.
  static std::optional<SliderFraming> FrameNow(const FrameAnalysis& analysis);
  // The latest analysis when it came at most kFreshFor before `now`.
  const FrameAnalysis* FreshAnalysis(Clock::time_point now) const;
  // The advice last given; nullopt before the first analysis.
  std::optional<Advice> advice() const { return advice_; }

  // Another student is current: the capture may fire again once the face has left the picture.
  void NextStudent() { hold_.Rearm(); }
  // The camera stopped or changed: forget the last analysis.
  void Forget();

 private:
  bool follow_ = false;
  bool auto_capture_ = false;
  FramingHold hold_;
  bool face_left_ = true;  // no face was seen since the last automatic capture
  SliderSmoother smoother_;
  std::optional<std::pair<int, int>> followed_;  // the positions following set last
  std::optional<FrameAnalysis> latest_;
  Clock::time_point latest_at_{};
  std::optional<Advice> advice_;
};

}  // namespace mirestal
