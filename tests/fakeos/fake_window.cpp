// The fake window manager: classes, windows, and one message queue for the helper's thread.
#include <stdio.h>
#include <stdlib.h>

#include "tests/fakeos/fake_machine.h"

using namespace fakeos;

namespace {

// Stand-ins for system resources: only their identity matters.
int s_moduleInstance, s_applicationIcon, s_arrowCursor, s_whiteBrush;

Window* FindWindowRecord(HWND hWnd)
{
    auto& windows = TheMachine().windows;
    auto it = windows.find(reinterpret_cast<ULONG_PTR>(hWnd));
    return it != windows.end() ? &it->second : nullptr;
}

}  // namespace

namespace fakeos {

void PostToHelper(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    TheMachine().queue.push_back(QueuedMessage{uMsg, wParam, lParam, false, {}});
}

void SendToHelper(UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    TheMachine().queue.push_back(QueuedMessage{uMsg, wParam, lParam, true, {}});
}

void QueueAction(std::function<void()> action)
{
    TheMachine().queue.push_back(QueuedMessage{WM_NULL, 0, 0, false, std::move(action)});
}

std::vector<LRESULT> SentMessageAnswers()
{
    return TheMachine().sentAnswers;
}

bool MessageQueueRanDry()
{
    return TheMachine().bQueueRanDry;
}

HWND FindHelperWindow()
{
    for (auto& [value, window] : TheMachine().windows) {
        if (window.className == u"QUORVANE") {
            return reinterpret_cast<HWND>(value);
        }
    }
    return nullptr;
}

WNDCLASSW RegisteredClass(const std::u16string& className)
{
    auto& classes = TheMachine().classes;
    auto it = classes.find(className);
    return it != classes.end() ? it->second : WNDCLASSW{};
}

}  // namespace fakeos

HMODULE WINAPI GetModuleHandleW(LPCWSTR /*lpModuleName*/)
{
    return reinterpret_cast<HMODULE>(&s_moduleInstance);
}

HICON WINAPI LoadIconW(HINSTANCE hInstance, LPCWSTR lpIconName)
{
    bool bSystemIcon = hInstance == nullptr && lpIconName == IDI_APPLICATION;
    return bSystemIcon ? reinterpret_cast<HICON>(&s_applicationIcon) : nullptr;
}

HCURSOR WINAPI LoadCursorW(HINSTANCE hInstance, LPCWSTR lpCursorName)
{
    bool bSystemCursor = hInstance == nullptr && lpCursorName == IDC_ARROW;
    return bSystemCursor ? reinterpret_cast<HCURSOR>(&s_arrowCursor) : nullptr;
}

HGDIOBJ WINAPI GetStockObject(int i)
{
    return i == WHITE_BRUSH ? &s_whiteBrush : nullptr;
}

ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass)
{
    Machine& m = TheMachine();
    std::u16string className = lpWndClass->lpszClassName;
    if (ShouldFail(Api::RegisterClassW)) {
        Record("RegisterClassW(" + Utf8(className) + ") = 0 " + std::to_string(GetLastError()));
        return 0;
    }
    if (m.classes.count(className) != 0) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        Record("RegisterClassW(" + Utf8(className) + ") = 0 1410");
        return 0;
    }
    m.classNames[className] = className;
    WNDCLASSW windowClass = *lpWndClass;
    windowClass.lpszClassName = m.classNames[className].c_str();
    m.classes[className] = windowClass;
    Record("RegisterClassW(" + Utf8(className) + ") = TRUE");
    return static_cast<ATOM>(0xC000 + m.classes.size());
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName,
                            DWORD dwStyle, int X, int Y, int nWidth, int nHeight, HWND hWndParent,
                            HMENU hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    Machine& m = TheMachine();
    std::string callText =
        "CreateWindowExW(" + Hex(dwExStyle) + ", " + Utf8(lpClassName) + ", " + Utf8(lpWindowName) +
        ", " + Hex(dwStyle) + ", " + Hex(static_cast<DWORD>(X)) + ", " +
        Hex(static_cast<DWORD>(Y)) + ", " + Hex(static_cast<DWORD>(nWidth)) + ", " +
        Hex(static_cast<DWORD>(nHeight)) + ", " +
        (hWndParent == nullptr && hMenu == nullptr && lpParam == nullptr ? "no parent, menu or data"
                                                                         : "parent, menu or data") +
        (hInstance == GetModuleHandleW(nullptr) ? ", module" : ", other") + ")";
    auto itClass = m.classes.find(lpClassName);
    if (ShouldFail(Api::CreateWindowExW) || itClass == m.classes.end()) {
        if (itClass == m.classes.end()) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
        }
        Record(callText + " = NULL " + std::to_string(GetLastError()));
        return nullptr;
    }
    ULONG_PTR value = m.nextHandle;
    m.nextHandle += 4;
    m.windows[value] = Window{itClass->first, itClass->second.lpfnWndProc};
    Record(callText + " = " + Hex(value));
    return reinterpret_cast<HWND>(value);
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    Record("ShowWindow(" + HandleText(hWnd) + ", " + std::to_string(nCmdShow) + ")");
    return FALSE;  // the window was not visible before
}

