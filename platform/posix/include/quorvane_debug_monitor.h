// The debug-output monitor of a POSIX host: what a debugger or a debug-output viewer reads on
// Windows. Not part of the Win32 API; Quorvane's trace tool uses it where that API is absent.
#pragma once

#include <cstddef>

#include "win32_types.h"

extern "C" {

// Attaches the caller as the machine root's debug-output monitor: from now on it receives what
// any process of the machine writes with OutputDebugStringW. Returns a handle (a descriptor)
// for the calls below, or -1 with errno set (EADDRINUSE: another monitor is attached). The
// calling thread holds the monitor's place: the monitor is detached when that thread ends, by
// any means, and QuorvaneDetachDebugMonitor must be called on that thread.
int QuorvaneAttachDebugMonitor(void);

// Waits up to nTimeoutMs (negative: for ever) for the next message and stores its sender's
// process id and its text, cut to cchText - 1 characters and terminated. Returns the number
// of characters stored, 0 when the time ran out, -1 on an error, and -1 with errno EINTR once
// QuorvaneInterruptDebugMonitor was called. One thread at a time receives.
int QuorvaneReceiveDebugMessage(int monitorFd, int nTimeoutMs, DWORD* pdwProcessId, WCHAR* pszText,
                                size_t cchText);

// Makes the waiting receive, or the next one if none waits, return -1 with errno EINTR. Safe
// in a signal handler and from any thread.
void QuorvaneInterruptDebugMonitor(int monitorFd);

void QuorvaneDetachDebugMonitor(int monitorFd);

}  // extern "C"
