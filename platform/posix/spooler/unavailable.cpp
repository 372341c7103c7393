// The print spooler, which this POSIX layer does not provide yet: each call fails with
// ERROR_CALL_NOT_IMPLEMENTED, as Windows answers for a service it lacks, so that a program
// built against the layer links, runs, and reports each failed call. The helper's printer
// probe then answers "not printing", as it does for any spooler failure.
#include "platform/win32.h"

static void NotImplemented()
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL WINAPI EnumPrintersW(DWORD, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD)
{
    NotImplemented();
    return FALSE;
}

BOOL WINAPI OpenPrinterW(LPWSTR, LPHANDLE, LPPRINTER_DEFAULTSW)
{
    NotImplemented();
    return FALSE;
}

BOOL WINAPI GetPrinterW(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD)
{
    NotImplemented();
    return FALSE;
}

BOOL WINAPI ClosePrinter(HANDLE)
{
    NotImplemented();
    return FALSE;
}
