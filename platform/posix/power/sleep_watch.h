// The host's sleep and wake, told to the windows of this process as WM_POWERBROADCAST: what the
// window service calls. README.md tells the design.
#pragma once

namespace power_service {

// Called for each top-level window the process creates: the first call starts the watch of
// systemd-logind's sleep on a thread of its own. Never fails, never waits, prints nothing.
void WatchSleepOnce();

}  // namespace power_service
