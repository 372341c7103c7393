#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include "platform/posix/include/quorvane_debug_monitor.h"
#include "tools/trace/debug_monitor.h"

struct DebugMonitor {
    int channelFd;
    int stopPipe[2];  // a stop request is a byte here, so that no request is missed
};

DebugMonitor* AttachDebugMonitor(std::string* pProblem)
{
    int channelFd = QuorvaneAttachDebugMonitor();
    if (channelFd < 0) {
        *pProblem = errno == EADDRINUSE ? "another monitor is attached" : strerror(errno);
        return nullptr;
    }
    DebugMonitor* pMonitor = new DebugMonitor{channelFd, {-1, -1}};
    if (pipe2(pMonitor->stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        *pProblem = strerror(errno);
        QuorvaneDetachDebugMonitor(channelFd);
        delete pMonitor;
        return nullptr;
    }
    return pMonitor;
}

Received ReceiveDebugMessage(DebugMonitor* pMonitor, int nTimeoutMs, DebugMessage* pMessage)
{
    for (;;) {
        pollfd fds[2] = {{pMonitor->channelFd, POLLIN, 0}, {pMonitor->stopPipe[0], POLLIN, 0}};
        int nReady = poll(fds, 2, nTimeoutMs);
        if (nReady < 0 && errno == EINTR) {
            continue;  // a stop request, if that was one, is waiting in the pipe
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return Received::Stopped;
        }
        if (nReady <= 0) {
            return Received::TimedOut;
        }
        WCHAR szText[4097];
        int nChars = QuorvaneReceiveDebugMessage(pMonitor->channelFd, 0, &pMessage->dwProcessId,
                                                 szText, sizeof(szText) / sizeof(szText[0]));
        if (nChars > 0) {
            pMessage->text.assign(szText, static_cast<size_t>(nChars));
            return Received::Message;
        }
    }
}

namespace {

int s_stopFd = -1;

void OnTerminationSignal(int)
{
    char byte = 1;
    ssize_t cbWritten = write(s_stopFd, &byte, 1);
    (void)cbWritten;
}

}  // namespace

void StopOnTerminationRequests(DebugMonitor* pMonitor)
{
    s_stopFd = pMonitor->stopPipe[1];
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void DetachDebugMonitor(DebugMonitor* pMonitor)
{
    QuorvaneDetachDebugMonitor(pMonitor->channelFd);
    close(pMonitor->stopPipe[0]);
    close(pMonitor->stopPipe[1]);
    delete pMonitor;
}
