// The COM side of platform/automation.h, for tests that drive it with their own IDispatch.
#pragma once

#include <oaidl.h>

#include <memory>

#include "platform/automation.h"

namespace mirestal {

// An automation object over `dispatch` (a reference of its own is taken).
std::shared_ptr<AutoObject> WrapDispatch(IDispatch* dispatch);

}  // namespace mirestal
