// logind's sleep and wake as the events of a Windows version: before 6.0 the windows are asked
// before a sleep (PBT_APMQUERYSUSPEND), from 6.0 on they are only told of it.
#include "platform/posix/power/power_events.h"

#include "platform/posix/power/window_delivery.h"

namespace power_service {

namespace {

// Windows Vista (6.0) stopped asking. A version that cannot be read counts as a later one: the
// layer's machine is 6.2 unless told otherwise.
bool AsksBeforeSleep()
{
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    return GetVersionExW(&version) && version.dwMajorVersion < 6;
}

}  // namespace

void TellSleep(UINT uBoundMs)
{
    // A refusal is told as Windows tells it, but logind's sleep cannot be refused: it goes on,
    // and the windows are told so.
    if (AsksBeforeSleep() && !QueryOwnWindows(PBT_APMQUERYSUSPEND, uBoundMs)) {
        BroadcastToOwnWindows(PBT_APMQUERYSUSPENDFAILED, uBoundMs);
    }
    BroadcastToOwnWindows(PBT_APMSUSPEND, uBoundMs);
}

void TellWake(UINT uBoundMs)
{
    BroadcastToOwnWindows(PBT_APMRESUMEAUTOMATIC, uBoundMs);
    BroadcastToOwnWindows(PBT_APMRESUMESUSPEND, uBoundMs);
}

}  // namespace power_service
