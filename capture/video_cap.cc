#include "capture/video_cap.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "capture/testcard.h"

namespace mirestal {
namespace {

// The platform's file-name buffers hold 255 bytes and a terminating zero.
constexpr size_t kNameBufferBytes = 255;
constexpr uint32_t kMicroSecPerFrame = 66667;  // 15 frames per second
constexpr uint32_t kEscapeKey = 27;
constexpr int kPreviewRateMs = 40;

struct CaptureState {
  std::unique_ptr<CaptureWindow> window;
  std::optional<CaptureHost> host;
  std::string driver_name = "No Driver";
  uint32_t frame_limit = 0;
  const std::string capture_file = "Video.avi";
  std::string image_file = "Image.bmp";
  CaptureStatusLabel* status_label = nullptr;
  CaptureNotifyHandler notify;
  CaptureMessageHandler show_message;
  CaptureChooser chooser;

  CaptureBackend* test_backend = nullptr;
  CaptureBackendFactory camera_factory;
  std::unique_ptr<CaptureBackend> owned_backend;  // made from the environment or the factory
};

CaptureState& State() {
  static CaptureState state;
  return state;
}

std::string NameBuffer(const std::string& name) { return name.substr(0, kNameBufferBytes); }

// The whole first word as a decimal whole number (optional sign), or nullopt.
std::optional<long long> LeadingWholeNumber(std::string_view text) {
  std::string_view word = text.substr(0, text.find(' '));
  size_t i = 0;
  bool negative = false;
  if (i < word.size() && (word[i] == '+' || word[i] == '-')) negative = word[i++] == '-';
  if (i == word.size()) return std::nullopt;
  long long value = 0;
  for (; i < word.size(); ++i) {
    if (word[i] < '0' || word[i] > '9') return std::nullopt;
    if (value > (INT64_MAX - 9) / 10) return std::nullopt;
    value = value * 10 + (word[i] - '0');
  }
  return negative ? -value : value;
}

}  // namespace

void CaptureSetHost(const CaptureHost& host) { State().host = host; }
void CaptureSetStatusLabel(CaptureStatusLabel* label) { State().status_label = label; }
void CaptureSetNotify(CaptureNotifyHandler handler) { State().notify = std::move(handler); }
void CaptureSetMessageHandler(CaptureMessageHandler handler) {
  State().show_message = std::move(handler);
}

bool CaptureStart() {
  CaptureState& s = State();
  if (!s.host) return false;
  if (CaptureBackend* backend = CaptureActiveBackend()) {
    s.window = backend->CreateCaptureWindow("Mirestal capture", *s.host, 0, 0, s.host->width,
                                            s.host->height);
  }
  if (s.window && s.window->SetStatusCallback(nullptr) &&
      s.window->SetStatusCallback(&CaptureStatusCallback)) {
    int index = 0;
    while (index < 10 && !CaptureConnectDriver(index)) ++index;
    if (auto description = CaptureActiveBackend()->GetDriverDescription(index)) {
      s.driver_name = description->name;
    }
    if (!s.window->SetCaptureFile(NameBuffer(s.capture_file))) {
      const std::string message = s.driver_name + ": Error in capFileSetCaptureFile";
      if (s.show_message) {
        s.show_message(message);
      } else {
        std::fprintf(stderr, "%s\n", message.c_str());
      }
    }
    return true;
  }
  if (s.window) CaptureShutdown();
  s.window.reset();
  return false;
}

bool CaptureConnectDriver(int index) {
  CaptureState& s = State();
  if (!s.window) return false;
  if (!s.window->DriverConnect(index)) return false;
  CaptureParms parms;
  if (!s.window->GetSequenceSetup(&parms)) return true;
  parms.dwRequestMicroSecPerFrame = kMicroSecPerFrame;
  parms.fLimitEnabled = false;
  parms.fCaptureAudio = false;
  parms.fMCIControl = false;
  parms.fYield = true;
  parms.vKeyAbort = kEscapeKey;
  parms.fAbortLeftMouse = false;
  parms.fAbortRightMouse = false;
  return s.window->SetSequenceSetup(parms);
}

void CaptureShutdown() {
  CaptureState& s = State();
  if (!s.window) return;
  s.window->SetStatusCallback(nullptr);
  s.window->DriverDisconnect();
  s.window.reset();
}

void CaptureSetFrameLimit(uint32_t frames) { State().frame_limit = frames; }

void CapturePreviewOn() {
  CaptureWindow* w = State().window.get();
  if (!w) return;
  w->SetScale(true);
  w->SetPreviewRate(kPreviewRateMs);
  w->SetOverlay(false);
  w->SetPreview(true);
}

void CaptureResumePreview() {
  CaptureWindow* w = State().window.get();
  if (!w) return;
  w->SetOverlay(false);
  w->SetScale(true);
  w->SetPreviewRate(kPreviewRateMs);
  w->SetPreview(true);
}

bool CaptureHasSourceDialog() {
  CaptureWindow* w = State().window.get();
  if (!w) return true;
  // Without a driver the query fails; the record then keeps its start values, which offer no
  // dialog, so the buttons of a camera-less window are disabled rather than doing nothing.
  CaptureDriverCaps caps;
  w->GetDriverCaps(&caps);
  return caps.fHasDlgVideoSource;
}

bool CaptureHasFormatDialog() {
  CaptureWindow* w = State().window.get();
  if (!w) return true;
  CaptureDriverCaps caps;
  w->GetDriverCaps(&caps);
  return caps.fHasDlgVideoFormat;
}

void CaptureShowFormatDialog() {
  if (CaptureWindow* w = State().window.get()) w->DlgVideoFormat();
}

void CaptureShowSourceDialog() {
  if (CaptureWindow* w = State().window.get()) w->DlgVideoSource();
}

void CaptureSetImageFile(const std::string& name) { State().image_file = name; }

void CaptureGrabToFile() {
  CaptureState& s = State();
  if (!s.window) return;
  s.window->GrabFrame();
  s.window->SaveDib(NameBuffer(s.image_file));
}

Bitmap CaptureLatestFrame() {
  CaptureWindow* w = State().window.get();
  return w ? w->LatestFrame() : Bitmap();
}

int CaptureStatusCallback(CaptureWindow* window, int status_code, const char* text) {
  CaptureState& s = State();
  std::string_view message = text ? text : "";
  if (s.status_label) {
    s.status_label->SetCaption(std::string(message));
    s.status_label->Repaint();
  }
  if (status_code == kCaptureStatusCaptureFrames) {
    // A first word that is not a whole number (the text is in the platform's language) is
    // ignored; a negative count never reaches the limit.
    std::optional<long long> frames = LeadingWholeNumber(message);
    if (frames && *frames >= static_cast<long long>(s.frame_limit)) {
      if (window) window->Abort();
      if (s.notify) s.notify(nullptr);
    }
  }
  return 1;
}

const std::string& CaptureDriverName() { return State().driver_name; }
const std::string& CaptureImageFile() { return State().image_file; }
const std::string& CaptureFileName() { return State().capture_file; }
uint32_t CaptureFrameLimit() { return State().frame_limit; }
bool CaptureHasWindow() { return State().window != nullptr; }

void CaptureRegisterCameraBackend(CaptureBackendFactory factory) {
  State().camera_factory = std::move(factory);
}

void CaptureUseBackend(CaptureBackend* backend) { State().test_backend = backend; }

CaptureBackend* CaptureActiveBackend() {
  CaptureState& s = State();
  if (s.test_backend) return s.test_backend;
  if (!s.owned_backend) {
    const char* camera = std::getenv("MIRESTAL_CAMERA");
    if (camera && std::strcmp(camera, "testcard") == 0) {
      s.owned_backend = std::make_unique<TestCardBackend>();
    } else if (s.camera_factory) {
      s.owned_backend = s.camera_factory();
    }
  }
  return s.owned_backend.get();
}

void CaptureSetChooser(CaptureChooser chooser) { State().chooser = std::move(chooser); }

std::optional<int> CaptureChoose(const CaptureChoice& choice) {
  const CaptureChooser& chooser = State().chooser;
  if (!chooser) return std::nullopt;
  std::optional<int> chosen = chooser(choice);
  if (chosen && (*chosen < 0 || *chosen >= static_cast<int>(choice.items.size()))) {
    return std::nullopt;
  }
  return chosen;
}

void CaptureRelease() {
  CaptureState& s = State();
  CaptureShutdown();  // the window goes before the back end that made it
  s.owned_backend.reset();
  s.test_backend = nullptr;
  s.camera_factory = nullptr;
  TestCardBackend::SetPreviewSurfaceFactory(nullptr);
  s.host.reset();
  s.status_label = nullptr;
  s.notify = nullptr;
  s.show_message = nullptr;
  s.chooser = nullptr;
}

void CaptureResetForTests() {
  CaptureRelease();
  CaptureState& s = State();
  s.driver_name = "No Driver";
  s.frame_limit = 0;
  s.image_file = "Image.bmp";
}

}  // namespace mirestal
