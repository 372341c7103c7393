// Top-level windows: creation and destruction, default processing, and finding the windows of
// every process of the machine root.
#include <errno.h>
#include <unistd.h>

#include <atomic>

#include "platform/posix/power/sleep_watch.h"
#include "platform/posix/window/internal.h"

using namespace window_service;

namespace {

// Handles are unique in the machine root: the process id makes them unique among live
// processes, and a count makes them unique within one.
ULONG_PTR NewWindowHandle()
{
    static std::atomic<ULONG_PTR> s_nextWindow{1};
    ULONG_PTR nWindow = s_nextWindow.fetch_add(1) & 0xFFFFF;
    return static_cast<ULONG_PTR>(getpid()) << 20 | nWindow;
}

// A window of another process is live while something listens on its socket.
bool IsLiveWindow(ULONG_PTR hwnd)
{
    Lock();
    bool bOwn = Windows().windows.count(hwnd) != 0;
    Unlock();
    if (bOwn) {
        return true;
    }
    int fd = ConnectToWindow(hwnd);
    if (fd < 0) {
        // Nobody listens: the owner is gone. Any other failure (no descriptors left, say) says
        // nothing about the owner, and its window must not be forgotten for it.
        return errno != ECONNREFUSED && errno != ENOENT;
    }
    close(fd);
    return true;
}

bool Matches(LPCWSTR lpWanted, const std::u16string& actual)
{
    return lpWanted == nullptr || actual == lpWanted;
}

}  // namespace

namespace window_service {

LRESULT CallWindowProcedure(ULONG_PTR hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    Lock();
    auto it = Windows().windows.find(hwnd);
    WNDPROC pfnWndProc = it != Windows().windows.end() ? it->second.pfnWndProc : nullptr;
    Unlock();
    // The procedure runs without the lock: it may create, destroy or message windows.
    return pfnWndProc != nullptr ? pfnWndProc(reinterpret_cast<HWND>(hwnd), uMsg, wParam, lParam)
                                 : 0;
}

}  // namespace window_service

HWND WINAPI CreateWindowExW(DWORD /*dwExStyle*/, LPCWSTR lpClassName, LPCWSTR lpWindowName,
                            DWORD /*dwStyle*/, int /*X*/, int /*Y*/, int /*nWidth*/,
                            int /*nHeight*/, HWND hWndParent, HMENU /*hMenu*/,
                            HINSTANCE /*hInstance*/, LPVOID /*lpParam*/)
{
    if (lpClassName == nullptr) {
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    if (hWndParent != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);  // only top-level windows exist on this host
        return nullptr;
    }
    WindowRecord record;
    record.className = lpClassName;
    record.title = lpWindowName != nullptr ? lpWindowName : u"";
    record.ownerThread = CurrentThreadId();
    record.bVisible = false;
    record.bDestroying = false;

    Lock();
    auto itClass = Windows().classes.find(record.className);
    if (itClass == Windows().classes.end()) {
        Unlock();
        SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        return nullptr;
    }
    record.pfnWndProc = itClass->second.lpfnWndProc;
    Unlock();

    ULONG_PTR hwnd = NewWindowHandle();
    record.listenFd = ListenAsWindow(hwnd);
    if (record.listenFd < 0 || !PublishWindowEntry(hwnd, record.className, record.title)) {
        if (record.listenFd >= 0) {
            close(record.listenFd);
        }
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    CloseSignalFd();  // from the first window on, SIGTERM and SIGINT close the windows

    Lock();
    Windows().windows[hwnd] = record;
    Windows().bHadWindow = true;
    Unlock();
    power_service::WatchSleepOnce();  // from the first window on, the host's sleep is told
    return reinterpret_cast<HWND>(hwnd);
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    ULONG_PTR hwnd = reinterpret_cast<ULONG_PTR>(hWnd);
    Lock();
    auto it = Windows().windows.find(hwnd);
    if (it == Windows().windows.end()) {
        Unlock();
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (it->second.ownerThread != CurrentThreadId()) {
        Unlock();
        SetLastError(ERROR_ACCESS_DENIED);  // only the owner thread may destroy a window
        return FALSE;
    }
    if (it->second.bDestroying) {
        Unlock();
        return TRUE;  // a WM_DESTROY handler destroying its own window again
    }
    it->second.bDestroying = true;
    Unlock();

    CallWindowProcedure(hwnd, WM_DESTROY, 0, 0);

    Lock();
    it = Windows().windows.find(hwnd);
    if (it != Windows().windows.end()) {
        // The entry goes first, so that nobody finds a window that no longer listens.
        RemoveWindowEntry(hwnd);
        close(it->second.listenFd);
        Windows().windows.erase(it);
    }
    Unlock();
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    Lock();
    auto it = Windows().windows.find(reinterpret_cast<ULONG_PTR>(hWnd));
    bool bWasVisible = false;
    if (it != Windows().windows.end()) {
        bWasVisible = it->second.bVisible;
        it->second.bVisible = nCmdShow != SW_HIDE;
    }
    Unlock();
    return bWasVisible ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND hWnd)
{
    if (!IsWindow(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;  // nothing is ever painted
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    return hWnd != nullptr && IsLiveWindow(reinterpret_cast<ULONG_PTR>(hWnd)) ? TRUE : FALSE;
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM /*wParam*/, LPARAM /*lParam*/)
{
    if (Msg == WM_CLOSE) {
        DestroyWindow(hWnd);
    }
    return 0;
}

HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName)
{
    for (ULONG_PTR hwnd : PublishedWindows()) {
        std::u16string className, title;
        if (!ReadWindowEntry(hwnd, &className, &title) || !Matches(lpClassName, className) ||
            !Matches(lpWindowName, title)) {
            continue;
        }
        if (IsLiveWindow(hwnd)) {
            return reinterpret_cast<HWND>(hwnd);
        }
        RemoveWindowEntry(hwnd);  // its owner died without destroying it
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

BOOL WINAPI EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam)
{
    for (ULONG_PTR hwnd : PublishedWindows()) {
        std::u16string className, title;
        if (!ReadWindowEntry(hwnd, &className, &title)) {
            continue;
        }
        if (!IsLiveWindow(hwnd)) {
            RemoveWindowEntry(hwnd);
            continue;
        }
        if (!lpEnumFunc(reinterpret_cast<HWND>(hwnd), lParam)) {
            break;
        }
    }
    return TRUE;
}

int WINAPI GetClassNameW(HWND hWnd, LPWSTR lpClassName, int nMaxCount)
{
    std::u16string className, title;
    if (lpClassName == nullptr || nMaxCount <= 0 ||
        !ReadWindowEntry(reinterpret_cast<ULONG_PTR>(hWnd), &className, &title)) {
        SetLastError(lpClassName == nullptr || nMaxCount <= 0 ? ERROR_INVALID_PARAMETER
                                                              : ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    // Cut to the buffer, as Windows does, always terminated.
    size_t nCopied = std::min(className.size(), static_cast<size_t>(nMaxCount - 1));
    className.copy(lpClassName, nCopied);
    lpClassName[nCopied] = 0;
    return static_cast<int>(nCopied);
}
