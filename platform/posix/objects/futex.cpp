// Futex words shared between processes (Linux). The words live in the arena, a shared file
// mapping, so every operation is a shared one: no FUTEX_PRIVATE_FLAG anywhere.
//
// A blocked wait watches several words at once with futex_waitv (Linux 5.16 and later): its own
// wake word and the life words of the threads that own the mutexes it waits for.
#include <errno.h>
#include <stddef.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/posix/objects/internal.h"

namespace objects {

namespace {

constexpr int kFutexWake = 1;           // FUTEX_WAKE
constexpr uint32_t kFutex2SizeU32 = 2;  // FUTEX2_SIZE_U32: a 32-bit word, shared

// One entry of futex_waitv's array, laid out as the kernel reads it.
struct FutexWaitEntry {
    uint64_t expected;
    uint64_t address;
    uint32_t flags;
    uint32_t reserved;
};
static_assert(sizeof(FutexWaitEntry) == 24);
static_assert(sizeof(time_t) == 8, "futex_waitv takes a 64-bit timespec");

// glibc's robust mutex keeps its futex word first (__data.__lock): the word the kernel marks when
// the owner dies. A glibc that moved it would make every death go unnoticed.
static_assert(offsetof(pthread_mutex_t, __data.__lock) == 0);
static_assert(sizeof(pthread_mutex_t) == 40);

}  // namespace

int WaitOnAnyFutex(const FutexWatch* watches, uint32_t count, const struct timespec* deadline)
{
    FutexWaitEntry entries[MAXIMUM_WAIT_OBJECTS + 1];
    for (uint32_t i = 0; i < count; i++) {
        entries[i] = {watches[i].expected, reinterpret_cast<uint64_t>(watches[i].word),
                      kFutex2SizeU32, 0};
    }
    long rc = syscall(SYS_futex_waitv, entries, count, 0, deadline, CLOCK_MONOTONIC);
    return rc >= 0 ? static_cast<int>(rc) : -1;
}

void WakeFutex(uint32_t* word, int count)
{
    syscall(SYS_futex, word, kFutexWake, count, nullptr, nullptr, 0);
}

bool HasVectoredFutexWait()
{
    // An empty array is refused with EINVAL by a kernel that knows the call.
    long rc = syscall(SYS_futex_waitv, nullptr, 0, 0, nullptr, CLOCK_MONOTONIC);
    return !(rc < 0 && errno == ENOSYS);
}

uint32_t* LockWordOf(pthread_mutex_t* mutex)
{
    return reinterpret_cast<uint32_t*>(mutex);
}

bool IsLifeWordDead(uint32_t word)
{
    return (word & kFutexOwnerDied) != 0 || (word & kFutexTidMask) == 0;
}

uint32_t WatchLifeWord(uint32_t* word)
{
    std::atomic_ref<uint32_t> life(*word);
    uint32_t value = life.load(std::memory_order_acquire);
    // The kernel wakes a waiter of a dead owner's word only when FUTEX_WAITERS is set in it.
    while (!IsLifeWordDead(value) && (value & kFutexWaiters) == 0) {
        if (life.compare_exchange_weak(value, value | kFutexWaiters, std::memory_order_acq_rel)) {
            value |= kFutexWaiters;
        }
    }
    return value;
}

}  // namespace objects
