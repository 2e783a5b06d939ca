#include "capture/fake_camera.h"

#include "platform/file.h"

namespace mirestal {

class FakeCaptureWindow : public CaptureWindow {
 public:
  explicit FakeCaptureWindow(FakeCaptureBackend& b) : b_(b) { b_.window_ = this; }
  ~FakeCaptureWindow() override {
    b_.log.push_back("DestroyWindow");
    ++b_.windows_destroyed;
    b_.window_ = nullptr;
    b_.status_ = nullptr;
  }

  bool SetStatusCallback(CaptureStatusProc proc) override {
    b_.log.push_back(proc ? "SetStatusCallback(proc)" : "SetStatusCallback(none)");
    if (proc && b_.fail_status_callback) return false;
    b_.status_ = proc;
    return true;
  }
  bool DriverConnect(int index) override {
    b_.log.push_back("DriverConnect(" + std::to_string(index) + ")");
    if (!b_.drivers.count(index)) return false;
    b_.connected_driver = index;
    return true;
  }
  bool DriverDisconnect() override {
    b_.log.push_back("DriverDisconnect");
    b_.connected_driver = -1;
    return true;
  }
  bool GetDriverCaps(CaptureDriverCaps* caps) override {
    b_.log.push_back("GetDriverCaps");
    const FakeDriver* d = Driver();
    if (!d) return false;
    *caps = d->caps;
    return true;
  }
  bool GetSequenceSetup(CaptureParms* parms) override {
    b_.log.push_back("GetSequenceSetup");
    const FakeDriver* d = Driver();
    if (!d || d->sequence_setup_unreadable) return false;
    *parms = b_.initial_parms;
    return true;
  }
  bool SetSequenceSetup(const CaptureParms& parms) override {
    b_.log.push_back("SetSequenceSetup");
    const FakeDriver* d = Driver();
    if (!d || d->refuse_sequence_setup) return false;
    b_.applied_parms = parms;
    return true;
  }
  bool SetCaptureFile(const std::string& name) override {
    b_.log.push_back("SetCaptureFile(" + name + ")");
    return !b_.refuse_capture_file;
  }
  bool SetScale(bool on) override { return Log("SetScale", on); }
  bool SetPreviewRate(int ms) override {
    b_.log.push_back("SetPreviewRate(" + std::to_string(ms) + ")");
    return true;
  }
  bool SetOverlay(bool on) override { return Log("SetOverlay", on); }
  bool SetPreview(bool on) override {
    b_.preview = on && Driver() != nullptr;
    return Log("SetPreview", on);
  }
  bool DlgVideoFormat() override {
    b_.log.push_back("DlgVideoFormat");
    return Driver() && Driver()->caps.fHasDlgVideoFormat;
  }
  bool DlgVideoSource() override {
    b_.log.push_back("DlgVideoSource");
    return Driver() && Driver()->caps.fHasDlgVideoSource;
  }
  bool GrabFrame() override {
    b_.log.push_back("GrabFrame");
    b_.preview = false;
    for (const auto& [code, text] : b_.statuses_on_grab) b_.EmitStatus(code, text);
    return Driver() != nullptr;
  }
  bool SaveDib(const std::string& path) override {
    b_.log.push_back("SaveDib(" + path + ")");
    if (!Driver()) return false;
    std::string bytes;
    if (b_.saved_bytes) {
      bytes = *b_.saved_bytes;
    } else if (b_.frame) {
      bytes = WriteBmp(*b_.frame);
    } else {
      return false;
    }
    try {
      FileSystem::Default().Create(path)->WriteAt(0, bytes.data(), bytes.size());
    } catch (const IoError&) {
      return false;
    }
    return true;
  }
  bool Abort() override {
    b_.log.push_back("Abort");
    return true;
  }

 private:
  const FakeDriver* Driver() const {
    auto it = b_.drivers.find(b_.connected_driver);
    return it == b_.drivers.end() ? nullptr : &it->second;
  }
  bool Log(const char* what, bool on) {
    b_.log.push_back(std::string(what) + (on ? "(1)" : "(0)"));
    return true;
  }
  FakeCaptureBackend& b_;
};

int FakeCaptureBackend::EmitStatus(int code, const std::string& text) {
  return status_ ? status_(window_, code, text.c_str()) : 0;
}

std::unique_ptr<CaptureWindow> FakeCaptureBackend::CreateCaptureWindow(const std::string&,
                                                                       const CaptureHost& host,
                                                                       int x, int y, int width,
                                                                       int height) {
  log.push_back("CreateCaptureWindow(" + std::to_string(x) + "," + std::to_string(y) + "," +
                std::to_string(width) + "x" + std::to_string(height) + ")");
  (void)host;
  if (fail_create_window) return nullptr;
  ++windows_created;
  return std::make_unique<FakeCaptureWindow>(*this);
}

std::optional<CaptureDriverDescription> FakeCaptureBackend::GetDriverDescription(int index) {
  auto it = drivers.find(index);
  if (it == drivers.end()) return std::nullopt;
  return CaptureDriverDescription{it->second.name, it->second.version};
}

}  // namespace mirestal
