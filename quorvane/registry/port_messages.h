// The port component's two private messages: a port key in wParam, answered with 0.
#pragma once

#include "platform/win32.h"

#define WM_POW_REGISTER (WM_USER + 125)
#define WM_POW_UNREGISTER (WM_USER + 126)

// Registers port wParam, replacing any earlier registration of the same key.
LRESULT OnPowRegister(HWND hwnd, WPARAM wParam, LPARAM lParam);

// Forgets port wParam; a key that is not registered changes nothing.
LRESULT OnPowUnregister(HWND hwnd, WPARAM wParam, LPARAM lParam);
