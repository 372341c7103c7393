// The monitor's side of the debug output channel: the one reader of the ring. It holds the
// channel's monitor lock while attached, reads records in position order, frees each for the
// next lap, and sleeps on a futex when there is nothing to read.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "platform/posix/debug/channel.h"
#include "platform/posix/include/quorvane_debug_monitor.h"
#include "platform/posix/kernel/deadline.h"

namespace {

using debug_channel::Channel;
using debug_channel::Distance;
using debug_channel::kRecordCount;
using debug_channel::Record;
using debug_channel::RecordAt;
using debug_channel::Shared;
using debug_channel::StampOf;

// This process's monitor, if it is the one; used by one thread at a time.
struct Monitor {
    int fd = -1;                 // the handle given out; -1 when this process is not the monitor
    Channel* channel = nullptr;  // the mapping the monitor reads
    uint32_t tid = 0;            // the thread that holds the monitor lock, as the lock word says
    uint32_t tail = 0;      // the next position to read; mirrored in the channel for a successor
    bool bStalled = false;  // the tail is reserved but unpublished...
    timespec giveUpAt{};    // ...and is skipped if still so at this time
    bool bRecentlyRead = false;     // a message was read since the monitor last lingered
    uint32_t cFreedUnreported = 0;  // records freed since writers waiting for room were woken
};

// Writers waiting for room are woken once an eighth of the ring is free again, or when the
// monitor has read all there is: a wake for each freed record would cost more than the record.
constexpr uint32_t kRoomWakeBatch = kRecordCount / 8;

// Once the ring is read empty, the monitor sleeps this long before it tells writers it sleeps:
// trace lines come in bursts, microseconds apart, and those that follow within this time cost
// their writers no wake-up and the monitor no wake-up each. One nap per burst, never while idle.
constexpr long kLingerNs = 50000;

Monitor s_monitor;

// What a signal handler reads to interrupt a waiting receive.
std::atomic<int> s_interruptibleFd{-1};
std::atomic<Channel*> s_interruptibleChannel{nullptr};
std::atomic<bool> s_interruptPending{false};

pthread_once_t s_forkHandlerOnce = PTHREAD_ONCE_INIT;

// A fork child of the monitor is not the monitor: its copy of the handle names nothing.
void ForgetMonitorAfterFork()
{
    s_interruptibleFd.store(-1);
    s_interruptibleChannel.store(nullptr);
    s_monitor = Monitor{};
}

void RegisterForkHandler()
{
    pthread_atfork(nullptr, nullptr, ForgetMonitorAfterFork);
}

bool IsOurMonitor(int monitorFd)
{
    return monitorFd >= 0 && monitorFd == s_monitor.fd;
}

// Whether the monitor still holds its place: not when its thread ended.
bool HoldsItsPlace()
{
    Channel& channel = *s_monitor.channel;
    return Shared(channel.monitorTid).load() == s_monitor.tid &&
           debug_channel::IsMonitorAttached(channel);
}

// Wakes the writers waiting for room, if records were freed since the last time. The stamps
// were stored before spaceWaiters is read here, and a writer counts itself in before it looks
// at the stamp once more, so either it sees the room or this sees it.
void WakeRoomWaiters(Channel& channel)
{
    if (s_monitor.cFreedUnreported == 0) {
        return;
    }
    s_monitor.cFreedUnreported = 0;
    if (Shared(channel.spaceWaiters.value).load() != 0) {
        Shared(channel.spaceSequence.value).fetch_add(1);
        debug_channel::WakeWord(&channel.spaceSequence.value, INT_MAX);
    }
}

void ReportFreedRecord(Channel& channel)
{
    if (++s_monitor.cFreedUnreported >= kRoomWakeBatch) {
        WakeRoomWaiters(channel);
    }
}

void MoveTailOn(Channel& channel)
{
    s_monitor.tail++;
    s_monitor.bStalled = false;
    Shared(channel.tail.value).store(s_monitor.tail, std::memory_order_release);
}

// Done with the record at the tail: free it for the writer one lap on.
void FreeRecord(Channel& channel, Record& record)
{
    Shared(record.stamp).store(StampOf(s_monitor.tail) + kRecordCount);
    MoveTailOn(channel);
    ReportFreedRecord(channel);
}

// Frees the record at the tail unread, published or not. Returns false when its writer
// published it meanwhile: then it is to be looked at again.
bool DiscardTail(Channel& channel)
{
    uint32_t position = s_monitor.tail;
    Record& record = RecordAt(channel, position);
    uint32_t stamp = Shared(record.stamp).load(std::memory_order_acquire);
    int32_t state = Distance(stamp, StampOf(position));
    if (state != 0 && state != 1) {
        // Freed already, by a monitor that died before it moved the tail on.
        MoveTailOn(channel);
        return true;
    }
    // A compare-and-swap, so that the writer of an unpublished record fails its publish.
    if (!Shared(record.stamp).compare_exchange_strong(stamp, StampOf(position) + kRecordCount)) {
        return false;
    }
    MoveTailOn(channel);
    ReportFreedRecord(channel);
    return true;
}

// Whether to stop waiting for the unpublished record at the tail: its writer is dead or stopped
// once the wait has lasted kUnpublishedRecordWaitMs.
bool GiveUpOnTail()
{
    if (!s_monitor.bStalled) {
        s_monitor.bStalled = true;
        s_monitor.giveUpAt = monotonic::DeadlineAfter(debug_channel::kUnpublishedRecordWaitMs);
        return false;
    }
    return debug_channel::HasPassed(s_monitor.giveUpAt);
}

enum class Next { Read, Empty, Unpublished };

// Reads the record at the tail into the caller's buffer, moving on over records that are not
// to be read. Empty: nothing is reserved. Unpublished: the tail's writer has not finished.
Next ReadNextRecord(Channel& channel, DWORD* pdwProcessId, WCHAR* pszText, size_t cchText,
                    int* pnChars)
{
    for (;;) {
        uint32_t position = s_monitor.tail;
        Record& record = RecordAt(channel, position);
        int32_t state =
            Distance(Shared(record.stamp).load(std::memory_order_acquire), StampOf(position));
        if (state == 1) {
            size_t cchStored =
                std::min<size_t>({record.chars, debug_channel::kRecordChars, cchText - 1});
            memcpy(pszText, record.text, cchStored * sizeof(WCHAR));
            pszText[cchStored] = 0;
            if (pdwProcessId != nullptr) {
                *pdwProcessId = record.processId;
            }
            *pnChars = static_cast<int>(cchStored);
            FreeRecord(channel, record);
            s_monitor.bRecentlyRead = true;
            return Next::Read;
        }
        if (state != 0) {
            MoveTailOn(channel);  // freed already, by a monitor that died before moving on
            continue;
        }
        if (Distance(Shared(channel.head.value).load(), position) <= 0) {
            return Next::Empty;
        }
        if (!GiveUpOnTail()) {
            return Next::Unpublished;
        }
        DiscardTail(channel);
    }
}

// What was reserved before this monitor attached is freed unread, so that the ring starts
// empty. Writers do not see this monitor yet.
void DiscardRecordsBefore(Channel& channel, uint32_t firstRead)
{
    while (Distance(firstRead, s_monitor.tail) > 0) {
        DiscardTail(channel);
    }
}

// Sleeps until a writer publishes the record at the tail, an interrupt, or the deadline.
void SleepUntilNews(Channel& channel, const timespec* deadline)
{
    std::atomic_ref<uint32_t> asleep = Shared(channel.monitorAsleep.value);
    asleep.store(1);
    // A writer that published before it could see the flag is read now rather than slept over.
    uint32_t stamp = Shared(RecordAt(channel, s_monitor.tail).stamp).load();
    if (stamp == StampOf(s_monitor.tail) && !s_interruptPending.load()) {
        debug_channel::WaitOnWord(&channel.monitorAsleep.value, 1, deadline);
    }
    asleep.store(0, std::memory_order_relaxed);
}

const timespec* Earlier(const timespec* a, const timespec* b)
{
    if (a == nullptr) {
        return b;
    }
    if (b == nullptr) {
        return a;
    }
    bool bAFirst = a->tv_sec < b->tv_sec || (a->tv_sec == b->tv_sec && a->tv_nsec <= b->tv_nsec);
    return bAFirst ? a : b;
}

// A nap that writers do not know of: they publish without waking the monitor meanwhile.
void Linger(const timespec* deadline)
{
    s_monitor.bRecentlyRead = false;
    timespec wakeAt;
    clock_gettime(CLOCK_MONOTONIC, &wakeAt);
    wakeAt.tv_nsec += kLingerNs;
    if (wakeAt.tv_nsec >= 1000000000L) {
        wakeAt.tv_sec++;
        wakeAt.tv_nsec -= 1000000000L;
    }
    clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, Earlier(&wakeAt, deadline), nullptr);
}

}  // namespace

