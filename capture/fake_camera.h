// A scripted capture back end for tests: drivers present or absent at given indices, drivers
// that refuse the sequence settings, capabilities without dialogs, status reports, and grabs
// that save a given frame, given bytes or nothing. Every request is logged in order.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "capture/bitmap.h"
#include "capture/capture_window.h"

namespace mirestal {

struct FakeDriver {
  std::string name;
  std::string version = "1.0";
  bool refuse_sequence_setup = false;      // SetSequenceSetup answers 0
  bool sequence_setup_unreadable = false;  // GetSequenceSetup answers 0
  CaptureDriverCaps caps = {0, false, true, true, false, true, false};
};

class FakeCaptureBackend : public CaptureBackend {
 public:
  // --- Script ---
  std::map<int, FakeDriver> drivers;  // indices not in the map have no driver
  bool fail_create_window = false;
  bool fail_status_callback = false;  // SetStatusCallback with a callback answers 0
  bool refuse_capture_file = false;
  CaptureParms initial_parms;              // what GetSequenceSetup reads
  std::optional<Bitmap> frame;             // what a grab takes; none: SaveDib writes nothing
  std::optional<std::string> saved_bytes;  // when set, SaveDib writes these bytes instead
  // Status reports (code, text) the window makes during each GrabFrame.
  std::vector<std::pair<int, std::string>> statuses_on_grab;

  // --- Observations ---
  std::vector<std::string> log;               // e.g. "DriverConnect(2)", "SaveDib(tmp.bmp)"
  std::optional<CaptureParms> applied_parms;  // the last accepted SetSequenceSetup
  int connected_driver = -1;
  bool preview = false;
  int windows_created = 0;
  int windows_destroyed = 0;

  // Calls the window's status callback as the window would during a request.
  int EmitStatus(int code, const std::string& text);

  std::unique_ptr<CaptureWindow> CreateCaptureWindow(const std::string& window_name,
                                                     const CaptureHost& host, int x, int y,
                                                     int width, int height) override;
  std::optional<CaptureDriverDescription> GetDriverDescription(int index) override;

 private:
  friend class FakeCaptureWindow;
  CaptureWindow* window_ = nullptr;
  CaptureStatusProc status_ = nullptr;
};

}  // namespace mirestal
