// VideoCap: the capture module. One capture window and one camera per process; the state lives
// in this module and the main window drives it through these free functions, all on the main
// thread.
//
// Start-up: CaptureSetHost, CaptureSetStatusLabel, CaptureSetNotify, CaptureStart; then, if it
// answered yes, CaptureSetFrameLimit(45), CapturePreviewOn and the two dialog queries.
// Capture: CaptureSetImageFile, CaptureGrabToFile, CaptureResumePreview.
//
// Lifetime: the module's state is static and outlives the application's objects, while its
// window and back ends hold Qt objects and pointers to the application's widgets. The
// application calls CaptureRelease() before its QApplication object ends (and before the host
// panel, status label or dialogs go); nothing of the module may be used after that except a new
// set-up from the start.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/capture_window.h"

namespace mirestal {

// The label that shows the capture window's status text (invisible in the main window).
class CaptureStatusLabel {
 public:
  virtual ~CaptureStatusLabel() = default;
  virtual void SetCaption(const std::string& text) = 0;
  // Repaints at once, not at the next paint event.
  virtual void Repaint() = 0;
};

// A main-window method with its object; called with the sender (none: nullptr).
using CaptureNotifyHandler = std::function<void(void* sender)>;

// Shows an information message (UTF-8 text) for the module; without one the text goes to
// standard error. The module has no windows of its own.
using CaptureMessageHandler = std::function<void(const std::string& text)>;
void CaptureSetMessageHandler(CaptureMessageHandler handler);

// Capture module state at start: no window, no host, driver name "No Driver", frame limit 0,
// capture file "Video.avi", image file "Image.bmp", no label, no notify handler.
void CaptureSetHost(const CaptureHost& host);
void CaptureSetStatusLabel(CaptureStatusLabel* label);
void CaptureSetNotify(CaptureNotifyHandler handler);

// Creates the capture window filling the host, installs CaptureStatusCallback, connects the
// first of drivers 0-9 that works and takes its description as the driver name, and sets the
// capture file name (refused: the information message "<driver name>: Error in
// capFileSetCaptureFile"). Answers yes when a window with its callback exists afterwards, with
// or without a driver; no when there is no host, no window or no callback.
bool CaptureStart();
// Needs the window. Connects driver i and applies the sequence settings (15 frames a second,
// no limit, no audio, no MCI, yield, Escape aborts, no mouse abort; other fields kept). Yes
// when connected and the settings were taken, or when the settings could not be read.
bool CaptureConnectDriver(int index);
// Needs the window: clears the callback, disconnects, destroys the window.
void CaptureShutdown();
void CaptureSetFrameLimit(uint32_t frames);
// Needs the window: scale on, rate 40 ms, overlay off, preview on.
void CapturePreviewOn();
// Needs the window: overlay off, scale on, rate 40 ms, preview on.
void CaptureResumePreview();
// Without a window both answer yes.
bool CaptureHasSourceDialog();
bool CaptureHasFormatDialog();
void CaptureShowFormatDialog();
void CaptureShowSourceDialog();
void CaptureSetImageFile(const std::string& name);
// Needs the window: grabs a frame (ending the preview) and saves it under the image file name,
// cut to 255 bytes as the platform's buffer allows. Results are not examined; the caller checks
// the file.
void CaptureGrabToFile();
// The live picture at the frame's size without ending the preview (CaptureWindow::LatestFrame);
// empty without a window.
Bitmap CaptureLatestFrame();
// The status callback installed by CaptureStart: shows the text on the status label; for code
// 510 whose text starts with a whole number of at least the frame limit, aborts the capture and
// calls the notify handler. Answers 1.
int CaptureStatusCallback(CaptureWindow* window, int status_code, const char* text);

// Current values, for the window and for tests.
const std::string& CaptureDriverName();
const std::string& CaptureImageFile();
const std::string& CaptureFileName();
uint32_t CaptureFrameLimit();
bool CaptureHasWindow();

// --- Choices ---

// A choice that a back end's format or source dialog asks for: UTF-8 texts, the items offered,
// the one selected at first, and the host panel as the dialog's parent.
struct CaptureChoice {
  std::string title, label;
  std::vector<std::string> items;
  int current = 0;
  CaptureHost parent;
};
// Answers the index of the chosen item, or nullopt when the operator cancelled.
using CaptureChooser = std::function<std::optional<int>(const CaptureChoice& choice)>;

// The back ends' format and source dialogs ask this chooser instead of opening modal dialogs of
// their own; the application's dialogs implement it (tests answer directly). Without one nothing
// is ever chosen.
void CaptureSetChooser(CaptureChooser chooser);
// For back ends: the chooser's answer, or nullopt without a chooser or for an index outside
// the items.
std::optional<int> CaptureChoose(const CaptureChoice& choice);

// --- Back ends ---
using CaptureBackendFactory = std::function<std::unique_ptr<CaptureBackend>()>;

// Installs the platform camera back end (the Qt Multimedia one registers itself here; the core
// has none). Takes effect at the next CaptureStart.
void CaptureRegisterCameraBackend(CaptureBackendFactory factory);
// Uses `backend` (not owned, must outlive its use) whatever else is installed; for tests.
void CaptureUseBackend(CaptureBackend* backend);
// The back end CaptureStart uses: one given to CaptureUseBackend; else the synthetic test card
// when the environment variable MIRESTAL_CAMERA is "testcard"; else the registered camera back
// end; else none (CaptureStart then makes no window and answers no).
CaptureBackend* CaptureActiveBackend();

// Destroys the window (disconnecting its driver) and the back ends made from the environment or
// the registered factory, and forgets everything that refers to the application: host, status
// label, notify and message handlers, chooser, the registered camera back end, the test card's
// preview surface and a back end given to CaptureUseBackend. Safe to call more than once.
void CaptureRelease();

// CaptureRelease, then every other piece of module state back to its start value. For tests.
void CaptureResetForTests();

}  // namespace mirestal
