// The last-error value: one per thread, as on Windows.
#include "platform/win32.h"

static thread_local DWORD t_dwLastError = ERROR_SUCCESS;

DWORD WINAPI GetLastError(void)
{
    return t_dwLastError;
}

void WINAPI SetLastError(DWORD dwErrCode)
{
    t_dwLastError = dwErrCode;
}
