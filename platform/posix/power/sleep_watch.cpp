// The sleep watch: a thread of its own, started by the process's first top-level window, that
// holds a delay inhibitor while the machine is awake and tells the windows of each sleep and
// wake. See README.md.
#include "platform/posix/power/sleep_watch.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/posix/power/logind_client.h"
#include "platform/posix/power/power_events.h"
#include "platform/posix/power/testing.h"

namespace power_service {

namespace {

// The time quorvane-power gives a window to answer. logind stops waiting sooner
// (InhibitDelayMaxSec, 5 s unless configured), so this only keeps a hung window from stopping
// the watch for good.
constexpr UINT kAnswerBoundMs = 20000;

enum class Stage {
    NotStarted,
    Running,
    Ended,        // ended on its own or stopped, or could not start: never started again
    InForkChild,  // a fork() child of a process whose watch was started: it has none
};

// What the watch thread shares with the process's other threads and with fork(). The
// descriptors are here, not on the thread's stack, so that a fork() child can close its
// copies of them; each changes only under the lock, which fork() takes too.
struct Watch {
    std::mutex lock;
    std::condition_variable changed;  // the stage or the inhibitor changed
    Stage stage = Stage::NotStarted;
    int stopFd = -1;       // an eventfd the thread polls; a test stops it through it
    int busFd = -1;        // the bus connection's socket
    int inhibitorFd = -1;  // the delay inhibitor, while held
    UINT uAnswerBoundMs = kAnswerBoundMs;
};

// Never destroyed: the thread is never joined and may be polling while the process exits.
Watch& TheWatch()
{
    static Watch* s_pWatch = new Watch;
    return *s_pWatch;
}

void CloseAndForget(int* pFd)
{
    if (*pFd >= 0) {
        close(*pFd);
        *pFd = -1;
    }
}

// Takes a new inhibitor in place of any held. The watch's copy is made, and the reply's closed,
// under the lock that fork() takes: a child forked after that has one copy only, which it
// closes. FALSE when none is held now.
bool TakeInhibitor(LogindClient* pClient)
{
    InhibitorReply reply;
    if (!AskForSleepInhibitor(pClient, &reply)) {
        return false;
    }
    Watch& watch = TheWatch();
    std::lock_guard guard(watch.lock);
    CloseAndForget(&watch.inhibitorFd);
    watch.inhibitorFd = fcntl(reply.fd, F_DUPFD_CLOEXEC, 3);
    ReleaseInhibitorReply(&reply);
    watch.changed.notify_all();
    return watch.inhibitorFd >= 0;
}

void LetInhibitorGo()
{
    std::lock_guard guard(TheWatch().lock);
    CloseAndForget(&TheWatch().inhibitorFd);
}

UINT AnswerBoundMs()
{
    std::lock_guard guard(TheWatch().lock);
    return TheWatch().uAnswerBoundMs;
}

// The windows answer the sleep first; only then may it go on.
void OnSleep()
{
    TellSleep(AnswerBoundMs());
    LetInhibitorGo();
}

// Without a new inhibitor (logind left the bus meanwhile, say) the watch goes on without one:
// the windows still hear of the next sleep, though logind does not wait for them.
void OnWake(LogindClient* pClient)
{
    TellWake(AnswerBoundMs());
    TakeInhibitor(pClient);
}

// Sleeps until the bus has something or the watch is stopped. FALSE to stop.
bool WaitForBus(LogindClient* pClient, int stopFd)
{
    BusWait wait;
    if (!GetBusWait(pClient, &wait)) {
        return false;
    }
    pollfd fds[2] = {{wait.fd, wait.events, 0}, {stopFd, POLLIN, 0}};
    if (poll(fds, 2, wait.nTimeoutMs) < 0 && errno != EINTR) {
        return false;
    }
    return (fds[1].revents & POLLIN) == 0;
}

// Acts on each PrepareForSleep in order, until the connection is lost or the watch stopped.
// Each sleep is told once and each wake only after a sleep, however logind's signals repeat;
// a sleep told is always followed by its wake, even when the watch ends first.
void WatchSleepSignals(LogindClient* pClient, int stopFd)
{
    bool bAsleep = false;
    while (DispatchLogindClient(pClient)) {
        while (!pClient->sleepSignals.empty()) {
            bool bSleeping = pClient->sleepSignals.front();
            pClient->sleepSignals.pop_front();
            if (bSleeping && !bAsleep) {
                OnSleep();
            } else if (!bSleeping && bAsleep) {
                OnWake(pClient);
            }
            bAsleep = bSleeping;
        }
        if (!WaitForBus(pClient, stopFd)) {
            break;
        }
    }
    // A sleep told and no wake to come: the windows would keep until the process ends what they
    // give back only at a wake (the helper, every port's mutex). This thread runs, so the
    // machine is awake: they are told so before the watch ends.
    if (bAsleep) {
        TellWake(AnswerBoundMs());
    }
}

void* RunWatch(void* /*pUnused*/)
{
    pthread_setname_np(pthread_self(), "sleep-watch");
    Watch& watch = TheWatch();
    int stopFd;
    {
        std::lock_guard guard(watch.lock);
        stopFd = watch.stopFd;
    }
    // No bus, no logind, a refused inhibitor: the windows work as before, and nothing is
    // printed or tried again.
    LogindClient client;
    if (OpenLogindClient(&client)) {
        {
            std::lock_guard guard(watch.lock);
            watch.busFd = sd_bus_get_fd(client.pBus);
        }
        if (TakeInhibitor(&client)) {
            WatchSleepSignals(&client, stopFd);
        }
        // The connection is lost (or a test stopped the watch): no PrepareForSleep can come
        // now, and an inhibitor kept would only delay every sleep to logind's limit.
        LetInhibitorGo();
        std::lock_guard guard(watch.lock);
        watch.busFd = -1;
        CloseLogindClient(&client);
    }
    std::lock_guard guard(watch.lock);
    CloseAndForget(&watch.stopFd);
    watch.stage = Stage::Ended;
    watch.changed.notify_all();
    return nullptr;
}

// Blocks every signal in the new thread: they stay with the program's own threads, which may
// wait for them (sigwait) or rely on them interrupting a call.
bool StartWatchThread()
{
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    // Detached: the thread must never keep the process from ending.
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    int nResult = pthread_create(&thread, &attributes, RunWatch, nullptr);
    pthread_attr_destroy(&attributes);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return nResult == 0;
}

// A fork() child has no watch thread and must not act for its parent: it closes its copies of
// the inhibitor (which would otherwise keep its parent's sleep held while the child lives) and
// of the bus connection, and starts no watch of its own, since a child of a process with
// threads may use little more than async-signal-safe calls until it calls exec.
void BeforeFork()
{
    TheWatch().lock.lock();
}

void AfterForkInParent()
{
    TheWatch().lock.unlock();
}

void AfterForkInChild()
{
    Watch& watch = TheWatch();
    CloseAndForget(&watch.inhibitorFd);
    CloseAndForget(&watch.busFd);
    CloseAndForget(&watch.stopFd);
    if (watch.stage != Stage::NotStarted) {
        watch.stage = Stage::InForkChild;
    }
    watch.lock.unlock();
}

}  // namespace

void WatchSleepOnce()
{
    static std::once_flag s_forkHandlers;
    std::call_once(s_forkHandlers,
                   [] { pthread_atfork(BeforeFork, AfterForkInParent, AfterForkInChild); });

    Watch& watch = TheWatch();
    std::lock_guard guard(watch.lock);
    if (watch.stage != Stage::NotStarted) {
        return;
    }
    watch.stage = Stage::Ended;  // whatever fails below is not tried again
    watch.stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (watch.stopFd < 0) {
        return;
    }
    if (!StartWatchThread()) {
        CloseAndForget(&watch.stopFd);
        return;
    }
    watch.stage = Stage::Running;
}

void SetAnswerBoundForTesting(UINT uBoundMs)
{
    std::lock_guard guard(TheWatch().lock);
    TheWatch().uAnswerBoundMs = uBoundMs;
}

bool WaitForWatchEndForTesting(UINT uTimeoutMs)
{
    Watch& watch = TheWatch();
    std::unique_lock guard(watch.lock);
    return watch.changed.wait_for(guard, std::chrono::milliseconds(uTimeoutMs),
                                  [&] { return watch.stage != Stage::Running; });
}

bool WaitForInhibitorForTesting(UINT uTimeoutMs)
{
    Watch& watch = TheWatch();
    std::unique_lock guard(watch.lock);
    return watch.changed.wait_for(guard, std::chrono::milliseconds(uTimeoutMs),
                                  [&] { return watch.inhibitorFd >= 0; });
}

void ResetWatchForTesting()
{
    Watch& watch = TheWatch();
    std::unique_lock guard(watch.lock);
    if (watch.stage == Stage::Running) {
        eventfd_write(watch.stopFd, 1);
        watch.changed.wait(guard, [&] { return watch.stage != Stage::Running; });
    }
    watch.stage = Stage::NotStarted;
    watch.uAnswerBoundMs = kAnswerBoundMs;
}

}  // namespace power_service
