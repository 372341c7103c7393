#include "quorvane/power/power_broadcast.h"
#include "quorvane/process/helper_process.h"
#include "quorvane/registry/port_messages.h"

LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_CLOSE:
            OnClose();
            return DefWindowProcW(hwnd, uMsg, wParam, lParam);
        case WM_POW_REGISTER:
            OnPowRegister(hwnd, wParam, lParam);
            return 0;
        case WM_POW_UNREGISTER:
            OnPowUnregister(hwnd, wParam, lParam);
            return 0;
        case WM_POWERBROADCAST:
            return OnPowerBroadcast(hwnd, wParam, lParam);
        default:
            return DefWindowProcW(hwnd, uMsg, wParam, lParam);
    }
}
