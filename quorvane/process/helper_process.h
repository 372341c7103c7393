// The helper process: its two named events, its hidden window and the routing of its messages.
#pragma once

#include "platform/win32.h"

// The class and the title of the helper's window, by which the port component finds it.
#define HELPER_WINDOW_CLASS TEXT("QUORVANE")

struct HelperProcess {
    HANDLE hOnlyOneInstanceEvent;  // held from start-up to WM_CLOSE; its existence is the guard
    HANDLE hSuspendModeEvent;      // signalled while the machine goes to sleep; NULL if absent
};

extern HelperProcess g_Process;

// The window procedure: a routing table from messages to their handlers.
LRESULT CALLBACK MainWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Releases the ports and the single-instance guard when the window is closed.
void OnClose();
