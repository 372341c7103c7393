// Waits. A wait that the objects satisfy at once takes them under the kernel lock and returns:
// no system call. Otherwise the thread joins the machine's wait queue and sleeps; whoever
// changes an object it waits for (a release, SetEvent, an abandonment) grants queued waits in
// arrival order, taking the objects on the waiter's behalf (all of them at once for wait-all,
// so a wait-all never holds some while it waits for others), then wakes the waiter.
//
// A sleeping waiter watches, besides its own wake word, the life word of each thread that owns a
// mutex it waits for, so an owner's death wakes it without polling. The kernel wakes one sleeper
// per dead word; that one abandons the dead thread's mutexes (which grants and wakes the waiters
// they satisfy) and passes the wake on to the other sleepers of the word. A mutex that gets a new
// owner while others wait for it wakes those not watching the new owner, so they watch it.
#include <limits.h>

#include <algorithm>

#include "platform/posix/kernel/deadline.h"
#include "platform/posix/objects/internal.h"

namespace objects {

namespace {

bool WaitsOn(const ThreadSlot& waiter, uint32_t object)
{
    for (uint32_t i = 0; i < waiter.waitCount; i++) {
        if (waiter.waitObjects[i] == object) {
            return true;
        }
    }
    return false;
}

bool Watches(const ThreadSlot& waiter, uint32_t thread)
{
    for (uint32_t i = 0; i < waiter.watchCount; i++) {
        if (waiter.watched[i] == thread) {
            return true;
        }
    }
    return false;
}

bool IsSignaledForAnyone(uint32_t object)
{
    const ObjectSlot& slot = ObjectAt(object);
    return KindOf(object) == kMutexObject ? slot.mutex.owner == 0 : EventSignaled(slot);
}

// Whether the thread's wait can be satisfied now; for a wait for any, the lowest index that can.
bool CanGrant(uint32_t thread, uint32_t* pIndex)
{
    const ThreadSlot& waiter = ThreadAt(thread);
    for (uint32_t i = 0; i < waiter.waitCount; i++) {
        bool bSignaled = IsSignaledFor(waiter.waitObjects[i], thread);
        if (waiter.waitAll && !bSignaled) {
            return false;
        }
        if (!waiter.waitAll && bSignaled) {
            *pIndex = i;
            return true;
        }
    }
    *pIndex = 0;
    return waiter.waitAll != 0;
}

// Takes the objects for the thread and returns the wait's result. With wait-all, an abandoned
// mutex among them is reported by the lowest such index, and every object is taken all the same.
DWORD Grant(uint32_t thread, uint32_t index)
{
    const ThreadSlot& waiter = ThreadAt(thread);
    if (!waiter.waitAll) {
        bool bAbandoned = AcquireFor(waiter.waitObjects[index], thread);
        return (bAbandoned ? WAIT_ABANDONED_0 : WAIT_OBJECT_0) + index;
    }
    DWORD result = WAIT_OBJECT_0;
    for (uint32_t i = 0; i < waiter.waitCount; i++) {
        if (AcquireFor(waiter.waitObjects[i], thread) && result == WAIT_OBJECT_0) {
            result = WAIT_ABANDONED_0 + i;
        }
    }
    return result;
}

// Owners of the wait's mutexes that died without anyone noticing yet (nobody was waiting) are
// noticed now, so that even a poll sees their mutexes abandoned. Returns whether any was.
bool BuryDeadOwners(uint32_t thread)
{
    const ThreadSlot& waiter = ThreadAt(thread);
    bool bBuried = false;
    for (uint32_t i = 0; i < waiter.waitCount; i++) {
        uint32_t object = waiter.waitObjects[i];
        uint32_t owner = KindOf(object) == kMutexObject ? ObjectAt(object).mutex.owner : 0;
        if (owner != 0 && owner != thread && !IsThreadAlive(owner)) {
            ThreadDied(owner);
            bBuried = true;
        }
    }
    return bBuried;
}

void Enqueue(uint32_t thread)
{
    Arena& arena = TheArena();
    ThreadSlot& waiter = ThreadAt(thread);
    arena.waitArrivals++;
    if (arena.waitArrivals == 0) {
        arena.waitArrivals = 1;
    }
    waiter.waitArrival = arena.waitArrivals;
    waiter.waitNext = 0;
    waiter.waitPrev = arena.waitTail;
    if (arena.waitTail != 0) {
        ThreadAt(arena.waitTail).waitNext = thread;
    } else {
        arena.waitHead = thread;
    }
    arena.waitTail = thread;
    for (uint32_t i = 0; i < waiter.waitCount; i++) {
        ObjectAt(waiter.waitObjects[i]).waiters++;
    }
}

// Watches the life word of every other thread owning a mutex of the wait. Returns false when an
// owner turned out dead: its death was handled, which changes owners, so the caller looks again.
bool WatchOwners(uint32_t thread, FutexWatch* watches, uint32_t* pCount)
{
    ThreadSlot& waiter = ThreadAt(thread);
    waiter.watchCount = 0;
    *pCount = 0;
    for (uint32_t i = 0; i < waiter.waitCount; i++) {
        uint32_t object = waiter.waitObjects[i];
        uint32_t owner = KindOf(object) == kMutexObject ? ObjectAt(object).mutex.owner : 0;
        if (owner == 0 || owner == thread || Watches(waiter, owner)) {
            continue;
        }
        uint32_t* word = LockWordOf(&ThreadAt(owner).life);
        uint32_t value = WatchLifeWord(word);
        if (IsLifeWordDead(value)) {
            ThreadDied(owner);
            return false;
        }
        watches[*pCount] = {word, value};
        ++*pCount;
        waiter.watched[waiter.watchCount++] = owner;
    }
    return true;
}

bool HasPassed(const struct timespec& deadline)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec > deadline.tv_sec ||
           (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec);
}

// Sleeps in the queue until the wait is granted or the time is up. Kernel locked on entry and
// on return.
DWORD Block(uint32_t thread, DWORD dwMilliseconds)
{
    bool bTimed = dwMilliseconds != INFINITE;
    struct timespec deadline = bTimed ? monotonic::DeadlineAfter(dwMilliseconds) : timespec{};
    ThreadSlot& self = ThreadAt(thread);
    Enqueue(thread);
    for (;;) {
        FutexWatch watches[MAXIMUM_WAIT_OBJECTS + 1];
        uint32_t nOwners = 0;
        while (self.waitResult == kNotGranted && !WatchOwners(thread, watches + 1, &nOwners)) {
        }
        if (self.waitResult != kNotGranted) {
            return self.waitResult;
        }
        std::atomic_ref<uint32_t> wakeSequence(self.wakeSequence);
        watches[0] = {&self.wakeSequence, wakeSequence.load(std::memory_order_acquire)};
        UnlockKernel();

        int woken = WaitOnAnyFutex(watches, nOwners + 1, bTimed ? &deadline : nullptr);
        if (woken > 0) {
            // An owner died or left: the kernel woke only this sleeper of its word.
            WakeFutex(watches[woken].word, INT_MAX);
        }

        LockKernel();
        if (self.waitResult != kNotGranted) {
            return self.waitResult;
        }
        if (bTimed && HasPassed(deadline)) {
            EndWait(thread);
            return WAIT_TIMEOUT;
        }
    }
}

bool HasDuplicates(const uint32_t* objects, uint32_t count)
{
    uint64_t seen[kObjectSlots / 64] = {};
    for (uint32_t i = 0; i < count; i++) {
        uint64_t bit = 1ull << (objects[i] % 64);
        if ((seen[objects[i] / 64] & bit) != 0) {
            return true;
        }
        seen[objects[i] / 64] |= bit;
    }
    return false;
}

// The wait is over: objects closed while it was in progress may now be unreferenced.
void FinishWait(uint32_t thread)
{
    ThreadSlot& self = ThreadAt(thread);
    uint32_t nWaited = self.waitCount;
    self.waitCount = 0;
    self.watchCount = 0;
    for (uint32_t i = 0; i < nWaited; i++) {
        DestroyIfUnused(self.waitObjects[i]);
    }
}

DWORD FailWait(DWORD dwError)
{
    SetLastError(dwError);
    return WAIT_FAILED;
}

DWORD WaitForObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds)
{
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
        return FailWait(ERROR_INVALID_PARAMETER);
    }
    uint32_t thread = EnterKernel();
    if (thread == 0) {
        return WAIT_FAILED;
    }
    ThreadSlot& self = ThreadAt(thread);
    for (DWORD i = 0; i < nCount; i++) {
        DWORD dwError = ERROR_SUCCESS;
        self.waitObjects[i] = ResolveHandle(lpHandles[i], kFreeObject, SYNCHRONIZE, &dwError);
        if (self.waitObjects[i] == 0) {
            LeaveKernel();
            return FailWait(dwError);
        }
    }
    // The same object twice cannot be waited for all at once (a mutex could be, but Windows
    // refuses every kind alike).
    if (bWaitAll && nCount > 1 && HasDuplicates(self.waitObjects, nCount)) {
        LeaveKernel();
        return FailWait(ERROR_INVALID_PARAMETER);
    }
    self.waitCount = nCount;
    self.waitAll = bWaitAll ? 1 : 0;
    self.waitResult = kNotGranted;

    DWORD result = WAIT_TIMEOUT;
    uint32_t index = 0;
    if (CanGrant(thread, &index) || (BuryDeadOwners(thread) && CanGrant(thread, &index))) {
        result = Grant(thread, index);
    } else if (dwMilliseconds != 0) {
        result = Block(thread, dwMilliseconds);
    }
    FinishWait(thread);
    LeaveKernel();
    return result;
}

}  // namespace

