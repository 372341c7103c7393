// Which host the Windows build of the conformance tests runs on. Wine stands in for Windows on
// the build machines, and in a few cases its answers differ from Windows' documented ones: such
// a case expects the documented answer, and under Wine the one Wine gives, marked as Wine's.
#pragma once

#include "platform/win32.h"

inline bool RunningUnderWine()
{
#if defined(_WIN32)
    // Wine's ntdll exports its version; Windows' does not.
    HMODULE hNtdll = GetModuleHandleW(L"ntdll.dll");
    return hNtdll != NULL && GetProcAddress(hNtdll, "wine_get_version") != NULL;
#else
    return false;
#endif
}
