// The process heap, over the C library's allocator.
#include <stdlib.h>
#include <string.h>

#include "platform/win32.h"

// Any non-null value serves: there is one heap, and the handle only has to be recognisable.
static int s_processHeap;

HANDLE WINAPI GetProcessHeap(void)
{
    return &s_processHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes)
{
    if (hHeap != &s_processHeap) {
        return NULL;
    }
    // A zero-byte request still yields a distinct block, as on Windows.
    size_t cbBlock = dwBytes != 0 ? dwBytes : 1;
    return (dwFlags & HEAP_ZERO_MEMORY) != 0 ? calloc(1, cbBlock) : malloc(cbBlock);
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD /*dwFlags*/, LPVOID lpMem)
{
    if (hHeap != &s_processHeap) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    free(lpMem);
    return TRUE;
}
