// Named kernel objects shared between processes: the records and verbs that the files of this
// folder share. See README.md for the design.
//
// Every record below lives in the arena, one file per machine root mapped by every process, and
// is read and written only under the kernel lock (LockKernel), except the futex words named as
// such. Slot 0 of every table is never used, so 0 means "none" in every link and owner field.
//
// A process is resident only in the pages of the arena it touches, and a new arena is all zero
// pages that nobody has touched: zero is "free" or "empty" in every table, so initialisation
// writes the header alone. The fields that allocation and sweeps read across a whole table sit
// in compact arrays of their own (kinds, thread states, name hashes); a slot's body is touched
// only by whoever uses that slot. Names, large and cold, are kept apart from the objects' state.
#pragma once

#include <pthread.h>
#include <stdint.h>
#include <time.h>

#include <atomic>

#include "platform/win32.h"

namespace objects {

// The longest object name, without its namespace prefix. Windows takes names of up to 32767
// characters; object names built in buffers of 504 characters (the helper's) are at most 498
// long, and this leaves room beyond that without making every object slot large.
constexpr uint32_t kMaxNameChars = 1024;

// Table sizes. A full table fails the call with ERROR_NO_SYSTEM_RESOURCES.
constexpr uint32_t kObjectSlots = 2048;
constexpr uint32_t kThreadSlots = 1024;
constexpr uint32_t kProcessSlots = 256;
constexpr uint32_t kReferenceSlots = 8192;
constexpr uint32_t kHandleSlots = 4096;  // per process

enum ObjectKind : uint32_t { kFreeObject = 0, kMutexObject = 1, kEventObject = 2 };
enum Namespace : uint32_t { kUnnamed = 0, kGlobalNamespace = 1, kUserNamespace = 2 };
enum SlotState : uint32_t { kSlotFree = 0, kSlotLive = 1 };

// The wait result of a thread whose wait has not been granted yet.
constexpr DWORD kNotGranted = WAIT_FAILED;

struct MutexState {
    uint32_t owner;      // thread slot of the owner, 0 when free
    uint32_t count;      // recursion count of the owner
    uint32_t abandoned;  // the last owner died holding it; told to the next owner
    uint32_t prevOwned;  // links in the owner's list of owned mutexes
    uint32_t nextOwned;
};

struct EventState {
    uint32_t manualReset;  // a wait leaves it signaled (else the first granted wait resets it)
    uint32_t signaled;
};

// The kind of a slot is Arena::objectKinds, its name's characters Arena::names.
struct ObjectSlot {
    uint32_t generation;      // changes when the slot is freed: stale handles stop matching
    uint32_t handles;         // handles open to it, in every process
    uint32_t waiters;         // waits in progress that include it; they keep it alive too
    uint32_t firstReference;  // per-process references, linked by ReferenceSlot::nextInObject
    uint32_t nameSpace;
    uint32_t namespaceUid;  // the user whose namespace holds the name (user namespace only)
    uint32_t creatorUid;
    uint32_t openToEveryone;  // created with a null DACL
    uint32_t nameLength;
    MutexState mutex;
    EventState event;
};

struct NameText {
    char16_t chars[kMaxNameChars];  // without the namespace prefix
};

// The state of a slot is Arena::threadStates, its process Arena::threadProcesses.
struct ThreadSlot {
    // Locked by its thread for the thread's whole life. When the thread dies by any means the
    // kernel (robust futex list) marks the lock word FUTEX_OWNER_DIED and wakes one waiter.
    pthread_mutex_t life;
    uint32_t generation;
    int32_t tid;            // for diagnostics only
    uint32_t firstOwned;    // mutexes it owns, linked by MutexState::nextOwned
    uint32_t wakeSequence;  // futex word: bumped by each wake of this thread

