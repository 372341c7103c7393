// The machine's debug output, as a monitor reads it: on Windows the system's debug output
// buffer, elsewhere the POSIX layer's debug output channel.
#pragma once

#include <string>

#include "platform/win32.h"

struct DebugMonitor;

struct DebugMessage {
    DWORD dwProcessId;
    std::basic_string<WCHAR> text;
};

enum class Received { Message, TimedOut, Stopped, Failed };

// Attaches as the monitor; NULL (with the reason) when another monitor is attached or the
// channel cannot be opened.
DebugMonitor* AttachDebugMonitor(std::string* pProblem);

// Waits up to nTimeoutMs (negative: for ever) for the next message or a stop request. Failed
// means the monitor can read no more (errno, or GetLastError(), says why).
Received ReceiveDebugMessage(DebugMonitor* pMonitor, int nTimeoutMs, DebugMessage* pMessage);

// From now on, an interrupt or termination request (SIGINT and SIGTERM, or the console's
// Ctrl+C and close) makes a waiting ReceiveDebugMessage return Stopped.
void StopOnTerminationRequests(DebugMonitor* pMonitor);

void DetachDebugMonitor(DebugMonitor* pMonitor);
