// What the windows of this process are told of the host's sleep and wake: the events the Windows
// version that the layer reports would send. README.md tells the mapping.
#pragma once

#include "platform/win32.h"

namespace power_service {

// Before a sleep. Returns once each window has answered, or has had uBoundMs for each event.
void TellSleep(UINT uBoundMs);

// After a sleep that was told.
void TellWake(UINT uBoundMs);

}  // namespace power_service