    // The wait in progress.
    uint32_t waitArrival;  // arrival number; 0 when not waiting
    uint32_t waitPrev;     // links in the machine's wait queue, in arrival order
    uint32_t waitNext;
    uint32_t waitAll;
    uint32_t waitCount;
    DWORD waitResult;  // set by whoever grants the wait; kNotGranted until then
    uint32_t watchCount;
    uint32_t waitObjects[MAXIMUM_WAIT_OBJECTS];
    uint32_t watched[MAXIMUM_WAIT_OBJECTS];  // thread slots whose life words the waiter watches
};

struct ProcessSlot {
    uint32_t state;
    uint32_t generation;
    int32_t pid;              // for diagnostics only: liveness is the process's lock byte
    uint32_t firstReference;  // linked by ReferenceSlot::nextInProcess
};

// How many handles one process holds to one object.
struct ReferenceSlot {
    uint32_t object;
    uint32_t process;
    uint32_t handles;
    uint32_t nextInObject;
    uint32_t nextInProcess;
};

struct Arena {
    uint64_t magic;  // written last when the arena is initialised
    uint32_t version;
    uint32_t bytes;
    pthread_mutex_t kernelLock;  // robust and process-shared: guards everything below
    uint32_t waitArrivals;       // arrival counter of waits
    uint32_t waitHead;           // the wait queue, oldest first
    uint32_t waitTail;

    // Read across whole tables by name lookups, allocation and sweeps: a few pages in all.
    uint32_t nameHashes[kObjectSlots];       // 0 for a slot without a name
    uint32_t objectKinds[kObjectSlots];      // kFreeObject for a free slot
    uint32_t threadStates[kThreadSlots];     // kSlotFree or kSlotLive
    uint32_t threadProcesses[kThreadSlots];  // the process slot of a live thread
    ProcessSlot processes[kProcessSlots];

