// For tests only.
#pragma once

#include "platform/win32.h"

namespace power_service {

// How long each window has to answer a power broadcast, in place of the 20 seconds it has
// otherwise, until the next reset.
void SetAnswerBoundForTesting(UINT uBoundMs);

// Waits up to uTimeoutMs for a started watch to end on its own (no bus, no logind, a refused
// inhibitor, a lost connection). TRUE once it has ended, FALSE while it still runs.
bool WaitForWatchEndForTesting(UINT uTimeoutMs);

// Waits up to uTimeoutMs until the watch holds an inhibitor: the reply that brought it is gone
// then, and the watch's own descriptor is the process's only one. TRUE once it holds one.
bool WaitForInhibitorForTesting(UINT uTimeoutMs);

// Stops the watch, if one runs, and waits until it has let go of its inhibitor and its bus; the
// next window then starts a new one, on the bus that DBUS_SYSTEM_BUS_ADDRESS names then. No
// window may be created meanwhile.
void ResetWatchForTesting();

}  // namespace power_service
