// The message queue of a thread: GetMessageW waits for posted messages and, while it waits,
// handles the messages other processes send to the thread's windows, one at a time.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/posix/window/internal.h"

using namespace window_service;

namespace {

// The listening sockets of the windows this thread serves.
std::vector<std::pair<int, ULONG_PTR>> ListeningSockets()
{
    std::vector<std::pair<int, ULONG_PTR>> sockets;
    pid_t thread = CurrentThreadId();
    Lock();
    for (const auto& [hwnd, record] : Windows().windows) {
        if (record.ownerThread == thread && record.listenFd >= 0) {
            sockets.emplace_back(record.listenFd, hwnd);
        }
    }
    Unlock();
    return sockets;
}

void CloseConnection(ThreadQueue& queue, int fd)
{
    close(fd);
    std::erase(queue.connections, fd);
}

// Out of descriptors, a listener stays readable with nothing accepted: the loop would spin. A
// descriptor kept in reserve lets the waiting sender be accepted and turned away instead.
void TurnAwayOneSender(int listenFd)
{
    static int s_spareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (s_spareFd >= 0) {
        close(s_spareFd);
    }
    int connection = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection >= 0) {
        close(connection);
    }
    s_spareFd = open("/dev/null", O_RDONLY | O_CLOEXEC);
}

bool IsOwnWindow(ULONG_PTR hwnd)
{
    pid_t thread = CurrentThreadId();
    Lock();
    auto it = Windows().windows.find(hwnd);
    bool bOwn = it != Windows().windows.end() && it->second.ownerThread == thread;
    Unlock();
    return bOwn;
}

// Handles one packet from a sender. A connection that sends anything but a well-formed request
// for one of this thread's windows is dropped: a sender cannot make the owner misbehave.
void ServeConnection(ThreadQueue& queue, int fd)
{
    RequestPacket request;
    ssize_t cbRead = recv(fd, &request, sizeof(request), MSG_DONTWAIT);
    if (cbRead < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    if (cbRead != static_cast<ssize_t>(sizeof(request)) || request.magic != kRequestMagic ||
        !IsOwnWindow(request.hwnd)) {
        CloseConnection(queue, fd);
        return;
    }
    WPARAM wParam = request.wParam;
    LPARAM lParam = request.lParam;
    if (request.kind == PacketKind::Post) {
        MSG msg{};
        msg.hwnd = reinterpret_cast<HWND>(request.hwnd);
        msg.message = request.message;
        msg.wParam = wParam;
        msg.lParam = lParam;
        queue.posted.push_back(msg);
        return;
    }
    if (request.kind != PacketKind::Send) {
        CloseConnection(queue, fd);
        return;
    }
    LRESULT lResult = CallWindowProcedure(request.hwnd, request.message, wParam, lParam);
    ReplyPacket reply{kReplyMagic, 0, request.sequence, lResult};
    // A sender that gave up (or died) meanwhile no longer reads: that is its affair.
    if (send(fd, &reply, sizeof(reply), MSG_NOSIGNAL | MSG_DONTWAIT) != sizeof(reply)) {
        CloseConnection(queue, fd);
    }
}

// Waits for something to happen (or, with a zero timeout, looks) and handles it: new
// senders, their packets, and the close signals. Returns after one round.
void PumpOnce(ThreadQueue& queue, int nTimeoutMs)
{
    // A listener stays readable while its backlog waits: it is left out of the poll, so that the
    // loop sleeps, when no more connections can be taken.
    std::vector<std::pair<int, ULONG_PTR>> listening;
    if (queue.connections.size() < kMaxConnections) {
        listening = ListeningSockets();
    }
    std::vector<pollfd> fds;
    int signalFd = CloseSignalFd();
    fds.push_back(pollfd{signalFd, POLLIN, 0});
    for (const auto& [fd, hwnd] : listening) {
        fds.push_back(pollfd{fd, POLLIN, 0});
    }
    for (int fd : queue.connections) {
        fds.push_back(pollfd{fd, POLLIN, 0});
    }

    int nReady = poll(fds.data(), fds.size(), nTimeoutMs);
    if (nReady <= 0) {
        return;
    }
    if ((fds[0].revents & POLLIN) != 0) {
        char drain[64];
        while (read(signalFd, drain, sizeof(drain)) > 0) {
        }
        PostCloseToAllWindows();
    }
    size_t iFd = 1;
    for (; iFd < 1 + listening.size(); iFd++) {
        if ((fds[iFd].revents & POLLIN) == 0) {
            continue;
        }
        int connection;
        while (queue.connections.size() < kMaxConnections &&
               (connection = accept4(fds[iFd].fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0) {
            queue.connections.push_back(connection);
        }
        if (queue.connections.size() < kMaxConnections && (errno == EMFILE || errno == ENFILE)) {
            TurnAwayOneSender(fds[iFd].fd);
        }
    }
    for (; iFd < fds.size(); iFd++) {
        if ((fds[iFd].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            ServeConnection(queue, fds[iFd].fd);
        }
    }
}

}  // namespace

namespace window_service {

ThreadQueue& CurrentQueue()
{
    static thread_local ThreadQueue s_queue{};
    return s_queue;
}

}  // namespace window_service

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND /*hWnd*/, UINT /*wMsgFilterMin*/, UINT /*wMsgFilterMax*/)
{
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    ThreadQueue& queue = CurrentQueue();
    // Messages sent by other processes are handled before a posted message is returned.
    PumpOnce(queue, 0);
    for (;;) {
        if (!queue.posted.empty()) {
            *lpMsg = queue.posted.front();
            queue.posted.pop_front();
            return lpMsg->message == WM_QUIT ? FALSE : TRUE;
        }
        if (queue.bQuit) {
            queue.bQuit = false;
            *lpMsg = MSG{};
            lpMsg->message = WM_QUIT;
            lpMsg->wParam = static_cast<WPARAM>(queue.nQuitCode);
            return FALSE;
        }
        PumpOnce(queue, -1);
    }
}

BOOL WINAPI TranslateMessage(const MSG* /*lpMsg*/)
{
    return FALSE;  // there is no keyboard input to translate
}

LRESULT WINAPI DispatchMessageW(const MSG* lpMsg)
{
    if (lpMsg == nullptr || lpMsg->hwnd == nullptr) {
        return 0;
    }
    return CallWindowProcedure(reinterpret_cast<ULONG_PTR>(lpMsg->hwnd), lpMsg->message,
                               lpMsg->wParam, lpMsg->lParam);
}

void WINAPI PostQuitMessage(int nExitCode)
{
    ThreadQueue& queue = CurrentQueue();
    queue.bQuit = true;
    queue.nQuitCode = nExitCode;
}