    // Slots taken lowest free first, so that those in use stay packed at the start of their
    // table; a slot is touched only by whoever uses it (references are small enough that the
    // search for a free one may read the bodies of those before it).
    ReferenceSlot references[kReferenceSlots];
    ObjectSlot objects[kObjectSlots];
    ThreadSlot threads[kThreadSlots];
    NameText names[kObjectSlots];
};

// This process's view of the machine.
struct Machine {
    Arena* arena;
    int rootFd;
    int arenaFd;     // the mapped file; never carries a lock
    int livenessFd;  // the same file opened again: holds this process's lock byte
    uint32_t process;
};
extern Machine g_machine;

inline Arena& TheArena()
{
    return *g_machine.arena;
}
inline ObjectSlot& ObjectAt(uint32_t object)
{
    return g_machine.arena->objects[object];
}
inline ThreadSlot& ThreadAt(uint32_t thread)
{
    return g_machine.arena->threads[thread];
}
inline uint32_t& KindOf(uint32_t object)
{
    return g_machine.arena->objectKinds[object];
}
inline uint32_t& ThreadStateOf(uint32_t thread)
{
    return g_machine.arena->threadStates[thread];
}
inline uint32_t& ThreadProcessOf(uint32_t thread)
{
    return g_machine.arena->threadProcesses[thread];
}

// arena.cpp: the machine root and its arena.
bool MapArena();  // sets the last error on failure
void UnmapArena();
int ReopenArenaFile();  // a second open file description of the mapped file, or -1
void LockKernel();      // repairs the arena when the previous holder died holding it
void UnlockKernel();    // delivering first the wakes queued meanwhile
void QueueWake(uint32_t thread);

// futex.cpp: futex words shared between processes.
struct FutexWatch {
    uint32_t* word;
    uint32_t expected;
};
// Blocks until one word is woken or differs from its expected value, or until the deadline
// (CLOCK_MONOTONIC; NULL waits forever). Returns the index of the woken word, or -1.
int WaitOnAnyFutex(const FutexWatch* watches, uint32_t count, const struct timespec* deadline);
void WakeFutex(uint32_t* word, int count);
bool HasVectoredFutexWait();

// The robust futex protocol of the kernel and glibc: a lock word holds the owner's thread id,
// FUTEX_WAITERS when someone sleeps on it, FUTEX_OWNER_DIED once the owner died holding it.
constexpr uint32_t kFutexWaiters = 0x80000000u;
constexpr uint32_t kFutexOwnerDied = 0x40000000u;
constexpr uint32_t kFutexTidMask = 0x3fffffffu;
// The futex word of a glibc mutex: its first int (__data.__lock).
uint32_t* LockWordOf(pthread_mutex_t* mutex);
bool IsLifeWordDead(uint32_t word);
// Sets FUTEX_WAITERS so that the owner's death wakes a sleeper; returns the word's value.
uint32_t WatchLifeWord(uint32_t* word);

// process.cpp: this process's slot and the liveness of the others.
bool AttachProcess();  // under g_attachLock; sets the last error on failure
bool IsProcessAlive(uint32_t process);
void SweepDeadProcesses();
extern pthread_mutex_t g_attachLock;  // serialises attaching, detaching and fork

// thread.cpp: thread slots.
uint32_t EnterKernel();  // the calling thread's slot, kernel locked; 0 with the last error set
void LeaveKernel();
bool IsThreadAlive(uint32_t thread);
void SweepDeadThreads();
void ReleaseCurrentThread();   // kernel locked: the caller gives up its slot
void InvalidateThreadSlots();  // every thread claims a new slot at its next call

// lifetime.cpp: death and the repair of the arena.
void ThreadDied(uint32_t thread);  // also an orderly exit: abandons, ends its wait, frees
void ProcessDied(uint32_t process);
void ReapDeadHolders(uint32_t object);
void RepairArena();

// names.cpp
struct ObjectName {
    uint32_t nameSpace;
    uint32_t uid;
    uint32_t length;
    const char16_t* chars;
};
DWORD ParseObjectName(LPCWSTR lpName, ObjectName* pName);  // ERROR_SUCCESS or the error
uint32_t FindNamedObject(const ObjectName& name);
void PublishName(uint32_t object, const ObjectName& name);
void WithdrawName(uint32_t object);
void RebuildNameDirectory();

// handles.cpp: the per-process handle table, guarded by the kernel lock too.
HANDLE InsertHandle(uint32_t object, DWORD access);  // NULL when the tables are full
// The object a handle names, checked for kind (kFreeObject accepts any) and access; 0 with the
// error in *pError otherwise.
uint32_t ResolveHandle(HANDLE hObject, uint32_t kind, DWORD access, DWORD* pError);
void ForgetAllHandles();  // after fork and on detach; the references are dropped elsewhere

// object.cpp: object slots, references, and the create and open paths of both kinds.
struct CreateRequest {
    uint32_t kind;
    DWORD access;
    LPSECURITY_ATTRIBUTES lpAttributes;
    LPCWSTR lpName;
    BOOL bInitialOwner;  // mutex
    BOOL bManualReset;   // event
    BOOL bInitialState;  // event
};
HANDLE CreateObject(const CreateRequest& request);
HANDLE OpenObject(uint32_t kind, DWORD dwDesiredAccess, LPCWSTR lpName);
bool AddReference(uint32_t object, uint32_t process);  // false when the table is full
void DropReference(uint32_t reference, uint32_t handles);
uint32_t FindReference(uint32_t object, uint32_t process);
void DestroyIfUnused(uint32_t object);
bool IsSignaledFor(uint32_t object, uint32_t thread);
bool AcquireFor(uint32_t object, uint32_t thread);  // returns whether it was abandoned

// mutex.cpp: the state of a mutex and the verbs that change it.
bool MutexSignaledFor(const ObjectSlot& mutex, uint32_t thread);
bool GrabMutex(uint32_t object, uint32_t thread);
void AbandonMutex(uint32_t object);
void DisownMutex(uint32_t object);  // the object is destroyed while owned
void InitialiseMutex(uint32_t object);

// event.cpp
void InitialiseEvent(uint32_t object, BOOL bManualReset, BOOL bInitialState);
bool EventSignaled(const ObjectSlot& event);
void ConsumeEvent(uint32_t object);

// wait.cpp: the wait queue and its grants.
void ObjectSignaled(uint32_t object);  // grants the waits that it now satisfies
void OwnerChanged(uint32_t object);    // waiters must watch the new owner's life
void EndWait(uint32_t thread);
void RebuildWaitQueue();

}  // namespace objects
