// The delivery of the host's sleep and wake to the windows of this process.
#pragma once

#include "platform/win32.h"

namespace power_service {

// Sends WM_POWERBROADCAST with the event to each top-level window of this process, one after
// another, and returns once each has answered. A window that has not answered after uBoundMs,
// or that went away, counts as answered: one hung window must not hold the machine awake.
void BroadcastToOwnWindows(WPARAM nEvent, UINT uBoundMs);

// Asks each top-level window of this process with WM_POWERBROADCAST and the event, one after
// another, as Windows asks its windows: the first to answer BROADCAST_QUERY_DENY ends the
// query, and those after it are not asked. TRUE when none refused. A window that has not
// answered after uBoundMs, or that went away, does not refuse.
bool QueryOwnWindows(WPARAM nEvent, UINT uBoundMs);

}  // namespace power_service