void EndWait(uint32_t thread)
{
    Arena& arena = TheArena();
    ThreadSlot& waiter = ThreadAt(thread);
    if (waiter.waitPrev != 0) {
        ThreadAt(waiter.waitPrev).waitNext = waiter.waitNext;
    } else {
        arena.waitHead = waiter.waitNext;
    }
    if (waiter.waitNext != 0) {
        ThreadAt(waiter.waitNext).waitPrev = waiter.waitPrev;
    } else {
        arena.waitTail = waiter.waitPrev;
    }
    waiter.waitPrev = 0;
    waiter.waitNext = 0;
    waiter.waitArrival = 0;
    for (uint32_t i = 0; i < waiter.waitCount; i++) {
        ObjectAt(waiter.waitObjects[i]).waiters--;
    }
}

void ObjectSignaled(uint32_t object)
{
    if (ObjectAt(object).waiters == 0) {
        return;
    }
    // Waiters found dead are buried after the walk, as burying grants and changes the queue.
    uint32_t dead[8];
    uint32_t nDead = 0;
    for (uint32_t t = TheArena().waitHead; t != 0;) {
        uint32_t next = ThreadAt(t).waitNext;
        uint32_t index = 0;
        if (!WaitsOn(ThreadAt(t), object)) {
            // not this object's waiter
        } else if (!IsThreadAlive(t)) {
            if (nDead < sizeof(dead) / sizeof(dead[0])) {
                dead[nDead++] = t;
            }
        } else if (CanGrant(t, &index)) {
            EndWait(t);
            ThreadAt(t).waitResult = Grant(t, index);
            QueueWake(t);
            if (!IsSignaledForAnyone(object)) {
                break;
            }
        }
        t = next;
    }
    for (uint32_t i = 0; i < nDead; i++) {
        ThreadDied(dead[i]);
    }
}

