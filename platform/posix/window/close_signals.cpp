// SIGTERM and SIGINT end a windowed program the way closing its windows does: each of the
// process's top-level windows is sent WM_CLOSE through its message loop. A process without
// windows ends as the signal would have ended it.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <mutex>

#include "platform/posix/window/internal.h"

namespace {

int s_signalPipe[2] = {-1, -1};
volatile sig_atomic_t s_lastSignal = 0;

void OnCloseSignal(int nSignal)
{
    s_lastSignal = nSignal;
    char byte = 1;
    // A full pipe already holds a wake-up: dropping this one loses nothing.
    ssize_t cbWritten = write(s_signalPipe[1], &byte, 1);
    (void)cbWritten;
}

}  // namespace

namespace window_service {

int CloseSignalFd()
{
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        if (pipe2(s_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            return;
        }
        struct sigaction action {};
        action.sa_handler = OnCloseSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
    });
    return s_signalPipe[0];
}

void PostCloseToAllWindows()
{
    std::vector<ULONG_PTR> windows;
    Lock();
    for (const auto& [hwnd, record] : Windows().windows) {
        windows.push_back(hwnd);
    }
    bool bHadWindow = Windows().bHadWindow;
    Unlock();

    if (windows.empty() && bHadWindow) {
        return;  // the windows are closed already: the orderly end is under way
    }
    if (windows.empty()) {
        int nSignal = s_lastSignal != 0 ? static_cast<int>(s_lastSignal) : SIGTERM;
        signal(nSignal, SIG_DFL);
        raise(nSignal);
        return;
    }
    for (ULONG_PTR hwnd : windows) {
        PostMessageW(reinterpret_cast<HWND>(hwnd), WM_CLOSE, 0, 0);
    }
}

}  // namespace window_service
