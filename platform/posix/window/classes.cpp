// Window classes of this process, and the process-wide tables of the window service.
#include <sys/syscall.h>
#include <unistd.h>

#include <mutex>

#include "platform/posix/window/internal.h"

namespace window_service {

namespace {
std::mutex s_tableLock;
}  // namespace

ProcessWindows& Windows()
{
    // Never destroyed: threads other than the main one (the host's sleep watch, a program's
    // own) may still deliver a message while the process exits.
    static ProcessWindows& s_windows = *new ProcessWindows;
    return s_windows;
}

void Lock()
{
    s_tableLock.lock();
}

void Unlock()
{
    s_tableLock.unlock();
}

pid_t CurrentThreadId()
{
    // Asked on every message: one system call per thread, not one per message.
    static thread_local pid_t s_threadId = static_cast<pid_t>(syscall(SYS_gettid));
    return s_threadId;
}

}  // namespace window_service

using namespace window_service;

ATOM WINAPI RegisterClassW(const WNDCLASSW* lpWndClass)
{
    if (lpWndClass == nullptr || lpWndClass->lpszClassName == nullptr ||
        lpWndClass->lpfnWndProc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::u16string className = lpWndClass->lpszClassName;
    Lock();
    ProcessWindows& tables = Windows();
    if (tables.classes.count(className) != 0) {
        Unlock();
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    tables.classNames[className] = className;
    WNDCLASSW windowClass = *lpWndClass;
    windowClass.lpszClassName = tables.classNames[className].c_str();
    windowClass.lpszMenuName = nullptr;  // menus are never drawn here
    tables.classes[className] = windowClass;
    // Class atoms live in 0xC000-0xFFFF.
    ATOM atom = static_cast<ATOM>(0xC000 + tables.classes.size());
    Unlock();
    return atom;
}
