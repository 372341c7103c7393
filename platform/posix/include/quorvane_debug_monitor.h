// The debug-output monitor of a POSIX host: what a debugger or a debug-output viewer reads on
// Windows. Not part of the Win32 API; Quorvane's trace tool uses it where that API is absent.
#pragma once

#include <cstddef>

#include "win32_types.h"

extern "C" {

// Attaches the caller as the machine root's debug-output monitor. Returns a descriptor to
// receive on, or -1 with errno set (EADDRINUSE: another monitor is attached).
int QuorvaneAttachDebugMonitor(void);

// Waits up to nTimeoutMs (negative: for ever) for the next message and stores its sender's
// process id and its text, cut to cchText - 1 characters and terminated. Returns the number
// of characters stored, 0 when the time ran out, -1 on an error.
int QuorvaneReceiveDebugMessage(int monitorFd, int nTimeoutMs, DWORD* pdwProcessId, WCHAR* pszText,
                                size_t cchText);

void QuorvaneDetachDebugMonitor(int monitorFd);

}  // extern "C"
