// Trace output: everything the helper does is reported as debug output, and nowhere else.
#pragma once

#include "platform/win32.h"

// A trace message is formatted into a buffer of this many characters...
#define TRACE_BUFFER_CHARS 504
// ...of which at most this many are written: a longer message is dropped whole, never cut.
#define TRACE_MAX_CHARS 498

// Formats a message and writes it to the debugger output channel. The format text carries the
// "QUORVANE" tag, the function name and the line end: nothing is added here.
void TraceMessage(LPCWSTR pszFormat, ...);