BOOL WINAPI UpdateWindow(HWND hWnd)
{
    Record("UpdateWindow(" + HandleText(hWnd) + ")");
    return FindWindowRecord(hWnd) != nullptr;
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    Window* pWindow = FindWindowRecord(hWnd);
    if (pWindow == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    Record("DestroyWindow(" + HandleText(hWnd) + ")");
    WNDPROC pfnWndProc = pWindow->pfnWndProc;
    pfnWndProc(hWnd, WM_DESTROY, 0, 0);
    TheMachine().windows.erase(reinterpret_cast<ULONG_PTR>(hWnd));
    return TRUE;
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM /*wParam*/, LPARAM /*lParam*/)
{
    Record("DefWindowProcW(" + Hex(Msg) + ")");
    if (Msg == WM_CLOSE) {
        DestroyWindow(hWnd);
    }
    return 0;
}

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND /*hWnd*/, UINT /*wMsgFilterMin*/, UINT /*wMsgFilterMax*/)
{
    Machine& m = TheMachine();
    for (;;) {
        if (m.queue.empty()) {
            if (m.bQuitPosted) {
                *lpMsg = MSG{};
                lpMsg->message = WM_QUIT;
                return FALSE;
            }
            // A real thread would block here for good; fail instead, so that a test ends. A
            // loop that asks again after the failure would spin for ever: stop the test.
            if (m.bQueueRanDry) {
                fprintf(stderr,
                        "fake OS: GetMessageW called again after it failed: the message "
                        "loop does not end on an error\n");
                abort();
            }
            m.bQueueRanDry = true;
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return -1;
        }
        QueuedMessage message = m.queue.front();
        m.queue.pop_front();
        if (message.action) {
            message.action();
            continue;
        }
        HWND hWnd = FindHelperWindow();
        if (message.bSent) {
            Window* pWindow = FindWindowRecord(hWnd);
            LRESULT lAnswer =
                pWindow != nullptr
                    ? pWindow->pfnWndProc(hWnd, message.uMsg, message.wParam, message.lParam)
                    : 0;
            m.sentAnswers.push_back(lAnswer);
            continue;
        }
        *lpMsg = MSG{};
        lpMsg->hwnd = hWnd;
        lpMsg->message = message.uMsg;
        lpMsg->wParam = message.wParam;
        lpMsg->lParam = message.lParam;
        return message.uMsg == WM_QUIT ? FALSE : TRUE;
    }
}

BOOL WINAPI TranslateMessage(const MSG* /*lpMsg*/)
{
    return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg)
{
    Window* pWindow = FindWindowRecord(lpMsg->hwnd);
    if (pWindow == nullptr) {
        return 0;
    }
    return pWindow->pfnWndProc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

void WINAPI PostQuitMessage(int nExitCode)
{
    Record("PostQuitMessage(" + std::to_string(nExitCode) + ")");
    TheMachine().bQuitPosted = true;
}

BOOL WINAPI PostMessageW(HWND /*hWnd*/, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    PostToHelper(Msg, wParam, lParam);
    return TRUE;
}

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Window* pWindow = FindWindowRecord(hWnd);
    return pWindow != nullptr ? pWindow->pfnWndProc(hWnd, Msg, wParam, lParam) : 0;
}

LRESULT WINAPI SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam,
                                   UINT /*fuFlags*/, UINT /*uTimeout*/, PDWORD_PTR lpdwResult)
{
    Window* pWindow = FindWindowRecord(hWnd);
    if (pWindow == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    LRESULT lResult = pWindow->pfnWndProc(hWnd, Msg, wParam, lParam);
    if (lpdwResult != nullptr) {
        *lpdwResult = static_cast<DWORD_PTR>(lResult);
    }
    return 1;
}

HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR /*lpWindowName*/)
{
    for (auto& [value, window] : TheMachine().windows) {
        if (lpClassName == nullptr || window.className == lpClassName) {
            return reinterpret_cast<HWND>(value);
        }
    }
    return nullptr;
}
