// WM_POWERBROADCAST to the process's own top-level windows, as Windows sends it: each window's
// procedure runs inside the GetMessageW of the thread that owns it.
#include "platform/posix/power/window_delivery.h"

#include <vector>

#include "platform/posix/window/internal.h"

namespace power_service {

namespace {

std::vector<HWND> OwnWindows()
{
    std::vector<HWND> windows;
    window_service::Lock();
    for (const auto& [hwnd, record] : window_service::Windows().windows) {
        if (!record.bDestroying) {
            windows.push_back(reinterpret_cast<HWND>(hwnd));
        }
    }
    window_service::Unlock();
    return windows;
}

}  // namespace

void BroadcastToOwnWindows(WPARAM nEvent, UINT uBoundMs)
{
    for (HWND hwnd : OwnWindows()) {
        DWORD_PTR dwAnswer = 0;
        // The answer itself changes nothing: neither the sleep nor the wake can be refused.
        SendMessageTimeoutW(hwnd, WM_POWERBROADCAST, nEvent, 0, SMTO_ABORTIFHUNG, uBoundMs,
                            &dwAnswer);
    }
}

}  // namespace power_service
