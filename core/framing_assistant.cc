#include "core/framing_assistant.h"

#include "capture/face/face_detector.h"

namespace mirestal {

// --- FrameAnalyser ---

FrameAnalyser::FrameAnalyser() : thread_([this] { Run(); }) {}

FrameAnalyser::~FrameAnalyser() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void FrameAnalyser::Offer(Bitmap frame) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pending_) ++dropped_;
    pending_ = std::move(frame);
  }
  wake_.notify_one();
}

bool FrameAnalyser::Busy() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return working_ || pending_.has_value();
}

std::optional<FrameAnalysis> FrameAnalyser::TakeResult() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<FrameAnalysis> result = std::move(result_);
  result_.reset();
  return result;
}

uint64_t FrameAnalyser::analysed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return analysed_;
}

uint64_t FrameAnalyser::dropped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

void FrameAnalyser::Run() {
  FaceDetector detector;  // made and used on this thread only
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stop_ || pending_.has_value(); });
    if (stop_) return;
    Bitmap frame = std::move(*pending_);
    pending_.reset();
    working_ = true;
    lock.unlock();
    FrameAnalysis analysis = AnalyseFrame(detector, frame);
    lock.lock();
    working_ = false;
    result_ = std::move(analysis);
    ++analysed_;
  }
}

// --- FramingAssistant ---

void FramingAssistant::set_follow(bool on) {
  follow_ = on;
  followed_.reset();
}

void FramingAssistant::set_auto_capture(bool on) {
  auto_capture_ = on;
  if (on) {
    hold_.Rearm();
    face_left_ = true;  // the student in front of the camera now is the one to photograph
  }
}

FramingStep FramingAssistant::OnAnalysis(const FrameAnalysis& analysis, int hor, int ver,
                                         bool slider_held, bool capture_ready,
                                         Clock::time_point now) {
  latest_ = analysis;
  latest_at_ = now;
  FramingStep step;
  if (follow_ && !slider_held && analysis.faces.size() == 1) {
    const SliderFraming target =
        FrameForSliders(analysis.faces.front(), analysis.frame_width, analysis.frame_height);
    // The operator moved a slider since following last did: the smoothing starts from there.
    const std::pair<int, int> now_at{hor, ver};
    if (followed_ != now_at) smoother_.Start(hor, ver);
    const std::pair<int, int> next = smoother_.Next(target.hor, target.ver);
    followed_ = next;
    if (next != now_at) {
      step.sliders = next;
      hor = next.first;
      ver = next.second;
    }
  }
  step.advice = AdviseFraming(
      analysis, ComputeCropRect(analysis.frame_width, analysis.frame_height, hor, ver));
  advice_ = step.advice;
  if (analysis.faces.empty()) face_left_ = true;
  if (auto_capture_) {
    step.capture = hold_.Update(step.advice, slider_held || !capture_ready || !face_left_, now);
    if (step.capture) face_left_ = false;
  }
  return step;
}

std::optional<SliderFraming> FramingAssistant::FrameNow(const FrameAnalysis& analysis) {
  if (analysis.faces.empty()) return std::nullopt;
  return FrameForSliders(analysis.faces.front(), analysis.frame_width, analysis.frame_height);
}

const FrameAnalysis* FramingAssistant::FreshAnalysis(Clock::time_point now) const {
  if (!latest_ || now - latest_at_ > kFreshFor) return nullptr;
  return &*latest_;
}

void FramingAssistant::Forget() {
  latest_.reset();
  advice_.reset();
  followed_.reset();
  // A held "取景合适" ends with the picture; a capture already made stays made.
  hold_.Update(Advice::kNoFace, false, Clock::time_point{});
}

}  // namespace mirestal
