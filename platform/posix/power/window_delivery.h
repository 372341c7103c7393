// The delivery of the host's sleep and wake to the windows of this process.
#pragma once

#include "platform/win32.h"

namespace power_service {

// Sends WM_POWERBROADCAST with the event to each top-level window of this process, one after
// another, and returns once each has answered. A window that has not answered after uBoundMs,
// or that went away, counts as answered: one hung window must not hold the machine awake.
void BroadcastToOwnWindows(WPARAM nEvent, UINT uBoundMs);

}  // namespace power_service
