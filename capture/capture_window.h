// The capture window that the capture module drives, and the back end that makes capture
// windows. The operations mirror what the module needs from a platform capture window: a child
// window in a host showing the live picture of one of drivers 0-9, the driver's capabilities and
// sequence settings, a status callback, preview, scaling, overlay and rate, the format and source
// dialogs, grabbing a frame and saving it as a BMP file, and aborting a running capture.
//
// Back ends: the scripted fake (capture/fake_camera.h), the synthetic test card
// (capture/testcard.h) and the Qt Multimedia camera (capture/qt/).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "capture/bitmap.h"

namespace mirestal {

// The panel that hosts the capture window. `native` is opaque to the capture module; a back end
// that draws knows what it is (a QWidget* for the Qt back ends). The size is the panel's.
struct CaptureHost {
  void* native = nullptr;
  int width = 0;
  int height = 0;
};

// Sequence-capture settings, field for field the platform's CAPTUREPARMS record.
struct CaptureParms {
  uint32_t dwRequestMicroSecPerFrame = 0;
  bool fMakeUserHitOKToCapture = false;
  uint32_t wPercentDropForError = 0;
  bool fYield = false;
  uint32_t dwIndexSize = 0;
  uint32_t wChunkGranularity = 0;
  bool fUsingDOSMemory = false;
  uint32_t wNumVideoRequested = 0;
  bool fCaptureAudio = false;
  uint32_t wNumAudioRequested = 0;
  uint32_t vKeyAbort = 0;
  bool fAbortLeftMouse = false;
  bool fAbortRightMouse = false;
  bool fLimitEnabled = false;
  uint32_t wTimeLimit = 0;
  bool fMCIControl = false;
  bool fStepMCIDevice = false;
  uint32_t dwMCIStartTime = 0;
  uint32_t dwMCIStopTime = 0;
  bool fStepCaptureAt2x = false;
  uint32_t wStepCaptureAverageFrames = 0;
  uint32_t dwAudioBufferSize = 0;
  bool fDisableWriteCache = false;
  uint32_t AVStreamMaster = 0;
  friend bool operator==(const CaptureParms&, const CaptureParms&) = default;
};

// Driver capabilities, the fields of the platform's CAPDRIVERCAPS record that have a meaning
// here. The capture module reads only the two dialog flags.
struct CaptureDriverCaps {
  uint32_t wDeviceIndex = 0;
  bool fHasOverlay = false;
  bool fHasDlgVideoSource = false;
  bool fHasDlgVideoFormat = false;
  bool fHasDlgVideoDisplay = false;
  bool fCaptureInitialized = false;
  bool fDriverSuppliesPalettes = false;
};

class CaptureWindow;

// Called by the capture window on the main thread, during a request, whenever its status
// changes. `text` is the status text (zero-terminated). Answers 1.
using CaptureStatusProc = int (*)(CaptureWindow* window, int status_code, const char* text);

// Status code reported while a sequence capture runs; the text starts with the frame count.
inline constexpr int kCaptureStatusCaptureFrames = 510;

// One capture window. Every request is synchronous; "false" is the window's answer 0.
// Destroying the object destroys the window.
class CaptureWindow {
 public:
  virtual ~CaptureWindow() = default;

  // Sets (or with nullptr clears) the status callback.
  virtual bool SetStatusCallback(CaptureStatusProc proc) = 0;
  // Connects driver `index` (0-9); false when there is no working driver there.
  virtual bool DriverConnect(int index) = 0;
  virtual bool DriverDisconnect() = 0;
  // False when no driver is connected; *caps is then left as it was.
  virtual bool GetDriverCaps(CaptureDriverCaps* caps) = 0;
  virtual bool GetSequenceSetup(CaptureParms* parms) = 0;
  virtual bool SetSequenceSetup(const CaptureParms& parms) = 0;
  // The file name of sequence captures (never written by this program).
  virtual bool SetCaptureFile(const std::string& name) = 0;
  // Scale on: the preview is stretched to the window's size.
  virtual bool SetScale(bool on) = 0;
  virtual bool SetPreviewRate(int milliseconds) = 0;
  virtual bool SetOverlay(bool on) = 0;
  virtual bool SetPreview(bool on) = 0;
  // The driver's modal dialogs; they return when the operator closes them.
  virtual bool DlgVideoFormat() = 0;
  virtual bool DlgVideoSource() = 0;
  // Takes the current frame into the window's frame buffer and ends the preview.
  virtual bool GrabFrame() = 0;
  // Writes the grabbed frame as a complete BMP file (file header, information header, pixels)
  // of the frame's own size at `path` before returning. Writes nothing when there is no frame.
  virtual bool SaveDib(const std::string& path) = 0;
  // Stops a running sequence capture.
  virtual bool Abort() = 0;
  // The picture the preview shows now, at the frame's own size, without ending the preview
  // (for the live face analysis). Empty when there is none: no driver, the preview is off, no
  // recent frame, or a window that cannot give one.
  virtual Bitmap LatestFrame() { return Bitmap(); }
};

// The settings state that every drawing capture window keeps alike: the status callback, whether
// a driver is connected, the sequence settings, scaling and the preview rate. The sequence
// settings are readable and settable only while a driver is connected.
class CaptureWindowBase : public CaptureWindow {
 public:
  bool SetStatusCallback(CaptureStatusProc proc) override {
    status_ = proc;
    return true;
  }
  bool GetSequenceSetup(CaptureParms* parms) override {
    if (!connected_) return false;
    *parms = parms_;
    return true;
  }
  bool SetSequenceSetup(const CaptureParms& parms) override {
    if (!connected_) return false;
    parms_ = parms;
    return true;
  }
  bool SetCaptureFile(const std::string&) override { return true; }
  // Windows that show the setting override these and call them first.
  bool SetScale(bool on) override {
    scale_ = on;
    return true;
  }
  bool SetPreviewRate(int milliseconds) override {
    rate_ms_ = milliseconds;
    return true;
  }
  bool SetOverlay(bool) override { return true; }
  bool Abort() override { return true; }

 protected:
  bool connected() const { return connected_; }
  void set_connected(bool on) { connected_ = on; }
  bool scale() const { return scale_; }
  int rate_ms() const { return rate_ms_; }
  // Passes a status to the callback, when there is one.
  void Report(int code, const char* text) {
    if (status_) status_(this, code, text);
  }

 private:
  CaptureStatusProc status_ = nullptr;
  bool connected_ = false;
  bool scale_ = false;
  int rate_ms_ = 40;
  CaptureParms parms_;
};

struct CaptureDriverDescription {
  std::string name;
  std::string version;
};

class CaptureBackend {
 public:
  virtual ~CaptureBackend() = default;
  // A visible child window of `host` at (x, y), width x height; nullptr when none can be made.
  virtual std::unique_ptr<CaptureWindow> CreateCaptureWindow(const std::string& window_name,
                                                             const CaptureHost& host, int x, int y,
                                                             int width, int height) = 0;
  // The description of driver `index`; nullopt when there is none (always for index 10).
  virtual std::optional<CaptureDriverDescription> GetDriverDescription(int index) = 0;
};

}  // namespace mirestal
