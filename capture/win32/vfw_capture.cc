#include "capture/win32/vfw_capture.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// <vfw.h> after <windows.h>: it needs the window and multimedia types.
#include <mmsystem.h>
#include <vfw.h>

#include <cstring>
#include <map>
#include <string>

#include "capture/preview_frame.h"
#include "capture/video_cap.h"

namespace mirestal {
namespace {

// The capture windows of this process by handle, for the status callback (the platform calls
// it with the window handle only). One per process in practice; main thread only.
std::map<HWND, class VfwCaptureWindow*>& Windows() {
  static std::map<HWND, VfwCaptureWindow*> windows;
  return windows;
}

// UTF-8 to the ANSI code page, cut to the 255 bytes of the platform's name buffers.
std::string AnsiName(const std::string& utf8) {
  int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  int m = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), n, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(m), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, wide.data(), n, ansi.data(), m, nullptr, nullptr);
  if (ansi.size() > 255) ansi.resize(255);
  return ansi;
}

class VfwCaptureWindow : public CaptureWindow {
 public:
  explicit VfwCaptureWindow(HWND hwnd) : hwnd_(hwnd) { Windows()[hwnd_] = this; }
  ~VfwCaptureWindow() override {
    Send(WM_CAP_SET_CALLBACK_FRAME, 0, 0);
    Windows().erase(hwnd_);
    ::DestroyWindow(hwnd_);
  }
  VfwCaptureWindow(const VfwCaptureWindow&) = delete;
  VfwCaptureWindow& operator=(const VfwCaptureWindow&) = delete;

  bool SetStatusCallback(CaptureStatusProc proc) override {
    proc_ = proc;
    return Send(WM_CAP_SET_CALLBACK_STATUSA, 0,
                proc ? reinterpret_cast<LPARAM>(&StatusThunk) : LPARAM{0});
  }
  bool DriverConnect(int index) override {
    if (!Send(WM_CAP_DRIVER_CONNECT, index, 0)) return false;
    // Every preview frame passes the frame callback: the newest is kept for LatestFrame.
    Send(WM_CAP_SET_CALLBACK_FRAME, 0, reinterpret_cast<LPARAM>(&FrameThunk));
    return true;
  }
  bool DriverDisconnect() override {
    Send(WM_CAP_SET_CALLBACK_FRAME, 0, 0);
    latest_.clear();
    return Send(WM_CAP_DRIVER_DISCONNECT, 0, 0);
  }

  bool GetDriverCaps(CaptureDriverCaps* caps) override {
    CAPDRIVERCAPS c{};
    if (!Send(WM_CAP_DRIVER_GET_CAPS, sizeof c, reinterpret_cast<LPARAM>(&c))) return false;
    caps->wDeviceIndex = c.wDeviceIndex;
    caps->fHasOverlay = c.fHasOverlay;
    caps->fHasDlgVideoSource = c.fHasDlgVideoSource;
    caps->fHasDlgVideoFormat = c.fHasDlgVideoFormat;
    caps->fHasDlgVideoDisplay = c.fHasDlgVideoDisplay;
    caps->fCaptureInitialized = c.fCaptureInitialized;
    caps->fDriverSuppliesPalettes = c.fDriverSuppliesPalettes;
    return true;
  }

  bool GetSequenceSetup(CaptureParms* p) override {
    CAPTUREPARMS c{};
    if (!Send(WM_CAP_GET_SEQUENCE_SETUP, sizeof c, reinterpret_cast<LPARAM>(&c))) return false;
    *p = FromPlatform(c);
    return true;
  }
  bool SetSequenceSetup(const CaptureParms& p) override {
    CAPTUREPARMS c = ToPlatform(p);
    return Send(WM_CAP_SET_SEQUENCE_SETUP, sizeof c, reinterpret_cast<LPARAM>(&c));
  }

  bool SetCaptureFile(const std::string& name) override {
    return SendName(WM_CAP_FILE_SET_CAPTURE_FILEA, name);
  }
  bool SetScale(bool on) override { return Send(WM_CAP_SET_SCALE, on, 0); }
  bool SetPreviewRate(int ms) override { return Send(WM_CAP_SET_PREVIEWRATE, ms, 0); }
  bool SetOverlay(bool on) override { return Send(WM_CAP_SET_OVERLAY, on, 0); }
  bool SetPreview(bool on) override { return Send(WM_CAP_SET_PREVIEW, on, 0); }
  bool DlgVideoFormat() override { return Send(WM_CAP_DLG_VIDEOFORMAT, 0, 0); }
  bool DlgVideoSource() override { return Send(WM_CAP_DLG_VIDEOSOURCE, 0, 0); }
  bool GrabFrame() override { return Send(WM_CAP_GRAB_FRAME, 0, 0); }
  bool SaveDib(const std::string& path) override { return SendName(WM_CAP_FILE_SAVEDIBA, path); }
  bool Abort() override { return Send(WM_CAP_ABORT, 0, 0); }

