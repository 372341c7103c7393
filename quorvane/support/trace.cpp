#include "quorvane/support/trace.h"

#include <stdarg.h>

void TraceMessage(LPCWSTR pszFormat, ...)
{
    WCHAR szMessage[TRACE_BUFFER_CHARS];
    va_list args;

    va_start(args, pszFormat);
    int nChars = _vsnwprintf(szMessage, TRACE_MAX_CHARS, pszFormat, args);
    va_end(args);

    // A C99-style formatter reports the length it would have needed; the Microsoft one
    // reports -1. Either way the message did not fit and is dropped rather than cut.
    if (nChars < 0 || nChars > TRACE_MAX_CHARS) {
        return;
    }
    // A message of exactly TRACE_MAX_CHARS characters is left unterminated by the formatter.
    szMessage[nChars] = 0;

    OutputDebugStringW(szMessage);
}
