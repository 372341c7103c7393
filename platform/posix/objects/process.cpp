// Process slots and the liveness of processes.
//
// Each attached process holds an open-file-description lock (F_OFD_SETLK) on its own byte of the
// arena file, past the arena's end, through a file description of its own. The kernel drops the
// lock when the process dies by any means, so F_OFD_GETLK tells a live process from a dead one
// without polling, without a helper and regardless of pid reuse. The description must be our own
// (not the mapped one, which a fork child's mapping would keep alive), and a fork child closes
// its inherited copy at once, so that a child cannot keep its parent looking alive.
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "platform/posix/objects/internal.h"
#include "platform/posix/objects/testing.h"

namespace objects {

pthread_mutex_t g_attachLock = PTHREAD_MUTEX_INITIALIZER;

namespace {

pthread_once_t s_forkHandlersOnce = PTHREAD_ONCE_INIT;

off_t LivenessByte(uint32_t process)
{
    return static_cast<off_t>(sizeof(Arena) + process);
}

// A lock of the given type on the process's liveness byte.
struct flock LivenessLock(uint32_t process, short type)
{
    struct flock lock;
    memset(&lock, 0, sizeof(lock));
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = LivenessByte(process);
    lock.l_len = 1;
    return lock;
}

bool SetLivenessLock(uint32_t process, short type)
{
    struct flock lock = LivenessLock(process, type);
    return fcntl(g_machine.livenessFd, F_OFD_SETLK, &lock) == 0;
}

uint32_t ClaimProcessSlot()
{
    for (int pass = 0; pass < 2; pass++) {
        for (uint32_t p = 1; p < kProcessSlots; p++) {
            ProcessSlot& slot = TheArena().processes[p];
            if (slot.state == kSlotFree && SetLivenessLock(p, F_WRLCK)) {
                slot.state = kSlotLive;
                slot.generation++;
                slot.pid = getpid();
                slot.firstReference = 0;
                return p;
            }
        }
        SweepDeadProcesses();
    }
    return 0;
}

void PrepareFork()
{
    pthread_mutex_lock(&g_attachLock);
}

void ResumeParentAfterFork()
{
    pthread_mutex_unlock(&g_attachLock);
}

// Drops what ties this process to its slot: the lock byte, the slot, the handles, the threads'
// slots. The arena stays mapped.
void ForgetAttachment()
{
    if (g_machine.livenessFd >= 0) {
        close(g_machine.livenessFd);
        g_machine.livenessFd = -1;
    }
    g_machine.process = 0;
    ForgetAllHandles();
    InvalidateThreadSlots();
}

// The child is a new process: it must not act under its parent's slot, hold its parent's lock
// byte, or use handles whose references are counted for the parent. It attaches afresh at its
// first call, with an empty handle table.
void StartChildAfterFork()
{
    ForgetAttachment();
    pthread_mutex_unlock(&g_attachLock);
}

void InstallForkHandlers()
{
    pthread_atfork(PrepareFork, ResumeParentAfterFork, StartChildAfterFork);
}

}  // namespace

bool AttachProcess()
{
    pthread_once(&s_forkHandlersOnce, InstallForkHandlers);
    if (g_machine.arena == nullptr) {
        if (!HasVectoredFutexWait()) {
            SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
            return false;
        }
        if (!MapArena()) {
            return false;
        }
    }
    if (g_machine.livenessFd < 0) {
        g_machine.livenessFd = ReopenArenaFile();
        if (g_machine.livenessFd < 0) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
    }

    LockKernel();
    g_machine.process = ClaimProcessSlot();
    UnlockKernel();
    if (g_machine.process == 0) {
        SetLastError(ERROR_NO_SYSTEM_RESOURCES);
        return false;
    }
    return true;
}

bool IsProcessAlive(uint32_t process)
{
    if (process == g_machine.process) {
        return true;
    }
    struct flock lock = LivenessLock(process, F_WRLCK);
    if (fcntl(g_machine.livenessFd, F_OFD_GETLK, &lock) != 0) {
        return true;  // unknown: keeping a dead process's objects is the safe mistake
    }
    return lock.l_type != F_UNLCK;
}

void SweepDeadProcesses()
{
    for (uint32_t p = 1; p < kProcessSlots; p++) {
        if (TheArena().processes[p].state == kSlotLive && !IsProcessAlive(p)) {
            ProcessDied(p);
        }
    }
}

void ResetForTesting()
{
    pthread_mutex_lock(&g_attachLock);
    if (g_machine.arena != nullptr) {
        LockKernel();
        ReleaseCurrentThread();
        if (g_machine.process != 0) {
            uint32_t process = g_machine.process;
            ProcessDied(process);  // drops every reference this process holds
            SetLivenessLock(process, F_UNLCK);
        }
        UnlockKernel();
    }
    ForgetAttachment();
    UnmapArena();
    pthread_mutex_unlock(&g_attachLock);
}

}  // namespace objects