int QuorvaneAttachDebugMonitor(void)
{
    const debug_channel::ChannelMapping& mapping = debug_channel::TheChannelMapping();
    if (mapping.channel == nullptr) {
        errno = mapping.error;
        return -1;
    }
    Channel& channel = *mapping.channel;
    int rc = pthread_mutex_trylock(&channel.monitorLock);
    if (rc == EOWNERDEAD) {
        // The last monitor died attached. Nothing of its state needs mending: what it left
        // unread was written before this attach and is skipped like any such record.
        pthread_mutex_consistent(&channel.monitorLock);
    } else if (rc != 0) {
        errno = rc == EBUSY || rc == EDEADLK ? EADDRINUSE : rc;
        return -1;
    }
    int fd = fcntl(mapping.fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        int nError = errno;
        pthread_mutex_unlock(&channel.monitorLock);
        errno = nError;
        return -1;
    }
    pthread_once(&s_forkHandlerOnce, RegisterForkHandler);
    if (s_monitor.fd >= 0) {
        close(s_monitor.fd);  // this process's last monitor, whose thread ended attached
    }
    s_monitor = Monitor{};
    s_monitor.fd = fd;
    s_monitor.channel = &channel;
    s_monitor.tail = Shared(channel.tail.value).load(std::memory_order_acquire);
    Shared(channel.monitorAsleep.value).store(0);
    // Read before writers can see this monitor: whatever they reserve once they see it comes
    // at or after this position.
    DiscardRecordsBefore(channel, Shared(channel.head.value).load());
    WakeRoomWaiters(channel);
    s_interruptPending.store(false);
    s_interruptibleChannel.store(&channel);
    s_interruptibleFd.store(fd);
    s_monitor.tid = Shared(debug_channel::MonitorLockWord(channel)).load() & FUTEX_TID_MASK;
    Shared(channel.monitorTid).store(s_monitor.tid);
    return fd;
}

