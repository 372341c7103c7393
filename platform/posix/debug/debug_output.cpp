// The debug output channel's file, and the writers' side of it: OutputDebugStringW reserves a
// record, copies the text into it, publishes it, and wakes the monitor only when it sleeps. With
// no monitor attached, a call is two loads.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "platform/posix/debug/channel.h"
#include "platform/posix/kernel/deadline.h"
#include "platform/posix/root/machine_root.h"
#include "platform/win32.h"

namespace debug_channel {

namespace {

const char kChannelFileName[] = "debug";
// Every user's programs trace to the one monitor of the machine.
constexpr mode_t kChannelMode = 0666;
constexpr uint64_t kChannelMagic = 0x31304742445651ull;  // "QVDBG01", little-endian
// Bumped whenever Channel or Record changes: processes of two builds must not share a file.
constexpr uint32_t kChannelVersion = 2;

// Read by every writer; set when the channel is mapped and again in a fork child.
uint32_t s_processId;

void RefreshProcessIdAfterFork()
{
    s_processId = static_cast<uint32_t>(getpid());
}

size_t ChannelBytes()
{
    size_t cbPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return (sizeof(Channel) + cbPage - 1) / cbPage * cbPage;
}

void InitialiseChannel(Channel* pChannel)
{
    // Only the header: the records of a new file read as zeros, which is their first state.
    memset(static_cast<void*>(pChannel), 0, offsetof(Channel, records));
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&pChannel->monitorLock, &attributes);
    pthread_mutexattr_destroy(&attributes);
    pChannel->version = kChannelVersion;
    pChannel->bytes = static_cast<uint32_t>(sizeof(Channel));
    std::atomic_ref<uint64_t>(pChannel->magic).store(kChannelMagic, std::memory_order_release);
}

// Under the file's flock: sizes a new file, initialises one whose creator died half-way, and
// refuses a file of another build or one that is not ours alone (a link planted elsewhere).
Channel* MapUnderFileLock(int fd, int* pError)
{
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_nlink != 1) {
        *pError = EPERM;
        return nullptr;
    }
    size_t cbChannel = ChannelBytes();
    if (status.st_size == 0) {
        if (status.st_uid == geteuid()) {
            fchmod(fd, kChannelMode);  // the creating open's mode went through the umask
        }
        if (ftruncate(fd, static_cast<off_t>(cbChannel)) != 0) {
            *pError = errno;
            return nullptr;
        }
    } else if (static_cast<size_t>(status.st_size) != cbChannel) {
        *pError = EPROTO;
        return nullptr;
    }
    void* pMapping = mmap(nullptr, cbChannel, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pMapping == MAP_FAILED) {
        *pError = errno;
        return nullptr;
    }
    // Without read-ahead, a process maps only the pages it touches, not their neighbours too.
    madvise(pMapping, cbChannel, MADV_RANDOM);
    Channel* pChannel = static_cast<Channel*>(pMapping);
    uint64_t magic = std::atomic_ref<uint64_t>(pChannel->magic).load(std::memory_order_acquire);
    if (magic == 0) {
        InitialiseChannel(pChannel);
    } else if (magic != kChannelMagic || pChannel->version != kChannelVersion ||
               pChannel->bytes != sizeof(Channel)) {
        munmap(pMapping, cbChannel);
        *pError = EPROTO;
        return nullptr;
    }
    return pChannel;
}

ChannelMapping MapChannel()
{
    ChannelMapping mapping{nullptr, -1, ENOENT};
    int rootFd = machine_root::Folder();
    if (rootFd < 0) {
        return mapping;
    }
    int fd =
        openat(rootFd, kChannelFileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kChannelMode);
    if (fd < 0) {
        mapping.error = errno;
        return mapping;
    }
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    mapping.channel = MapUnderFileLock(fd, &mapping.error);
    flock(fd, LOCK_UN);
    if (mapping.channel == nullptr) {
        close(fd);
        return mapping;
    }
    mapping.fd = fd;
    mapping.error = 0;
    s_processId = static_cast<uint32_t>(getpid());
    pthread_atfork(nullptr, nullptr, RefreshProcessIdAfterFork);
    return mapping;
}

ChannelMapping MapChannelKeepingErrno()
{
    int nSavedErrno = errno;
    ChannelMapping mapping = MapChannel();
    errno = nSavedErrno;
    return mapping;
}

// Sets FUTEX_WAITERS in the monitor's lock word, without which the kernel wakes nobody when the
// monitor dies. Returns the word to wait on; its thread id is 0 when no monitor holds it.
uint32_t WatchMonitorLockWord(Channel& channel)
{
    std::atomic_ref<uint32_t> word = Shared(MonitorLockWord(channel));
    uint32_t value = word.load(std::memory_order_acquire);
    while ((value & FUTEX_TID_MASK) != 0 && (value & FUTEX_WAITERS) == 0) {
        if (word.compare_exchange_weak(value, value | FUTEX_WAITERS)) {
            value |= FUTEX_WAITERS;
        }
    }
    return value;
}

// Sleeps until the monitor frees a record, detaches or dies, or until the deadline.
void WaitForRoomOrMonitorEnd(Channel& channel, uint32_t spaceSeen, uint32_t lockSeen,
                             const timespec& deadline)
{
    futex_waitv waiters[2] = {
        {spaceSeen, reinterpret_cast<uint64_t>(&channel.spaceSequence.value), FUTEX_32, 0},
        {lockSeen, reinterpret_cast<uint64_t>(&MonitorLockWord(channel)), FUTEX_32, 0},
    };
    long rc = syscall(SYS_futex_waitv, waiters, 2, 0, &deadline, CLOCK_MONOTONIC);
    if (rc < 0 && errno == ENOSYS) {
        // Before Linux 5.16: a monitor's death is seen when the time runs out.
        WaitOnWord(&channel.spaceSequence.value, spaceSeen, &deadline);
    }
}

