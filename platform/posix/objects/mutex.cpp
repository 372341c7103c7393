// Mutexes: owned by a thread, recursive, released only by their owner. A mutex whose owner dies
// is abandoned: free again, and the next owner is told so (WAIT_ABANDONED_0 + i).
//
// The state is MutexState (internal.h). Every change of it goes through GrabMutex, ReleaseOnce
// and ReleaseOwnership below, which keep the owner's list of owned mutexes and assert the
// invariants: a free mutex has no count and no list links; an owned one has a count.
#include <assert.h>

#include "platform/posix/objects/internal.h"

namespace objects {

namespace {

void LinkToOwner(uint32_t object, uint32_t thread)
{
    MutexState& mutex = ObjectAt(object).mutex;
    ThreadSlot& owner = ThreadAt(thread);
    mutex.owner = thread;
    mutex.prevOwned = 0;
    mutex.nextOwned = owner.firstOwned;
    if (owner.firstOwned != 0) {
        ObjectAt(owner.firstOwned).mutex.prevOwned = object;
    }
    owner.firstOwned = object;
}

void UnlinkFromOwner(uint32_t object)
{
    MutexState& mutex = ObjectAt(object).mutex;
    if (mutex.prevOwned != 0) {
        ObjectAt(mutex.prevOwned).mutex.nextOwned = mutex.nextOwned;
    } else {
        ThreadAt(mutex.owner).firstOwned = mutex.nextOwned;
    }
    if (mutex.nextOwned != 0) {
        ObjectAt(mutex.nextOwned).mutex.prevOwned = mutex.prevOwned;
    }
    mutex.owner = 0;
    mutex.prevOwned = 0;
    mutex.nextOwned = 0;
}

// Gives up ownership entirely; with bGrant, the waits the free mutex satisfies are granted.
void ReleaseOwnership(uint32_t object, bool bAbandoned, bool bGrant)
{
    MutexState& mutex = ObjectAt(object).mutex;
    assert(KindOf(object) == kMutexObject && mutex.owner != 0);
    UnlinkFromOwner(object);
    mutex.count = 0;
    mutex.abandoned = bAbandoned ? 1 : 0;
    if (bGrant) {
        ObjectSignaled(object);
    }
}

// One release by the owner; the last one of a recursive owner frees the mutex.
void ReleaseOnce(uint32_t object)
{
    MutexState& mutex = ObjectAt(object).mutex;
    assert(mutex.owner != 0 && mutex.count > 0);
    if (--mutex.count == 0) {
        ReleaseOwnership(object, false, true);
    }
}

}  // namespace

void InitialiseMutex(uint32_t object)
{
    ObjectAt(object).mutex = MutexState{};
}

bool MutexSignaledFor(const ObjectSlot& mutex, uint32_t thread)
{
    return mutex.mutex.owner == 0 || mutex.mutex.owner == thread;
}

bool GrabMutex(uint32_t object, uint32_t thread)
{
    ObjectSlot& slot = ObjectAt(object);
    MutexState& mutex = slot.mutex;
    assert(KindOf(object) == kMutexObject && MutexSignaledFor(slot, thread));
    assert(mutex.owner == 0 ? mutex.count == 0 : mutex.count > 0);
    bool bNewOwner = mutex.owner == 0;
    if (bNewOwner) {
        LinkToOwner(object, thread);
    }
    mutex.count++;
    bool bAbandoned = mutex.abandoned != 0;
    mutex.abandoned = 0;
    if (bNewOwner && slot.waiters != 0) {
        OwnerChanged(object);
    }
    return bAbandoned;
}

void AbandonMutex(uint32_t object)
{
    ReleaseOwnership(object, true, true);
}

void DisownMutex(uint32_t object)
{
    ReleaseOwnership(object, false, false);
}

}  // namespace objects

using namespace objects;

HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                           LPCWSTR lpName)
{
    CreateRequest request = {.kind = kMutexObject,
                             .access = MUTEX_ALL_ACCESS,
                             .lpAttributes = lpMutexAttributes,
                             .lpName = lpName,
                             .bInitialOwner = bInitialOwner,
                             .bManualReset = FALSE,
                             .bInitialState = FALSE};
    return CreateObject(request);
}

HANDLE WINAPI OpenMutexW(DWORD dwDesiredAccess, BOOL /*bInheritHandle*/, LPCWSTR lpName)
{
    return OpenObject(kMutexObject, dwDesiredAccess, lpName);
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex)
{
    uint32_t thread = EnterKernel();
    if (thread == 0) {
        return FALSE;
    }
    DWORD dwError = ERROR_SUCCESS;
    // Windows asks no access right of the handle here: MUTEX_MODIFY_STATE is reserved.
    uint32_t object = ResolveHandle(hMutex, kMutexObject, 0, &dwError);
    if (object != 0 && ObjectAt(object).mutex.owner != thread) {
        dwError = ERROR_NOT_OWNER;
    }
    if (dwError != ERROR_SUCCESS) {
        LeaveKernel();
        SetLastError(dwError);
        return FALSE;
    }
    ReleaseOnce(object);
    LeaveKernel();
    return TRUE;
}