int QuorvaneReceiveDebugMessage(int monitorFd, int nTimeoutMs, DWORD* pdwProcessId, WCHAR* pszText,
                                size_t cchText)
{
    if (pszText == nullptr || cchText == 0) {
        errno = EINVAL;
        return -1;
    }
    if (!IsOurMonitor(monitorFd) || !HoldsItsPlace()) {
        errno = EBADF;
        return -1;
    }
    Channel& channel = *s_monitor.channel;
    timespec deadline{};
    if (nTimeoutMs > 0) {
        deadline = monotonic::DeadlineAfter(nTimeoutMs);
    }
    for (;;) {
        if (s_interruptPending.exchange(false)) {
            errno = EINTR;
            return -1;
        }
        int nChars = 0;
        Next next = ReadNextRecord(channel, pdwProcessId, pszText, cchText, &nChars);
        if (next == Next::Read) {
            return nChars;
        }
        WakeRoomWaiters(channel);
        if (nTimeoutMs == 0 || (nTimeoutMs > 0 && debug_channel::HasPassed(deadline))) {
            return 0;
        }
        const timespec* wakeAt = nTimeoutMs > 0 ? &deadline : nullptr;
        if (next == Next::Empty && s_monitor.bRecentlyRead) {
            Linger(wakeAt);
            continue;
        }
        if (next == Next::Unpublished) {
            wakeAt = Earlier(wakeAt, &s_monitor.giveUpAt);
        }
        SleepUntilNews(channel, wakeAt);
    }
}

void QuorvaneInterruptDebugMonitor(int monitorFd)
{
    Channel* pChannel = s_interruptibleChannel.load();
    if (pChannel == nullptr || monitorFd < 0 || monitorFd != s_interruptibleFd.load()) {
        return;
    }
    int nSavedErrno = errno;  // a signal handler must leave errno as it found it
    s_interruptPending.store(true);
    if (Shared(pChannel->monitorAsleep.value).exchange(0) != 0) {
        debug_channel::WakeWord(&pChannel->monitorAsleep.value, 1);
    }
    errno = nSavedErrno;
}

void QuorvaneDetachDebugMonitor(int monitorFd)
{
    if (!IsOurMonitor(monitorFd)) {
        return;
    }
    Channel& channel = *s_monitor.channel;
    // Writers stop here; those waiting for room give up now rather than at their time limit.
    Shared(channel.monitorTid).store(0);
    Shared(channel.spaceSequence.value).fetch_add(1);
    debug_channel::WakeWord(&channel.spaceSequence.value, INT_MAX);
    s_interruptibleFd.store(-1);
    s_interruptibleChannel.store(nullptr);
    pthread_mutex_unlock(&channel.monitorLock);
    close(monitorFd);
    s_monitor = Monitor{};
}
