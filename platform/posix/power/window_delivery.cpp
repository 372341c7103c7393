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

// FALSE when the window did not answer in time or is gone.
bool Send(HWND hwnd, WPARAM nEvent, UINT uBoundMs, DWORD_PTR* pdwAnswer)
{
    *pdwAnswer = 0;
    return SendMessageTimeoutW(hwnd, WM_POWERBROADCAST, nEvent, 0, SMTO_ABORTIFHUNG, uBoundMs,
                               pdwAnswer) != 0;
}

}  // namespace

void BroadcastToOwnWindows(WPARAM nEvent, UINT uBoundMs)
{
    for (HWND hwnd : OwnWindows()) {
        DWORD_PTR dwAnswer;
        // The answer itself changes nothing: neither the sleep nor the wake can be refused.
        Send(hwnd, nEvent, uBoundMs, &dwAnswer);
    }
}

bool QueryOwnWindows(WPARAM nEvent, UINT uBoundMs)
{
    for (HWND hwnd : OwnWindows()) {
        DWORD_PTR dwAnswer;
        if (Send(hwnd, nEvent, uBoundMs, &dwAnswer) && dwAnswer == BROADCAST_QUERY_DENY) {
            return false;
        }
    }
    return true;
}

}  // namespace power_service