void OwnerChanged(uint32_t object)
{
    uint32_t owner = ObjectAt(object).mutex.owner;
    for (uint32_t t = TheArena().waitHead; t != 0; t = ThreadAt(t).waitNext) {
        const ThreadSlot& waiter = ThreadAt(t);
        if (WaitsOn(waiter, object) && !Watches(waiter, owner)) {
            QueueWake(t);
        }
    }
}

void RebuildWaitQueue()
{
    Arena& arena = TheArena();
    uint32_t queued[kThreadSlots];
    uint32_t nQueued = 0;
    // Free thread slots are left as they are: a slot's wait fields are set afresh when taken.
    for (uint32_t t = 1; t < kThreadSlots; t++) {
        ThreadSlot& waiter = arena.threads[t];
        if (arena.threadStates[t] == kSlotLive && waiter.waitArrival != 0) {
            waiter.waitCount = std::min<uint32_t>(waiter.waitCount, MAXIMUM_WAIT_OBJECTS);
            queued[nQueued++] = t;
        }
    }
    std::sort(queued, queued + nQueued, [&arena](uint32_t a, uint32_t b) {
        return arena.threads[a].waitArrival < arena.threads[b].waitArrival;
    });
    for (uint32_t o = 1; o < kObjectSlots; o++) {
        if (arena.objectKinds[o] != kFreeObject) {
            arena.objects[o].waiters = 0;
        }
    }
    arena.waitHead = 0;
    arena.waitTail = 0;
    for (uint32_t i = 0; i < nQueued; i++) {
        ThreadSlot& waiter = arena.threads[queued[i]];
        waiter.waitPrev = i > 0 ? queued[i - 1] : 0;
        waiter.waitNext = i + 1 < nQueued ? queued[i + 1] : 0;
        for (uint32_t j = 0; j < waiter.waitCount; j++) {
            if (waiter.waitObjects[j] < kObjectSlots) {
                arena.objects[waiter.waitObjects[j]].waiters++;
            }
        }
    }
    if (nQueued > 0) {
        arena.waitHead = queued[0];
        arena.waitTail = queued[nQueued - 1];
    }
}

}  // namespace objects

using namespace objects;

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForObjects(1, &hHandle, FALSE, dwMilliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds)
{
    return WaitForObjects(nCount, lpHandles, bWaitAll, dwMilliseconds);
}