  // The newest preview frame in the driver's format, as a Bitmap; none when the last frame is
  // older than half a second (preview off) or the format is one PreviewFrameToBitmap cannot read.
  Bitmap LatestFrame() override {
    if (latest_.empty() || ::GetTickCount64() - latest_at_ > 500) return Bitmap();
    const LRESULT size = ::SendMessageA(hwnd_, WM_CAP_GET_VIDEOFORMAT, 0, 0);
    if (size < static_cast<LRESULT>(sizeof(BITMAPINFOHEADER))) return Bitmap();
    std::string format(static_cast<size_t>(size), '\0');
    if (!Send(WM_CAP_GET_VIDEOFORMAT, static_cast<WPARAM>(size),
              reinterpret_cast<LPARAM>(format.data()))) {
      return Bitmap();
    }
    BITMAPINFOHEADER h;
    std::memcpy(&h, format.data(), sizeof h);
    return PreviewFrameToBitmap({static_cast<int>(h.biWidth), static_cast<int>(h.biHeight),
                                 h.biBitCount, static_cast<uint32_t>(h.biCompression)},
                                latest_);
  }

 private:
  bool Send(UINT message, WPARAM w, LPARAM l) {
    return ::SendMessageA(hwnd_, message, w, l) != 0;
  }
  bool SendName(UINT message, const std::string& utf8) {
    char buffer[256] = {};
    std::string ansi = AnsiName(utf8);
    std::memcpy(buffer, ansi.data(), ansi.size());
    return Send(message, 0, reinterpret_cast<LPARAM>(buffer));
  }

  static LRESULT CALLBACK StatusThunk(HWND hwnd, int code, LPCSTR text) {
    auto it = Windows().find(hwnd);
    if (it == Windows().end() || !it->second->proc_) return 1;
    return it->second->proc_(it->second, code, text ? text : "");
  }

  static LRESULT CALLBACK FrameThunk(HWND hwnd, LPVIDEOHDR header) {
    auto it = Windows().find(hwnd);
    if (it == Windows().end() || !header || !header->lpData) return 1;
    it->second->latest_.assign(reinterpret_cast<const char*>(header->lpData),
                               header->dwBytesUsed);
    it->second->latest_at_ = ::GetTickCount64();
    return 1;
  }

  // The module's record and the platform's name their fields alike: one copy serves both ways.
  template <typename To, typename From>
  static void CopyParms(const From& f, To& t) {
    t.dwRequestMicroSecPerFrame = f.dwRequestMicroSecPerFrame;
    t.fMakeUserHitOKToCapture = f.fMakeUserHitOKToCapture;
    t.wPercentDropForError = f.wPercentDropForError;
    t.fYield = f.fYield;
    t.dwIndexSize = f.dwIndexSize;
    t.wChunkGranularity = f.wChunkGranularity;
    t.fUsingDOSMemory = f.fUsingDOSMemory;
    t.wNumVideoRequested = f.wNumVideoRequested;
    t.fCaptureAudio = f.fCaptureAudio;
    t.wNumAudioRequested = f.wNumAudioRequested;
    t.vKeyAbort = f.vKeyAbort;
    t.fAbortLeftMouse = f.fAbortLeftMouse;
    t.fAbortRightMouse = f.fAbortRightMouse;
    t.fLimitEnabled = f.fLimitEnabled;
    t.wTimeLimit = f.wTimeLimit;
    t.fMCIControl = f.fMCIControl;
    t.fStepMCIDevice = f.fStepMCIDevice;
    t.dwMCIStartTime = f.dwMCIStartTime;
    t.dwMCIStopTime = f.dwMCIStopTime;
    t.fStepCaptureAt2x = f.fStepCaptureAt2x;
    t.wStepCaptureAverageFrames = f.wStepCaptureAverageFrames;
    t.dwAudioBufferSize = f.dwAudioBufferSize;
    t.fDisableWriteCache = f.fDisableWriteCache;
    t.AVStreamMaster = f.AVStreamMaster;
  }

  static CaptureParms FromPlatform(const CAPTUREPARMS& c) {
    CaptureParms p;
    CopyParms(c, p);
    return p;
  }

  // Starts from the window's current record so that fields this program does not model (none
  // today) keep their values.
  CAPTUREPARMS ToPlatform(const CaptureParms& p) {
    CAPTUREPARMS c{};
    Send(WM_CAP_GET_SEQUENCE_SETUP, sizeof c, reinterpret_cast<LPARAM>(&c));
    CopyParms(p, c);
    return c;
  }

  HWND hwnd_;
  CaptureStatusProc proc_ = nullptr;
  std::string latest_;  // the newest preview frame's bytes, in the driver's format
  ULONGLONG latest_at_ = 0;
};

class VfwCaptureBackend : public CaptureBackend {
 public:
  std::unique_ptr<CaptureWindow> CreateCaptureWindow(const std::string& window_name,
                                                     const CaptureHost& host, int x, int y,
                                                     int width, int height) override {
    HWND hwnd = ::capCreateCaptureWindowA(window_name.c_str(), WS_CHILD | WS_VISIBLE, x, y, width,
                                          height, static_cast<HWND>(host.native), 0);
    if (!hwnd) return nullptr;
    return std::make_unique<VfwCaptureWindow>(hwnd);
  }

  std::optional<CaptureDriverDescription> GetDriverDescription(int index) override {
    char name[80] = {};
    char version[100] = {};
    if (index < 0 || index > 0xFFFF ||
        !::capGetDriverDescriptionA(static_cast<WORD>(index), name, sizeof name, version,
                                    sizeof version)) {
      return std::nullopt;
    }
    return CaptureDriverDescription{name, version};
  }
};

}  // namespace

std::unique_ptr<CaptureBackend> MakeVfwCaptureBackend() {
  return std::make_unique<VfwCaptureBackend>();
}

void RegisterVfwCaptureBackend() { CaptureRegisterCameraBackend(&MakeVfwCaptureBackend); }

}  // namespace mirestal
