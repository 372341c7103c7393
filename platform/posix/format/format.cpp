// The buffer contracts of _vsnwprintf and of the strsafe printf functions; the formatting
// itself is in formatter.cpp.
#include <climits>

#include "platform/posix/format/formatter.h"
#include "platform/posix/format/sink.h"
#include "platform/win32.h"

using quorvane::format::formatWide;
using quorvane::format::Sink;

extern "C" {

int _vsnwprintf(WCHAR* buffer, size_t count, const WCHAR* format, va_list argptr)
{
    // The runtime's one exception to "buffer required": a null buffer of zero characters asks
    // how long the text would be.
    const bool measuring = buffer == nullptr && count == 0;
    if (format == nullptr || (buffer == nullptr && !measuring)) {
        return -1;
    }
    Sink out(buffer, count);
    formatWide(out, format, argptr);
    const size_t length = out.length();
    if (length < count) {
        buffer[length] = u'\0';
    }
    if ((length > count && !measuring) || length > INT_MAX) {
        return -1;
    }
    return static_cast<int>(length);
}

int _snwprintf(WCHAR* buffer, size_t count, const WCHAR* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    const int result = _vsnwprintf(buffer, count, format, arguments);
    va_end(arguments);
    return result;
}

HRESULT StringCbVPrintfW(STRSAFE_LPWSTR pszDest, size_t cbDest, STRSAFE_LPCWSTR pszFormat,
                         va_list argList)
{
    const size_t budget = cbDest / sizeof(WCHAR);
    if (budget == 0 || budget > STRSAFE_MAX_CCH || pszDest == nullptr) {
        // A budget that is merely too large still names a real buffer: leave it empty.
        if (budget != 0 && pszDest != nullptr) {
            pszDest[0] = u'\0';
        }
        return E_INVALIDARG;
    }
    if (pszFormat == nullptr) {
        pszDest[0] = u'\0';
        return E_INVALIDARG;
    }

    // One character is kept back for the terminator, which is always written.
    const size_t textBudget = budget - 1;
    const int length = _vsnwprintf(pszDest, textBudget, pszFormat, argList);
    pszDest[length >= 0 ? static_cast<size_t>(length) : textBudget] = u'\0';
    return length >= 0 ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}

HRESULT StringCbPrintfW(STRSAFE_LPWSTR pszDest, size_t cbDest, STRSAFE_LPCWSTR pszFormat, ...)
{
    va_list arguments;
    va_start(arguments, pszFormat);
    const HRESULT result = StringCbVPrintfW(pszDest, cbDest, pszFormat, arguments);
    va_end(arguments);
    return result;
}

}  // extern "C"