// The record at position is a lap behind, not yet read: waits for the monitor to free it.
// Returns false when the message is to be dropped.
bool WaitForRoom(Channel& channel, uint32_t position, WaitBudget* pBudget)
{
    if (!pBudget->started) {
        pBudget->deadline = monotonic::DeadlineAfter(kFullRingWaitMs);
        pBudget->started = true;
    }
    std::atomic_ref<uint32_t> waiters = Shared(channel.spaceWaiters.value);
    uint32_t spaceSeen = Shared(channel.spaceSequence.value).load();
    waiters.fetch_add(1);
    // After the count is up, the monitor's next free bumps spaceSequence: check once more that
    // it did not free the record in between.
    bool bWaited = false;
    if (Distance(Shared(RecordAt(channel, position).stamp).load(), StampOf(position)) < 0) {
        uint32_t lockSeen = WatchMonitorLockWord(channel);
        if (IsMonitorAttached(channel)) {
            WaitForRoomOrMonitorEnd(channel, spaceSeen, lockSeen, pBudget->deadline);
            bWaited = true;
        }
    }
    waiters.fetch_sub(1);
    if (!IsMonitorAttached(channel)) {
        if (bWaited) {
            // The kernel wakes one sleeper at the monitor's death; that one wakes the rest.
            WakeWord(&MonitorLockWord(channel), INT_MAX);
        }
        return false;
    }
    return !HasPassed(pBudget->deadline);
}

void WriteText(Channel& channel, LPCWSTR pszText)
{
    size_t cchText = std::char_traits<WCHAR>::length(pszText);
    WaitBudget budget;
    // Longer texts go in pieces, in order; a piece that cannot be placed drops the rest.
    for (size_t iChar = 0; iChar < cchText;) {
        uint32_t cchPiece = static_cast<uint32_t>(std::min<size_t>(cchText - iChar, kRecordChars));
        uint32_t position;
        if (!ReserveRecord(channel, &position, &budget)) {
            return;
        }
        Record& record = RecordAt(channel, position);
        record.processId = s_processId;
        record.chars = cchPiece;
        memcpy(record.text, pszText + iChar, cchPiece * sizeof(WCHAR));
        PublishRecord(channel, position);
        iChar += cchPiece;
    }
}

}  // namespace

const ChannelMapping& TheChannelMapping()
{
    static const ChannelMapping s_mapping = MapChannelKeepingErrno();
    return s_mapping;
}

bool ReserveRecord(Channel& channel, uint32_t* pPosition, WaitBudget* pBudget)
{
    std::atomic_ref<uint32_t> head = Shared(channel.head.value);
    uint32_t position = head.load(std::memory_order_relaxed);
    for (;;) {
        uint32_t stamp = Shared(RecordAt(channel, position).stamp).load(std::memory_order_acquire);
        int32_t lead = Distance(stamp, StampOf(position));
        if (lead == 0) {
            if (head.compare_exchange_weak(position, position + 1)) {
                *pPosition = position;
                return true;
            }
            continue;  // another writer took it; position is the head it left
        }
        if (lead < 0 && !WaitForRoom(channel, position, pBudget)) {
            return false;
        }
        uint32_t reloaded = head.load(std::memory_order_relaxed);
        if (lead > 0 && reloaded == position) {
            // Published past the head: only a hand-written file does that. Never spin on it.
            return false;
        }
        position = reloaded;
    }
}

bool PublishRecord(Channel& channel, uint32_t position)
{
    uint32_t expected = StampOf(position);
    if (!Shared(RecordAt(channel, position).stamp)
             .compare_exchange_strong(expected, StampOf(position) + 1)) {
        return false;
    }
    // Both this and the monitor's "asleep, then look again" are sequentially consistent, so
    // either it sees the record or this sees the flag.
    std::atomic_ref<uint32_t> asleep = Shared(channel.monitorAsleep.value);
    if (asleep.load() != 0 && asleep.exchange(0) != 0) {
        WakeWord(&channel.monitorAsleep.value, 1);
    }
    return true;
}

void WaitOnWord(uint32_t* word, uint32_t expected, const timespec* deadline)
{
    // FUTEX_WAIT_BITSET takes an absolute CLOCK_MONOTONIC time, unlike FUTEX_WAIT.
    syscall(SYS_futex, word, FUTEX_WAIT_BITSET, expected, deadline, nullptr,
            FUTEX_BITSET_MATCH_ANY);
}

void WakeWord(uint32_t* word, int count)
{
    syscall(SYS_futex, word, FUTEX_WAKE, count, nullptr, nullptr, 0);
}

bool HasPassed(const timespec& deadline)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec ||
           (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

}  // namespace debug_channel

void WINAPI OutputDebugStringW(LPCWSTR lpOutputString)
{
    if (lpOutputString == nullptr) {
        return;
    }
    debug_channel::Channel* pChannel = debug_channel::TheChannelMapping().channel;
    // As on Windows, a text that no monitor listens to goes nowhere.
    if (pChannel == nullptr || !debug_channel::IsMonitorAttached(*pChannel)) {
        return;
    }
    // Waits for room leave their mark in errno; debug output never changes what the caller sees
    // of it. Nothing here touches the Win32 last error.
    int nSavedErrno = errno;
    debug_channel::WriteText(*pChannel, lpOutputString);
    errno = nSavedErrno;
}
