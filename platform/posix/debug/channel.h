// The debug output channel of a machine root: a ring of records in the file "debug" under the
// root, mapped shared by every process. Any thread of any process writes; the one attached
// monitor reads. README.md tells the protocol; the fields below say who writes them.
#pragma once

#include <linux/futex.h>
#include <pthread.h>
#include <stdint.h>
#include <time.h>

#include <atomic>
#include <cstddef>

namespace debug_channel {

// One record holds one message or one piece of a longer one. The helper formats its trace
// lines in buffers of 504 characters, so every line of it travels whole, in one record.
constexpr uint32_t kRecordChars = 504;
// A power of two, so that positions wrap around the ring and around 2^32 alike.
constexpr uint32_t kRecordCount = 1024;

// A writer waits at most this long for room in the ring, then drops the message: a stuck
// monitor must never stall the program that traces.
constexpr int kFullRingWaitMs = 100;

// A writer holds a reservation for the time of one copy of at most a kilobyte. One that has not
// published within this time is dead or stopped, and the monitor reads on past its record.
constexpr int kUnpublishedRecordWaitMs = 1000;

// A record's stamp says what it holds, by position (a count of reservations that wraps):
//   stamp == p      free, for the writer that reserves position p;
//   stamp == p + 1  published: the message reserved at position p is in it;
// and the monitor, done with position p, sets the stamp to p + kRecordCount.
struct Record {
    uint32_t stamp;
    uint32_t processId;  // the writer's; written before the stamp is published
    uint32_t chars;      // UTF-16 units in text
    uint32_t unused;     // keeps the text 16 bytes in
    char16_t text[kRecordChars];
};
static_assert(sizeof(Record) == 1024);

// A word on a cache line of its own: writers and the monitor write these at different
// moments, and on a shared line each write would take the line away from the other side.
struct alignas(64) LoneWord {
    uint32_t value;
};

struct Channel {
    uint64_t magic;  // written last when the file is initialised
    uint32_t version;
    uint32_t bytes;
    // Locked by the attached monitor's thread for as long as it is attached. Robust and
    // process-shared: when that thread dies by any means, the kernel clears the owner's thread id
    // from the lock word (glibc's first int) and sets FUTEX_OWNER_DIED in it.
    pthread_mutex_t monitorLock;
    // The lock word's thread id once the monitor is ready to read, so that a writer tells an
    // attached monitor by two loads: a dead one's id is gone from the lock word.
    uint32_t monitorTid;

    LoneWord head;  // the next position to reserve; writers only
    LoneWord tail;  // the next position the monitor reads; the monitor only
    // Futex word: 1 while the monitor sleeps or is about to. The first writer that publishes
    // meanwhile clears it and wakes the monitor, so that a burst costs one wake at most.
    LoneWord monitorAsleep;
    // Futex word of writers that wait for room: bumped by the monitor when it has freed records
    // and spaceWaiters is not 0.
    LoneWord spaceSequence;
    LoneWord spaceWaiters;  // writers waiting for room

    Record records[kRecordCount];
};
static_assert(offsetof(Channel, monitorTid) < 64, "what every writer reads is on one line");

inline std::atomic_ref<uint32_t> Shared(uint32_t& word)
{
    return std::atomic_ref<uint32_t>(word);
}

// Stamps are kept less the record's index in the ring, so that for a record never written the
// stored zero reads as "free for its first position": a new ring is all zeros, and none of its
// pages is written, or made resident, until it is used. StampOf gives the stored form of a
// stamp for a position's record; every comparison below is between stored forms.
inline uint32_t StampOf(uint32_t position)
{
    return position & ~(kRecordCount - 1);
}

inline Record& RecordAt(Channel& channel, uint32_t position)
{
    return channel.records[position & (kRecordCount - 1)];
}

// How far a ahead of b is, across the wrap of positions.
inline int32_t Distance(uint32_t a, uint32_t b)
{
    return static_cast<int32_t>(a - b);
}

// The robust futex protocol of the kernel and glibc: the lock word holds the owner's thread id
// (FUTEX_TID_MASK), FUTEX_WAITERS when someone sleeps on it, FUTEX_OWNER_DIED once the owner died
// holding it.
static_assert(offsetof(pthread_mutex_t, __data.__lock) == 0, "glibc keeps the lock word first");

inline uint32_t& MonitorLockWord(Channel& channel)
{
    return *reinterpret_cast<uint32_t*>(&channel.monitorLock);
}

// What a writer asks before anything else: two loads, no system call.
inline bool IsMonitorAttached(Channel& channel)
{
    uint32_t tid = Shared(channel.monitorTid).load(std::memory_order_acquire);
    return tid != 0 && (Shared(MonitorLockWord(channel)).load(std::memory_order_acquire) &
                        FUTEX_TID_MASK) == tid;
}

// debug_output.cpp: the channel file and the writers' side.

// This process's mapping of the machine root's channel, made at the first call (the file is
// created, mode 0666, if missing). The first call leaves errno as it was.
struct ChannelMapping {
    Channel* channel;  // NULL when the root cannot serve
    int fd;            // the mapped file, kept open; -1 without a channel
    int error;         // why there is no channel: an errno value
};
const ChannelMapping& TheChannelMapping();

// The time a writer may still wait for room for one message: started at its first wait.
struct WaitBudget {
    bool started = false;
    timespec deadline{};
};

// Reserves the next position for the caller, waiting for room while the budget lasts and a
// monitor is attached. Returns false when the message is to be dropped.
bool ReserveRecord(Channel& channel, uint32_t* pPosition, WaitBudget* pBudget);
// Makes a reserved record visible to the monitor and wakes it if it sleeps. Returns false when
// the monitor gave up waiting for this record and read on (the writer was stopped too long).
bool PublishRecord(Channel& channel, uint32_t position);

// Futex words of the shared mapping: no FUTEX_PRIVATE_FLAG anywhere.
// Sleeps while *word == expected, until woken or the CLOCK_MONOTONIC deadline (NULL: none).
void WaitOnWord(uint32_t* word, uint32_t expected, const timespec* deadline);
void WakeWord(uint32_t* word, int count);
bool HasPassed(const timespec& deadline);

}  // namespace debug_channel
