// Thread slots: every thread that calls the layer gets one, with a life lock that it holds until
// it exits. The kernel's robust-futex handling releases that lock, marked FUTEX_OWNER_DIED, when
// the thread dies by any means, even with its whole process killed by SIGKILL; a wait that
// watches the word is woken at once. An orderly exit (a thread key's destructor) abandons the
// thread's mutexes itself and unlocks the lock, which wakes the watchers as well.
#include <stdio.h>
#include <unistd.h>

#include "platform/posix/objects/internal.h"

namespace objects {

namespace {

struct CurrentThread {
    uint32_t slot;
    uint32_t epoch;  // a slot of another epoch belongs to the parent process or an old arena
};

std::atomic<uint32_t> g_epoch{1};
thread_local CurrentThread t_current = {0, 0};

pthread_key_t s_exitKey;
pthread_once_t s_exitKeyOnce = PTHREAD_ONCE_INIT;
bool s_layoutChecked = false;  // under g_attachLock

void OnThreadExit(void*)
{
    if (t_current.slot == 0 || t_current.epoch != g_epoch.load(std::memory_order_acquire)) {
        return;
    }
    LockKernel();
    ReleaseCurrentThread();
    UnlockKernel();
}

void CreateExitKey()
{
    pthread_key_create(&s_exitKey, OnThreadExit);
}

// Locks a fresh life lock for the calling thread, and checks once that the lock word is where
// LockWordOf says, holding our thread id.
bool StartLife(ThreadSlot& slot)
{
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&slot.life, &attributes);
    pthread_mutexattr_destroy(&attributes);
    // A fresh lock cannot be busy. Trying it rather than waiting for it also tells lock-order
    // checkers that nobody ever waits behind it while holding the kernel lock.
    if (pthread_mutex_trylock(&slot.life) != 0) {
        return false;
    }
    if (!s_layoutChecked) {
        uint32_t word = std::atomic_ref<uint32_t>(*LockWordOf(&slot.life)).load();
        if ((word & kFutexTidMask) != static_cast<uint32_t>(gettid())) {
            fprintf(stderr,
                    "quorvane: this C library's mutex does not keep its futex word first; "
                    "deaths of threads would go unnoticed\n");
            pthread_mutex_unlock(&slot.life);
            return false;
        }
        s_layoutChecked = true;
    }
    return true;
}

uint32_t ClaimThreadSlot()
{
    for (int pass = 0; pass < 2; pass++) {
        for (uint32_t t = 1; t < kThreadSlots; t++) {
            if (ThreadStateOf(t) != kSlotFree) {
                continue;
            }
            ThreadSlot& slot = ThreadAt(t);
            if (!StartLife(slot)) {
                return 0;
            }
            ThreadStateOf(t) = kSlotLive;
            ThreadProcessOf(t) = g_machine.process;
            slot.generation++;
            slot.tid = gettid();
            slot.firstOwned = 0;
            slot.waitArrival = 0;
            slot.waitCount = 0;
            slot.watchCount = 0;
            slot.waitResult = kNotGranted;
            return t;
        }
        SweepDeadThreads();
        SweepDeadProcesses();
    }
    return 0;
}

uint32_t EnterKernelFirstTime()
{
    pthread_mutex_lock(&g_attachLock);
    uint32_t epoch = g_epoch.load(std::memory_order_acquire);
    if (g_machine.process == 0 && !AttachProcess()) {
        pthread_mutex_unlock(&g_attachLock);
        return 0;
    }
    LockKernel();
    uint32_t slot = ClaimThreadSlot();
    if (slot == 0) {
        UnlockKernel();
        pthread_mutex_unlock(&g_attachLock);
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return 0;
    }
    pthread_once(&s_exitKeyOnce, CreateExitKey);
    pthread_setspecific(s_exitKey, &t_current);
    t_current = {slot, epoch};
    pthread_mutex_unlock(&g_attachLock);
    return slot;
}

}  // namespace

uint32_t EnterKernel()
{
    if (t_current.slot != 0 && t_current.epoch == g_epoch.load(std::memory_order_acquire)) {
        LockKernel();
        return t_current.slot;
    }
    return EnterKernelFirstTime();
}

void LeaveKernel()
{
    UnlockKernel();
}

bool IsThreadAlive(uint32_t thread)
{
    uint32_t word = std::atomic_ref<uint32_t>(*LockWordOf(&ThreadAt(thread).life))
                        .load(std::memory_order_acquire);
    return !IsLifeWordDead(word);
}

void SweepDeadThreads()
{
    for (uint32_t t = 1; t < kThreadSlots; t++) {
        if (ThreadStateOf(t) == kSlotLive && !IsThreadAlive(t)) {
            ThreadDied(t);
        }
    }
}

void ReleaseCurrentThread()
{
    if (t_current.slot == 0 || t_current.epoch != g_epoch.load(std::memory_order_acquire)) {
        return;
    }
    uint32_t slot = t_current.slot;
    t_current = {0, 0};
    ThreadDied(slot);
    // Still under the kernel lock: nobody can claim the slot and re-initialise the lock before
    // this unlock, which also wakes a watcher sleeping on the word.
    pthread_mutex_unlock(&ThreadAt(slot).life);
}

void InvalidateThreadSlots()
{
    g_epoch.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace objects
