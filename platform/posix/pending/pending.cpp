// Services that this POSIX layer does not provide yet: named kernel objects and waits, windows
// and messages, the debug output channel and the print spooler. Each call fails with
// ERROR_CALL_NOT_IMPLEMENTED, as Windows answers for a service it lacks, so that a program
// built against the layer links, starts and reports every failed call it makes.
//
// This file shrinks as each service gets its own folder.
#include <time.h>

#include "platform/win32.h"

static void NotImplemented()
{
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
}

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR)
{
    NotImplemented();
    return NULL;
}

HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR)
{
    NotImplemented();
    return NULL;
}

BOOL WINAPI ReleaseMutex(HANDLE)
{
    NotImplemented();
    return FALSE;
}

BOOL WINAPI SetEvent(HANDLE)
{
    NotImplemented();
    return FALSE;
}

BOOL WINAPI ResetEvent(HANDLE)
{
    NotImplemented();
    return FALSE;
}

DWORD WINAPI WaitForSingleObject(HANDLE, DWORD)
{
    NotImplemented();
    return WAIT_FAILED;
}

DWORD WINAPI WaitForMultipleObjects(DWORD, const HANDLE*, BOOL, DWORD)
{
    NotImplemented();
    return WAIT_FAILED;
}

BOOL WINAPI CloseHandle(HANDLE)
{
    NotImplemented();
    return FALSE;
}

void WINAPI Sleep(DWORD dwMilliseconds)
{
    struct timespec remaining = {static_cast<time_t>(dwMilliseconds / 1000),
                                 static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&remaining, &remaining) != 0) {
    }
}

// With no monitor listening, debug output goes nowhere, as on Windows.
void WINAPI OutputDebugStringW(LPCWSTR) {}

ATOM WINAPI RegisterClassW(const WNDCLASSW*)
{
    NotImplemented();
    return 0;
}

HWND WINAPI CreateWindowExW(DWORD, LPCWSTR, LPCWSTR, DWORD, int, int, int, int, HWND, HMENU,
                            HINSTANCE, LPVOID)
{
    NotImplemented();
    return NULL;
}

BOOL WINAPI ShowWindow(HWND, int)
{
    return FALSE;
}

BOOL WINAPI UpdateWindow(HWND)
{
    NotImplemented();
    return FALSE;
}

BOOL WINAPI DestroyWindow(HWND)
{
    NotImplemented();
    return FALSE;
}

LRESULT WINAPI DefWindowProcW(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

BOOL WINAPI GetMessageW(LPMSG, HWND, UINT, UINT)
{
    NotImplemented();
    return -1;
}

BOOL WINAPI TranslateMessage(const MSG*)
{
    return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG*)
{
    return 0;
}

void WINAPI PostQuitMessage(int) {}

BOOL WINAPI PostMessageW(HWND, UINT, WPARAM, LPARAM)
{
    NotImplemented();
    return FALSE;
}

LRESULT WINAPI SendMessageW(HWND, UINT, WPARAM, LPARAM)
{
    NotImplemented();
    return 0;
}

LRESULT WINAPI SendMessageTimeoutW(HWND, UINT, WPARAM, LPARAM, UINT, UINT, PDWORD_PTR)
{
    NotImplemented();
    return 0;
}

HWND WINAPI FindWindowW(LPCWSTR, LPCWSTR)
{
    NotImplemented();
    return NULL;
}

HICON WINAPI LoadIconW(HINSTANCE, LPCWSTR)
{
    NotImplemented();
    return NULL;
}

HCURSOR WINAPI LoadCursorW(HINSTANCE, LPCWSTR)
{
    NotImplemented();
    return NULL;
}

HGDIOBJ WINAPI GetStockObject(int)
{
    return NULL;
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR)
{
    NotImplemented();
    return NULL;
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
