// The Windows camera back end: the system's capture window (capCreateCaptureWindowA) and its
// drivers 0-9 (capGetDriverDescriptionA), driven with the WM_CAP_* messages.
#pragma once

#include <memory>

#include "capture/capture_window.h"

namespace mirestal {

// CaptureHost::native is the host panel's HWND. Texts (file names) are UTF-8 and reach the
// capture window in the system's ANSI code page, as its "A" messages take them.
std::unique_ptr<CaptureBackend> MakeVfwCaptureBackend();

// Registers the back end with CaptureRegisterCameraBackend.
void RegisterVfwCaptureBackend();

}  // namespace mirestal
