#include <errno.h>
#include <signal.h>
#include <string.h>

#include "platform/posix/include/quorvane_debug_monitor.h"
#include "tools/trace/debug_monitor.h"

struct DebugMonitor {
    int channelFd;
};

DebugMonitor* AttachDebugMonitor(std::string* pProblem)
{
    int channelFd = QuorvaneAttachDebugMonitor();
    if (channelFd < 0) {
        *pProblem = errno == EADDRINUSE ? "another monitor is attached" : strerror(errno);
        return nullptr;
    }
    return new DebugMonitor{channelFd};
}

Received ReceiveDebugMessage(DebugMonitor* pMonitor, int nTimeoutMs, DebugMessage* pMessage)
{
    WCHAR szText[4097];
    int nChars =
        QuorvaneReceiveDebugMessage(pMonitor->channelFd, nTimeoutMs, &pMessage->dwProcessId, szText,
                                    sizeof(szText) / sizeof(szText[0]));
    if (nChars > 0) {
        pMessage->text.assign(szText, static_cast<size_t>(nChars));
        return Received::Message;
    }
    // A stop request interrupts the wait, or the next one if it came in between.
    if (nChars < 0) {
        return errno == EINTR ? Received::Stopped : Received::Failed;
    }
    return Received::TimedOut;
}

namespace {

int s_monitorFd = -1;

void OnTerminationSignal(int)
{
    QuorvaneInterruptDebugMonitor(s_monitorFd);
}

}  // namespace

void StopOnTerminationRequests(DebugMonitor* pMonitor)
{
    s_monitorFd = pMonitor->channelFd;
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void DetachDebugMonitor(DebugMonitor* pMonitor)
{
    QuorvaneDetachDebugMonitor(pMonitor->channelFd);
    delete pMonitor;
}
