// Messages to windows: sent (the sender waits for the answer) or posted (it does not). A
// window of the calling thread is called directly; any other is reached through its socket.
#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

#include "platform/posix/window/internal.h"

using namespace window_service;

namespace {

enum class Owner { ThisThread, OtherThread, Nobody };

Owner OwnerOf(ULONG_PTR hwnd)
{
    Lock();
    auto it = Windows().windows.find(hwnd);
    Owner owner = it == Windows().windows.end()                 ? Owner::Nobody
                  : it->second.ownerThread == CurrentThreadId() ? Owner::ThisThread
                                                                : Owner::OtherThread;
    Unlock();
    return owner;
}

// One connection per target window and sending thread, kept between messages: a round trip
// then costs one packet each way.
struct Connections {
    std::map<ULONG_PTR, int> fds;
    ~Connections()
    {
        for (const auto& [hwnd, fd] : fds) {
            close(fd);
        }
    }
};

Connections& ThreadConnections()
{
    static thread_local Connections s_connections;
    return s_connections;
}

void Forget(ULONG_PTR hwnd)
{
    auto& fds = ThreadConnections().fds;
    auto it = fds.find(hwnd);
    if (it != fds.end()) {
        close(it->second);
        fds.erase(it);
    }
}

// Sends a request on the kept connection, connecting anew once if the old one broke (the
// window's owner may have restarted it). Returns the descriptor, or -1 if nobody listens.
int SendRequest(ULONG_PTR hwnd, const RequestPacket& request, int nFlags)
{
    auto& fds = ThreadConnections().fds;
    for (int nTry = 0; nTry < 2; nTry++) {
        auto it = fds.find(hwnd);
        int fd = it != fds.end() ? it->second : ConnectToWindow(hwnd);
        if (fd < 0) {
            return -1;
        }
        fds[hwnd] = fd;
        if (send(fd, &request, sizeof(request), MSG_NOSIGNAL | nFlags) == sizeof(request)) {
            return fd;
        }
        if (errno == EAGAIN) {
            return -1;  // the connection is fine but full: the caller decides
        }
        Forget(hwnd);
    }
    return -1;
}

long long NowMs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

enum class Outcome { Answered, TimedOut, Gone };

// Waits for the answer to request number `sequence`. nTimeoutMs < 0 waits as long as it takes.
Outcome AwaitReply(int fd, std::uint64_t sequence, int nTimeoutMs, LRESULT* plResult)
{
    long long deadline = nTimeoutMs < 0 ? -1 : NowMs() + nTimeoutMs;
    for (;;) {
        // Without a time limit the answer is simply read: one system call less per message.
        if (deadline >= 0) {
            pollfd pfd{fd, POLLIN, 0};
            int nReady = poll(&pfd, 1, static_cast<int>(std::max(0LL, deadline - NowMs())));
            if (nReady < 0 && errno == EINTR) {
                continue;
            }
            if (nReady < 0) {
                return Outcome::Gone;
            }
            if (nReady == 0) {
                return Outcome::TimedOut;
            }
        }
        ReplyPacket reply;
        ssize_t cbRead = recv(fd, &reply, sizeof(reply), 0);
        if (cbRead < 0 && errno == EINTR) {
            continue;
        }
        if (cbRead != static_cast<ssize_t>(sizeof(reply)) || reply.magic != kReplyMagic) {
            return Outcome::Gone;
        }
        if (reply.sequence == sequence) {
            *plResult = reply.lResult;
            return Outcome::Answered;
        }
        // An answer to an earlier request that timed out: not ours, skip it.
    }
}

Outcome SendToOtherThread(ULONG_PTR hwnd, UINT Msg, WPARAM wParam, LPARAM lParam, int nTimeoutMs,
                          LRESULT* plResult)
{
    static std::atomic<std::uint64_t> s_nextSequence{1};
    RequestPacket request{
        kRequestMagic, PacketKind::Send, s_nextSequence.fetch_add(1), hwnd, Msg, 0, wParam, lParam};
    int fd = SendRequest(hwnd, request, 0);
    if (fd < 0) {
        return Outcome::Gone;
    }
    Outcome outcome = AwaitReply(fd, request.sequence, nTimeoutMs, plResult);
    if (outcome != Outcome::Answered) {
        // The late answer must not be read as the next message's: start afresh next time.
        Forget(hwnd);
    }
    return outcome;
}

}  // namespace

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    ULONG_PTR hwnd = reinterpret_cast<ULONG_PTR>(hWnd);
    if (OwnerOf(hwnd) == Owner::ThisThread) {
        return CallWindowProcedure(hwnd, Msg, wParam, lParam);
    }
    LRESULT lResult = 0;
    if (SendToOtherThread(hwnd, Msg, wParam, lParam, -1, &lResult) != Outcome::Answered) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return lResult;
}

LRESULT WINAPI SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam,
                                   UINT /*fuFlags*/, UINT uTimeout, PDWORD_PTR lpdwResult)
{
    ULONG_PTR hwnd = reinterpret_cast<ULONG_PTR>(hWnd);
    LRESULT lResult = 0;
    if (OwnerOf(hwnd) == Owner::ThisThread) {
        lResult = CallWindowProcedure(hwnd, Msg, wParam, lParam);
    } else {
        int nTimeoutMs = uTimeout > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(uTimeout);
        Outcome outcome = SendToOtherThread(hwnd, Msg, wParam, lParam, nTimeoutMs, &lResult);
        if (outcome != Outcome::Answered) {
            SetLastError(outcome == Outcome::TimedOut ? ERROR_TIMEOUT
                                                      : ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
    }
    if (lpdwResult != nullptr) {
        *lpdwResult = static_cast<DWORD_PTR>(lResult);
    }
    return 1;
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    ULONG_PTR hwnd = reinterpret_cast<ULONG_PTR>(hWnd);
    if (OwnerOf(hwnd) == Owner::ThisThread) {
        MSG msg{};
        msg.hwnd = hWnd;
        msg.message = Msg;
        msg.wParam = wParam;
        msg.lParam = lParam;
        CurrentQueue().posted.push_back(msg);
        return TRUE;
    }
    // Posting never waits: a receiver that does not read (busy in a long wait, say) makes
    // the post fail once its queue is full, as a full message queue does on Windows.
    RequestPacket request{kRequestMagic, PacketKind::Post, 0, hwnd, Msg, 0, wParam, lParam};
    if (SendRequest(hwnd, request, MSG_DONTWAIT) < 0) {
        SetLastError(errno == EAGAIN ? ERROR_NOT_ENOUGH_QUOTA : ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return TRUE;
}
