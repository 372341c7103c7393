// The answers to the system's power broadcasts, arbitrated against the ports' mutexes.
#pragma once

#include "platform/win32.h"

// How long a suspend query may wait for every port's hardware access before it is refused.
#define QUERY_SUSPEND_WAIT_MS 17500
// How long an announced suspend waits for them on NT 6 and later, where it cannot be refused:
// the system gives each window two seconds to answer, and this stays inside that.
#define SUSPEND_WAIT_MS 1900

// The traced name of a power event code, "Unknown" for codes without one.
LPCWSTR PowerEventName(WPARAM wEvent);

// wParam is the power event code; lParam is not used. Returns TRUE or BROADCAST_QUERY_DENY.
LRESULT OnPowerBroadcast(HWND hwnd, WPARAM wParam, LPARAM lParam);
