// Wide-string formatting in the Microsoft runtime's dialect, for POSIX hosts.
//
// "%s" and "%c" take wide (UTF-16) arguments, "%S" and "%C" narrow ones; the size prefixes
// "h", "l", "ll", "I" (pointer-sized), "I32", "I64" and "w" are understood.
#pragma once

#include <cstdarg>

#include "win32_errors.h"
#include "win32_types.h"

// The largest character budget a StringCb/StringCch function accepts.
#define STRSAFE_MAX_CCH 2147483647

extern "C" {

// Writes at most count characters. Returns the length when the text and its terminator fit,
// the length without a terminator when the text is exactly count characters long, and -1
// when it is longer (the first count characters are then written, unterminated).
int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list argptr);
int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...);

// Formats into a buffer of cbDest bytes and always terminates it (unless the budget is
// invalid): S_OK when the text fits, STRSAFE_E_INSUFFICIENT_BUFFER when it was truncated,
// E_INVALIDARG when the budget is zero characters or above STRSAFE_MAX_CCH.
HRESULT StringCbPrintfW(STRSAFE_LPWSTR pszDest, size_t cbDest, STRSAFE_LPCWSTR pszFormat, ...);
HRESULT StringCbVPrintfW(STRSAFE_LPWSTR pszDest, size_t cbDest, STRSAFE_LPCWSTR pszFormat,
                         va_list argList);

}  // extern "C"
